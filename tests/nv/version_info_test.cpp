#include "nv/version_info.h"

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include <gtest/gtest.h>

#include "nv/product.h"
#include "product_test_support.h"

namespace {

std::wstring fixture(const wchar_t* name) { return (nv_test::program_folder() / name).wstring(); }

// Sets the current language for the life of the object.
class language_scope {
 public:
  explicit language_scope(nv::lcid_source source) { nv::set_current_lcid_source(source); }
  ~language_scope() { nv::set_current_lcid_source(nullptr); }
  language_scope(const language_scope&) = delete;
  language_scope& operator=(const language_scope&) = delete;
};

LCID french_france() { return 0x040C; }
LCID french_belgium() { return 0x080C; }
LCID german() { return 0x0407; }

TEST(VersionInfo, OwnResourceIsReadInPlace) {
  const nv::version_info own;
  ASSERT_TRUE(own.has_fixed_info());
  EXPECT_EQ(own.file_version(), nv::make_version(2, 4, 1, 1));
  EXPECT_EQ(own.translations(), std::vector<std::wstring>{L"040004b0"});
  EXPECT_EQ(own.product_name(), L"Install");
  EXPECT_EQ(own.product_version(), L"2.04a");
  EXPECT_EQ(own.legal_copyright(), L"\u00A9 Nuvelle. All rights reserved.");
  EXPECT_EQ(own.value(L"ApplicationId"), L"Tessaline7");
  EXPECT_EQ(own.value(L"NoSuchValue"), L"");
  EXPECT_EQ(own.file_flags(), 0u);
  EXPECT_EQ(own.version_text(), L"Install 2.04a");
  // The displayed version follows the label rule applied to the fixed version.
  EXPECT_EQ(nv::version_label(own.file_version()), own.product_version());

  // The copy read from the file agrees with the resource read in place.
  wchar_t self[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  const nv::version_info copy{std::wstring(self)};
  EXPECT_EQ(copy.file_version(), own.file_version());
  EXPECT_EQ(copy.value(L"ApplicationId"), L"Tessaline7");
  EXPECT_EQ(copy.version_text(), own.version_text());
}

TEST(VersionInfo, FileWithoutResourceOrMissingFile) {
  for (const std::wstring& path :
       {fixture(L"nv_fixture_no_resource.dll"), fixture(L"nv_fixture_does_not_exist.dll")}) {
    const nv::version_info info(path);
    EXPECT_FALSE(info.has_fixed_info()) << path;
    EXPECT_EQ(info.file_version(), 0u) << path;
    EXPECT_EQ(info.file_flags(), 0u) << path;
    EXPECT_TRUE(info.translations().empty()) << path;
    EXPECT_EQ(info.product_name(), L"") << path;
    EXPECT_EQ(info.version_text(), L"") << path;
  }
  ASSERT_TRUE(std::filesystem::exists(fixture(L"nv_fixture_no_resource.dll")));
}

TEST(VersionInfo, AnsiOnlyTranslationGivesEmptyStringsButAFileVersion) {
  const nv::version_info info(fixture(L"nv_fixture_codepage_1252.dll"));
  ASSERT_TRUE(info.has_fixed_info());
  // The file version, not the product version (9.9.9.9).
  EXPECT_EQ(info.file_version(), nv::make_version(1, 2, 3, 4));
  EXPECT_TRUE(info.translations().empty());
  EXPECT_EQ(info.product_name(), L"");
  EXPECT_EQ(info.product_version(), L"");
  EXPECT_EQ(info.version_text(), L"");
}

TEST(VersionInfo, ValuesComeFromTheFirstUnicodeTranslation) {
  const nv::version_info info(fixture(L"nv_fixture_mixed_translations.dll"));
  EXPECT_EQ(info.translations(), (std::vector<std::wstring>{L"040704b0", L"040c04b0"}));
  EXPECT_EQ(info.product_name(), L"German Block");
  EXPECT_EQ(info.legal_copyright(), L"Copyright \u00A9 Nuvelle");
  // Only the French block has a product version; it is not consulted.
  EXPECT_EQ(info.product_version(), L"");
  EXPECT_EQ(info.version_text(), L"German Block");
  EXPECT_EQ(info.file_version(), nv::make_version(3, 1, 0, 7));
}

TEST(VersionInfo, PrereleaseTextDependsOnTheLanguage) {
  const nv::version_info info(fixture(L"nv_fixture_prerelease.dll"));
  ASSERT_TRUE(info.has_fixed_info());
  EXPECT_EQ(info.file_flags(), static_cast<std::uint32_t>(VS_FF_PRERELEASE));
  EXPECT_EQ(info.product_version(), L"7.09 b\u00EAta");
  EXPECT_EQ(info.legal_copyright(), L"\u00A9 Nuvelle");

  // English by default, before the language module installs its source.
  EXPECT_EQ(info.version_text(), L"Tessaline 7.09 beta");
  {
    const language_scope scope(german);
    EXPECT_EQ(info.version_text(), L"Tessaline 7.09 beta");
  }
  {
    const language_scope scope(french_france);
    EXPECT_EQ(info.version_text(), L"Tessaline 7.09 b\u00EAta");
  }
  {
    // Any French sublanguage keeps the accent.
    const language_scope scope(french_belgium);
    EXPECT_EQ(info.version_text(), L"Tessaline 7.09 b\u00EAta");
  }
}

TEST(VersionInfo, PrivateAndDebugBuildsAreMarked) {
  const nv::version_info all(fixture(L"nv_fixture_private_debug.dll"));
  EXPECT_EQ(all.file_flags(), 0xBu);
  // Only the last "bêta" is replaced; the marks follow in the order private, debug.
  EXPECT_EQ(all.version_text(),
            L"Probe b\u00EAta 1.00 beta \u2013 Private \u2013 Debug");

  // Flags outside the mask do not count.
  const nv::version_info masked(fixture(L"nv_fixture_masked_flags.dll"));
  EXPECT_EQ(masked.file_flags(), static_cast<std::uint32_t>(VS_FF_PRIVATEBUILD));
  EXPECT_EQ(masked.version_text(), L"Probe b\u00EAta 1.00 b\u00EAta \u2013 Private");
}

// Runs a probe program and returns its report lines: application identifier before and after
// initialisation, own version text.
std::vector<std::wstring> run_probe(const wchar_t* program) {
  const nv_test::temp_folder folder;
  const std::wstring report = (folder.path() / L"report.txt").wstring();
  std::wstring command = L"\"" + fixture(program) + L"\" \"" + report + L"\"";

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
    ADD_FAILURE() << "cannot start " << std::filesystem::path(program).string() << ": "
                  << ::GetLastError();
    return {};
  }
  const auto close = [](HANDLE h) { ::CloseHandle(h); };
  const std::unique_ptr<void, decltype(close)> process_handle(process.hProcess, close);
  const std::unique_ptr<void, decltype(close)> thread_handle(process.hThread, close);
  EXPECT_EQ(::WaitForSingleObject(process.hProcess, 60000), WAIT_OBJECT_0);
  DWORD exit_code = 1;
  ::GetExitCodeProcess(process.hProcess, &exit_code);
  EXPECT_EQ(exit_code, 0u);

  std::ifstream in(std::filesystem::path(report), std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()),
                          bytes.size() / sizeof(wchar_t));
  std::vector<std::wstring> lines;
  for (size_t start = 0, end; (end = text.find(L'\n', start)) != std::wstring::npos;
       start = end + 1)
    lines.push_back(text.substr(start, end - start));
  return lines;
}

