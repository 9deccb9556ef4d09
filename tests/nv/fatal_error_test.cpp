#include "nv/fatal_error.h"
#include "nv/processor_check.h"
#include "wine.h"

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

constexpr DWORD kFail = 0x80004005;
constexpr DWORD kUnexpected = 0x8000FFFF;
constexpr UINT kRtl = 0x00100000;

// ---- error_text ---------------------------------------------------------------------------------

TEST(ErrorText, KnownCodesHaveNonEmptyTextWithoutTrailingLineBreaks) {
  for (DWORD code : {DWORD{ERROR_ACCESS_DENIED}, DWORD{ERROR_BUSY}, DWORD{ERROR_FILE_NOT_FOUND},
                     kFail, DWORD{0x80070005}}) {
    const std::wstring text = nv::error_text(code);
    ASSERT_FALSE(text.empty()) << code;
    EXPECT_NE(text.back(), L'\n') << code;
    EXPECT_NE(text.back(), L'\r') << code;
  }
}

TEST(ErrorText, MatchesTheSystemTextWithoutTrailingLineBreaks) {
  wchar_t buffer[512] = {};
  const DWORD n = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, ERROR_ACCESS_DENIED, 0, buffer, 512, nullptr);
  ASSERT_GT(n, 0u);
  std::wstring expected(buffer, n);
  while (!expected.empty() && (expected.back() == L'\n' || expected.back() == L'\r'))
    expected.pop_back();
  EXPECT_EQ(nv::error_text(ERROR_ACCESS_DENIED), expected);
}

TEST(ErrorText, CodeWithoutSystemTextFallsBackToTheTextOfEFail) {
  // A code no system has a message for.
  const DWORD unknown = 0xA0DEBEEF;
  wchar_t buffer[16];
  ASSERT_EQ(::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             unknown, 0, buffer, 16, nullptr),
            0u);
  const std::wstring fallback = nv::error_text(unknown);
  EXPECT_FALSE(fallback.empty());
  EXPECT_EQ(fallback, nv::error_text(kFail));
}

TEST(ErrorText, UnexpectedFailureIsNeverEmpty) {
  const std::wstring text = nv::error_text(kUnexpected);
  ASSERT_FALSE(text.empty());
  if (nv_testing::running_under_wine()) {
    // Wine has no message for this code, so the fallback chain gives E_FAIL's text.
    EXPECT_EQ(text, nv::error_text(kFail));
  }
}

TEST(ErrorText, EFailWithoutSystemTextIsError) {
  wchar_t buffer[512];
  const DWORD n = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, kFail, 0, buffer, 512, nullptr);
  if (n != 0) GTEST_SKIP() << "this system has a message for E_FAIL";
  EXPECT_EQ(nv::error_text(kFail), L"Error");
}

// ---- message_box --------------------------------------------------------------------------------

// Installs a display that records requests, and clears the providers; restores both afterwards.
class MessageBoxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_providers_ = nv::box_providers();
    nv::box_providers() = {};
    saved_display_ = nv::set_message_box_display([this](const nv::message_box_request& r) {
      requests_.push_back(r);
      return answer_;
    });
  }
  void TearDown() override {
    nv::set_message_box_display(saved_display_);
    nv::box_providers() = saved_providers_;
    for (HWND w : windows_) ::DestroyWindow(w);
  }

  HWND make_window(DWORD ex_style, HWND parent = nullptr) {
    HWND w = ::CreateWindowExW(ex_style, L"STATIC", L"owner", parent ? WS_CHILD : WS_POPUP, 0, 0,
                               10, 10, parent, nullptr, ::GetModuleHandleW(nullptr), nullptr);
    if (w) windows_.insert(windows_.begin(), w);
    return w;
  }

  std::vector<nv::message_box_request> requests_;
  int answer_ = IDOK;
  std::vector<HWND> windows_;

 private:
  nv::message_box_providers saved_providers_;
  nv::message_box_display saved_display_;
};

