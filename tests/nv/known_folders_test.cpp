#include "nv/known_folders.h"

#include <windows.h>
#include <knownfolders.h>
#include <objbase.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <memory>
#include <string>

#include <gtest/gtest.h>

namespace {

std::wstring shell_folder(REFKNOWNFOLDERID id) {
  wchar_t* raw = nullptr;
  const HRESULT hr = ::SHGetKnownFolderPath(id, 0x4000, nullptr, &raw);
  const std::unique_ptr<wchar_t, decltype(&::CoTaskMemFree)> owned(raw, &::CoTaskMemFree);
  EXPECT_TRUE(SUCCEEDED(hr));
  return owned ? std::wstring(owned.get()) : std::wstring();
}

bool same_path(const std::wstring& a, const std::wstring& b) {
  return ::lstrcmpiW(a.c_str(), b.c_str()) == 0;
}

TEST(KnownFolders, AgreeWithTheShellAndAddTheMakerFolder) {
  nv::resolve_known_folders();
  const std::wstring documents = shell_folder(FOLDERID_Documents);
  const std::wstring program_data = shell_folder(FOLDERID_ProgramData);
  const std::wstring roaming = shell_folder(FOLDERID_RoamingAppData);
  ASSERT_FALSE(documents.empty());
  ASSERT_FALSE(program_data.empty());
  ASSERT_FALSE(roaming.empty());

  EXPECT_TRUE(same_path(nv::documents_folder(), documents)) << nv::documents_folder();
  EXPECT_TRUE(same_path(nv::common_data_folder(), program_data + L"\\Nuvelle"))
      << nv::common_data_folder();
  EXPECT_TRUE(same_path(nv::user_data_folder(), roaming + L"\\Nuvelle")) << nv::user_data_folder();
  EXPECT_FALSE(same_path(nv::common_data_folder(), nv::user_data_folder()));

  // Resolved once: later calls hand out the same cached strings.
  const std::wstring* first = &nv::user_data_folder();
  nv::resolve_known_folders();
  EXPECT_EQ(first, &nv::user_data_folder());
}

}  // namespace