TEST(VersionInfo, ApplicationIdFromTheApplicationIdValue) {
  const auto lines = run_probe(L"nv_fixture_probe_application_id.exe");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], L"") << "set before the start-up";
  EXPECT_EQ(lines[1], L"ProbeApp9");
  EXPECT_EQ(lines[2], L"Probe Product 1.00");
}

TEST(VersionInfo, ApplicationIdFromTheProductName) {
  const auto lines = run_probe(L"nv_fixture_probe_product_name.exe");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], L"");
  EXPECT_EQ(lines[1], L"Probe Product");
}

TEST(VersionInfo, ApplicationIdFromTheProgramFileStem) {
  const auto lines = run_probe(L"Setup.beta.exe");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], L"");
  EXPECT_EQ(lines[1], L"Setup.beta");
  EXPECT_EQ(lines[2], L"");
}

TEST(VersionInfo, ApplicationIdStemRules) {
  const nv::version_info none(fixture(L"nv_fixture_no_resource.dll"));
  EXPECT_EQ(nv::derive_application_id(none, L"C:\\Folder.d\\Setup.beta.exe"), L"Setup.beta");
  EXPECT_EQ(nv::derive_application_id(none, L"C:\\Folder.d\\Install"), L"Install");
  EXPECT_EQ(nv::derive_application_id(none, L"."), L".");
  EXPECT_EQ(nv::derive_application_id(none, L".."), L"..");
  // A resource with a product name but no identifier.
  const nv::version_info named(fixture(L"nv_fixture_prerelease.dll"));
  EXPECT_EQ(nv::derive_application_id(named, L"C:\\Setup.exe"), L"Tessaline");
}

TEST(VersionInfo, ApplicationIdOfThisProgramIsSetOnce) {
  nv::initialize_application_id();
  EXPECT_EQ(nv::application_id(), L"Tessaline7");
  const std::wstring* first = &nv::application_id();
  nv::initialize_application_id();
  EXPECT_EQ(&nv::application_id(), first);
  EXPECT_EQ(nv::application_id(), L"Tessaline7");
}

}  // namespace