TEST_F(MessageBoxTest, WithoutProvidersHasNoOwnerAndTheExecutableStemAsCaption) {
  answer_ = IDCANCEL;
  EXPECT_EQ(nv::message_box(L"hello", MB_OKCANCEL), IDCANCEL);
  ASSERT_EQ(requests_.size(), 1u);
  EXPECT_EQ(requests_[0].owner, nullptr);
  EXPECT_EQ(requests_[0].text, L"hello");
  EXPECT_EQ(requests_[0].type, UINT{MB_OKCANCEL});
  EXPECT_EQ(requests_[0].caption, nv::executable_stem());
  EXPECT_EQ(_wcsicmp(requests_[0].caption.c_str(), L"nv_fatal_error_tests"), 0)
      << std::string(requests_[0].caption.begin(), requests_[0].caption.end());
}

TEST_F(MessageBoxTest, CaptionComesFromTheApplicationNameProvider) {
  nv::box_providers().application_name = [] { return std::wstring(L"Tessaline Setup"); };
  nv::message_box(L"x", MB_OK);
  ASSERT_EQ(requests_.size(), 1u);
  EXPECT_EQ(requests_[0].caption, L"Tessaline Setup");
}

TEST_F(MessageBoxTest, NoOwnerAddsRtlReadingOnlyForARightToLeftDefaultLanguage) {
  bool rtl = false;
  nv::box_providers().default_language_rtl = [&] { return rtl; };
  nv::message_box(L"a", MB_OK | MB_ICONEXCLAMATION);
  rtl = true;
  nv::message_box(L"b", MB_OK | MB_ICONEXCLAMATION);
  ASSERT_EQ(requests_.size(), 2u);
  EXPECT_EQ(requests_[0].type, UINT{MB_OK | MB_ICONEXCLAMATION});
  EXPECT_EQ(requests_[1].type, UINT{MB_OK | MB_ICONEXCLAMATION} | kRtl);
}

TEST_F(MessageBoxTest, OwnerLayoutDecidesRtlReadingAndTheDefaultLanguageIsIgnored) {
  HWND ltr = make_window(0);
  HWND rtl = make_window(WS_EX_LAYOUTRTL);
  if (!ltr && nv_testing::running_under_wine())
    GTEST_SKIP() << "Wine creates no windows without a display; run the suite under Xvfb";
  ASSERT_NE(ltr, nullptr);
  ASSERT_NE(rtl, nullptr);
  ASSERT_NE(::GetWindowLongW(rtl, GWL_EXSTYLE) & WS_EX_LAYOUTRTL, 0);

  HWND owner = nullptr;
  bool language_rtl = true;
  nv::box_providers().owner_window = [&] { return std::make_pair(owner, HWND{}); };
  nv::box_providers().default_language_rtl = [&] { return language_rtl; };

  owner = ltr;  // left-to-right owner, right-to-left language: no flag
  nv::message_box(L"a", MB_OK);
  owner = rtl;  // right-to-left owner, left-to-right language: flag
  language_rtl = false;
  nv::message_box(L"b", MB_OK);

  ASSERT_EQ(requests_.size(), 2u);
  EXPECT_EQ(requests_[0].owner, ltr);
  EXPECT_EQ(requests_[0].type, UINT{MB_OK});
  EXPECT_EQ(requests_[1].owner, rtl);
  EXPECT_EQ(requests_[1].type, UINT{MB_OK} | kRtl);
}

