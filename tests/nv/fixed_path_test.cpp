#include "nv/fixed_path.h"

#include <string>

#include <gtest/gtest.h>

namespace {

namespace fp = nv::fixed_path;

TEST(FixedPath, TakesPathsApartAndJoinsThem) {
  EXPECT_EQ(fp::append(L"C:\\Data", L"Nuvelle"), L"C:\\Data\\Nuvelle");
  EXPECT_EQ(fp::append(L"C:\\Data\\", L"\\Nuvelle"), L"C:\\Data\\Nuvelle");
  EXPECT_EQ(fp::combine(L"C:\\Data\\Sub", L"..\\Other\\f.txt"), L"C:\\Data\\Other\\f.txt");
  EXPECT_EQ(fp::combine(L"C:\\Data", L"D:\\Elsewhere"), L"D:\\Elsewhere");
  EXPECT_EQ(fp::remove_file_spec(L"C:\\Data\\f.txt"), L"C:\\Data");
  EXPECT_EQ(fp::remove_file_spec(L"C:\\"), L"C:\\");
  EXPECT_EQ(fp::file_name(L"C:\\Data\\f.txt"), L"f.txt");
  EXPECT_EQ(fp::file_name(L"f.txt"), L"f.txt");
  EXPECT_EQ(fp::add_backslash(L"C:\\Data"), L"C:\\Data\\");
  EXPECT_EQ(fp::add_backslash(L"C:\\Data\\"), L"C:\\Data\\");
  EXPECT_EQ(fp::remove_backslash(L"C:\\Data\\"), L"C:\\Data");
  EXPECT_EQ(fp::remove_backslash(L"C:\\"), L"C:\\");
}

TEST(FixedPath, CutsLongPathsAt259Characters) {
  const std::wstring long_path = L"C:\\" + std::wstring(400, L'a');
  EXPECT_EQ(fp::cut(long_path), long_path.substr(0, 259));
  EXPECT_EQ(fp::file_name(long_path), std::wstring(256, L'a'));
  EXPECT_EQ(fp::remove_backslash(long_path + L"\\"), long_path.substr(0, 259));
  // A join that does not fit in the buffer yields nothing rather than a silently cut path.
  EXPECT_EQ(fp::append(std::wstring(L"C:\\") + std::wstring(250, L'b'), std::wstring(20, L'c')),
            L"");
}

}  // namespace
