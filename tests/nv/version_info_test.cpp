#include "nv/version_info.h"

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "product_test_support.h"

namespace {

// Fixture modules are built beside the test program.
std::wstring fixture(const wchar_t* name) {
  wchar_t self[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  return (std::filesystem::path(self).parent_path() / name).wstring();
}

LCID belgian_french() { return 0x080C; }

TEST(VersionInfo, OwnResourceReadInPlaceAgreesWithTheFileCopy) {
  const nv::version_info own;
  ASSERT_TRUE(own.has_fixed_info());
  EXPECT_EQ(own.file_version(), nv::make_version(2, 4, 1, 1));
  EXPECT_EQ(own.translations(), std::vector<std::wstring>{L"040004b0"});
  EXPECT_EQ(own.legal_copyright(), L"\u00A9 Nuvelle. All rights reserved.");
  EXPECT_EQ(own.version_text(), L"Install 2.04a");
  EXPECT_EQ(nv::version_label(own.file_version()), own.product_version());
  EXPECT_EQ(own.value(L"NoSuchValue"), L"");
  // The installer's resource, value by value.
  EXPECT_EQ(own.product_name(), L"Install");
  EXPECT_EQ(own.value(L"FileVersion"), L"2.4.1.1");
  EXPECT_EQ(own.value(L"FileDescription"), L"Installeur Tessaline 7.08v");
  EXPECT_EQ(own.value(L"CompanyName"), L"Nuvelle");
  EXPECT_EQ(own.value(L"InternalName"), L"Install");
  EXPECT_EQ(own.value(L"OriginalFilename"), L"InstallTessaline7.08v.exe");
  EXPECT_EQ(own.value(L"ApplicationId"), L"Tessaline7");
  EXPECT_EQ(own.file_flags(), 0u);

  const nv::version_info copy(fixture(L"nv_product_tests.exe"));
  EXPECT_EQ(copy.file_version(), own.file_version());
  EXPECT_EQ(copy.value(L"ApplicationId"), L"Tessaline7");
}

TEST(VersionInfo, FixtureFiles) {
  struct expected {
    const wchar_t* file;
    nv::ProductVersion version;
    std::uint32_t flags;
    const wchar_t* english_text;
    const wchar_t* french_text;
  };
  const expected cases[] = {
      {L"nv_fixture_no_resource.dll", 0, 0, L"", L""},
      {L"nv_fixture_does_not_exist.dll", 0, 0, L"", L""},
      // An ANSI translation only: no strings, but the file (not the product) version.
      {L"nv_fixture_codepage_1252.dll", nv::make_version(1, 2, 3, 4), 0, L"", L""},
      // Strings come from the first UTF-16 translation, even when it lacks a value.
      {L"nv_fixture_mixed_translations.dll", nv::make_version(3, 1, 0, 7), 0, L"German Block",
       L"German Block"},
      {L"nv_fixture_prerelease.dll", nv::make_version(7, 9, 1, 0), VS_FF_PRERELEASE,
       L"Tessaline 7.09 beta", L"Tessaline 7.09 b\u00EAta"},
      // Only the last "bêta" changes; private comes before debug.
      {L"nv_fixture_private_debug.dll", nv::make_version(1, 0, 2, 0), 0xB,
       L"Probe b\u00EAta 1.00 beta \u2013 Private \u2013 Debug",
       L"Probe b\u00EAta 1.00 b\u00EAta \u2013 Private \u2013 Debug"},
      // Flags outside the mask do not count.
      {L"nv_fixture_masked_flags.dll", nv::make_version(1, 0, 2, 0), VS_FF_PRIVATEBUILD,
       L"Probe b\u00EAta 1.00 b\u00EAta \u2013 Private",
       L"Probe b\u00EAta 1.00 b\u00EAta \u2013 Private"},
  };
  for (const expected& c : cases) {
    SCOPED_TRACE(std::filesystem::path(c.file).string());
    const nv::version_info info(fixture(c.file));
    EXPECT_EQ(info.has_fixed_info(), c.version != 0);
    EXPECT_EQ(info.file_version(), c.version);
    EXPECT_EQ(info.file_flags(), c.flags);
    EXPECT_EQ(info.version_text(), c.english_text);
    nv::set_current_lcid_source(belgian_french);
    EXPECT_EQ(info.version_text(), c.french_text);
    nv::set_current_lcid_source(nullptr);
  }
  ASSERT_TRUE(std::filesystem::exists(fixture(L"nv_fixture_no_resource.dll")));

  const nv::version_info mixed(fixture(L"nv_fixture_mixed_translations.dll"));
  EXPECT_EQ(mixed.translations(), (std::vector<std::wstring>{L"040704b0", L"040c04b0"}));
  EXPECT_EQ(mixed.legal_copyright(), L"Copyright \u00A9 Nuvelle");
}

// Runs a probe program; its report lines are the application identifier before and after the
// start-up sets it, and its own version text.
std::vector<std::wstring> run_probe(const wchar_t* program) {
  const nv_test::temp_folder folder;
  const std::filesystem::path report = folder.path() / L"report.txt";
  std::wstring command = L"\"" + fixture(program) + L"\" \"" + report.wstring() + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
    return {L"cannot start, error " + std::to_wstring(::GetLastError())};
  const auto close = [](HANDLE h) { ::CloseHandle(h); };
  const std::unique_ptr<void, decltype(close)> owned_process(process.hProcess, close);
  const std::unique_ptr<void, decltype(close)> owned_thread(process.hThread, close);
  ::WaitForSingleObject(process.hProcess, 60000);

  std::ifstream in(report, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2);
  std::vector<std::wstring> lines;
  for (size_t start = 0, end; (end = text.find(L'\n', start)) != std::wstring::npos;
       start = end + 1)
    lines.push_back(text.substr(start, end - start));
  return lines;
}

TEST(VersionInfo, ApplicationIdOfAProgram) {
  using lines = std::vector<std::wstring>;
  EXPECT_EQ(run_probe(L"nv_fixture_probe_application_id.exe"),
            (lines{L"", L"ProbeApp9", L"Probe Product 1.00"}));
  EXPECT_EQ(run_probe(L"nv_fixture_probe_product_name.exe"),
            (lines{L"", L"Probe Product", L"Probe Product"}));
  EXPECT_EQ(run_probe(L"Setup.beta.exe"), (lines{L"", L"Setup.beta", L""}));

  const nv::version_info none(fixture(L"nv_fixture_no_resource.dll"));
  EXPECT_EQ(nv::derive_application_id(none, L"C:\\Folder.d\\Install"), L"Install");
  EXPECT_EQ(nv::derive_application_id(none, L".."), L"..");

  nv::initialize_application_id();
  EXPECT_EQ(nv::application_id(), L"Tessaline7");
}

}  // namespace
