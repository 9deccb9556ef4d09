#include "nv/fatal_error.h"

#include <memory>
#include <tuple>
#include <utility>

#include "nv/own_executable.h"

namespace nv {
namespace {

constexpr DWORD kFail = 0x80004005;  // E_FAIL
constexpr LONG kLayoutRtl = 0x00400000;  // WS_EX_LAYOUTRTL
constexpr UINT kRtlReading = 0x00100000;  // MB_RTLREADING

thread_local bool t_english_texts = false;

struct local_free {
  void operator()(wchar_t* p) const noexcept { ::LocalFree(p); }
};

std::wstring system_text(DWORD code, LANGID language = 0) {
  wchar_t* raw = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
      nullptr, code, language, reinterpret_cast<wchar_t*>(&raw), 0, nullptr);
  std::unique_ptr<wchar_t, local_free> buffer(raw);
  if (length == 0 || !buffer) return {};
  std::wstring text(buffer.get(), length);
  while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n')) text.pop_back();
  return text;
}

message_box_display& display_slot() {
  static message_box_display display;
  return display;
}

}  // namespace

english_error_texts::english_error_texts() noexcept
    : was_(std::exchange(t_english_texts, true)) {}
english_error_texts::~english_error_texts() { t_english_texts = was_; }

std::wstring error_text(DWORD code) {
  std::wstring text =
      t_english_texts ? system_message(code, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US))
                      : system_text(code);
  if (!text.empty()) return text;
  if (code == kFail) return L"Error";
  return error_text(kFail);
}

std::wstring system_message(DWORD code, LANGID language) {
  std::wstring text = system_text(code, language);
  // The system has no text in that language: its own choice of language.
  if (text.empty() && language != 0) text = system_text(code);
  return text;
}

message_box_providers& box_providers() { return ui_providers(); }

message_box_display set_message_box_display(message_box_display display) {
  return std::exchange(display_slot(), std::move(display));
}

std::wstring executable_stem() {
  const std::wstring path = own_executable_path();
  if (path.empty()) return {};
  const auto slash = path.find_last_of(L"\\/");
  std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
  const auto dot = name.rfind(L'.');
  if (dot != std::wstring::npos && dot != 0) name.resize(dot);
  return name;
}

int message_box(const std::wstring& text, UINT type) {
  const message_box_providers& providers = box_providers();
  HWND owner = nullptr;
  HWND top_level = nullptr;
  if (providers.owner_window) std::tie(owner, top_level) = providers.owner_window();

  if (providers.modal_state) providers.modal_state(false);
  if (owner && owner != top_level) ::EnableWindow(owner, TRUE);

  if (owner) {
    if (::GetWindowLongW(owner, GWL_EXSTYLE) & kLayoutRtl) type |= kRtlReading;
  } else if (providers.default_language_rtl && providers.default_language_rtl()) {
    type |= kRtlReading;
  }

  const std::wstring caption =
      providers.application_name ? providers.application_name() : executable_stem();

  const message_box_request request{owner, text, caption, type};
  const message_box_display& display = display_slot();
  const int result = display ? display(request)
                             : ::MessageBoxW(owner, text.c_str(), caption.c_str(), type);

  if (top_level) ::EnableWindow(top_level, TRUE);
  if (providers.modal_state) providers.modal_state(true);
  return result;
}

void show_error_message(DWORD code) { message_box(error_text(code), MB_OK | MB_ICONEXCLAMATION); }

}  // namespace nv
