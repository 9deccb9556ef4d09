#include "nv/fixed_path.h"

#include <string>

#include <gtest/gtest.h>

namespace {

namespace fp = nv::fixed_path;

TEST(FixedPath, CutsLongPathsAt259Characters) {
  const std::wstring long_path = L"C:\\" + std::wstring(400, L'a');
  EXPECT_EQ(fp::cut(long_path), long_path.substr(0, 259));
  EXPECT_EQ(fp::file_name(long_path), std::wstring(256, L'a'));
  EXPECT_EQ(fp::remove_file_spec(long_path + L"\\f.txt"), L"C:\\");
  EXPECT_EQ(fp::remove_backslash(long_path + L"\\"), long_path.substr(0, 259));
  EXPECT_EQ(fp::add_backslash(L"C:\\Data"), L"C:\\Data\\");
  EXPECT_EQ(fp::combine(L"C:\\Data\\Sub", L"..\\f.txt"), L"C:\\Data\\f.txt");
  // A join that does not fit yields nothing rather than a silently cut path.
  EXPECT_EQ(fp::append(L"C:\\" + std::wstring(250, L'b'), std::wstring(20, L'c')), L"");
  EXPECT_EQ(fp::append(L"C:\\Data\\", L"\\Nuvelle"), L"C:\\Data\\Nuvelle");
}

}  // namespace