TEST_F(MessageBoxTest, ModalStateAndTopLevelWindowAreRestoredAroundTheBox) {
  HWND top = make_window(0);
  HWND popup = make_window(0);
  if (!top && nv_testing::running_under_wine())
    GTEST_SKIP() << "Wine creates no windows without a display; run the suite under Xvfb";
  ASSERT_NE(top, nullptr);
  ASSERT_NE(popup, nullptr);
  ::EnableWindow(top, FALSE);
  ::EnableWindow(popup, FALSE);

  std::vector<bool> modal_calls;
  nv::box_providers().owner_window = [&] { return std::make_pair(popup, top); };
  nv::box_providers().modal_state = [&](bool enable) { modal_calls.push_back(enable); };
  std::optional<bool> popup_enabled_during_box;
  std::optional<bool> top_enabled_during_box;
  nv::set_message_box_display([&](const nv::message_box_request&) {
    popup_enabled_during_box = ::IsWindowEnabled(popup) != FALSE;
    top_enabled_during_box = ::IsWindowEnabled(top) != FALSE;
    EXPECT_EQ(modal_calls, std::vector<bool>{false});
    return IDOK;
  });

  EXPECT_EQ(nv::message_box(L"x", MB_OK), IDOK);
  EXPECT_EQ(popup_enabled_during_box, true);
  EXPECT_EQ(top_enabled_during_box, false);
  EXPECT_NE(::IsWindowEnabled(top), FALSE);
  EXPECT_EQ(modal_calls, (std::vector<bool>{false, true}));
}

TEST_F(MessageBoxTest, ShowErrorMessageShowsTheErrorTextWithAnExclamation) {
  nv::show_error_message(ERROR_BUSY);
  nv::show_error_message(kUnexpected);
  ASSERT_EQ(requests_.size(), 2u);
  EXPECT_EQ(requests_[0].text, nv::error_text(ERROR_BUSY));
  EXPECT_EQ(requests_[0].type, UINT{MB_OK | MB_ICONEXCLAMATION});
  EXPECT_FALSE(requests_[1].text.empty());
  EXPECT_EQ(requests_[1].text, nv::error_text(kUnexpected));
  EXPECT_EQ(requests_[1].owner, nullptr);
}

// ---- check_processor ----------------------------------------------------------------------------

class ProcessorCheckTest : public ::testing::Test {
 protected:
  void SetUp() override { nv::processor_supported = false; }
  void TearDown() override {
    nv::set_processor_check_ops({});
    nv::processor_supported = false;
  }
};

TEST_F(ProcessorCheckTest, ThisProcessorHasSse2AndPasses) {
  ASSERT_NE(::IsProcessorFeaturePresent(PF_XMMI64_INSTRUCTIONS_AVAILABLE), FALSE);
  nv::check_processor();  // real system calls: would end the process if it failed
  EXPECT_TRUE(nv::processor_supported);
}

TEST_F(ProcessorCheckTest, WithoutSse2ShowsTheFixedTextThenExitsWithOne) {
  std::vector<std::wstring> texts;
  std::vector<UINT> types;
  std::vector<UINT> exits;
  nv::processor_check_ops ops;
  ops.has_sse2 = [] { return false; };
  ops.show = [&](const std::wstring& text, UINT type) {
    EXPECT_TRUE(exits.empty()) << "the box comes before the exit";
    texts.push_back(text);
    types.push_back(type);
  };
  ops.exit = [&](UINT code) { exits.push_back(code); };
  nv::set_processor_check_ops(ops);

  nv::check_processor();

  EXPECT_FALSE(nv::processor_supported);
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0],
            L"This Version is not compatible with your Configuration.\n\n"
            L"Cette version n'est pas compatible avec votre configuration.\n\n"
            L"Diese Version ist nicht mit Ihrer Konfiguration kompatibel.");
  EXPECT_EQ(types[0], UINT{MB_ICONERROR});
  EXPECT_EQ(exits, std::vector<UINT>{1});
}

TEST_F(ProcessorCheckTest, WithSse2NeitherShowsNorExits) {
  int shown = 0;
  int exited = 0;
  nv::processor_check_ops ops;
  ops.has_sse2 = [] { return true; };
  ops.show = [&](const std::wstring&, UINT) { ++shown; };
  ops.exit = [&](UINT) { ++exited; };
  nv::set_processor_check_ops(ops);
  nv::check_processor();
  EXPECT_TRUE(nv::processor_supported);
  EXPECT_EQ(shown, 0);
  EXPECT_EQ(exited, 0);
}

}  // namespace
