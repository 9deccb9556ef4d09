#include "nv/resource_data.h"

#include <windows.h>

#include <filesystem>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

namespace {

constexpr WORD data_type = 260;
constexpr WORD data_name = 134;

// The language module the tests hand to the library, as the application would.
HMODULE current_language = nullptr;
HMODULE language_source() { return current_language; }

std::string_view text(std::span<const std::byte> data) {
  return {reinterpret_cast<const char*>(data.data()), data.size()};
}

// Fixture modules are built beside the test program; they are loaded as data only.
class ResourceData : public ::testing::Test {
 protected:
  static HMODULE load_fixture(const wchar_t* file) {
    wchar_t self[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    const auto path = std::filesystem::path(self).parent_path() / file;
    const HMODULE module = ::LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    EXPECT_NE(module, nullptr) << path;
    return module;
  }
  void TearDown() override {
    nv::set_resource_module_source(nullptr);
    if (current_language) ::FreeLibrary(current_language);
    current_language = nullptr;
  }
};

TEST_F(ResourceData, LanguageModuleFirstThenTheExecutable) {
  // No language module: the executable's own resource.
  EXPECT_EQ(text(nv::find_resource_data(data_type, data_name)), "executable");

  // A source installed but no module loaded yet still means the executable.
  nv::set_resource_module_source(&language_source);
  EXPECT_EQ(text(nv::find_resource_data(data_type, data_name)), "executable");

  // A language module that has the resource wins, and its bytes are those of its image.
  current_language = load_fixture(L"nv_fixture_language_resource.dll");
  ASSERT_NE(current_language, nullptr);
  EXPECT_EQ(text(nv::find_resource_data(data_type, data_name)), "language module");
  EXPECT_EQ(text(nv::find_resource_data(MAKEINTRESOURCEW(data_type), MAKEINTRESOURCEW(data_name))),
            "language module");
  ::FreeLibrary(current_language);

  // One that lacks it falls back to the executable.
  current_language = load_fixture(L"nv_fixture_no_resource.dll");
  ASSERT_NE(current_language, nullptr);
  const auto fallback = nv::find_resource_data(data_type, data_name);
  EXPECT_EQ(text(fallback), "executable");
  const HRSRC own = ::FindResourceW(nullptr, MAKEINTRESOURCEW(data_name), MAKEINTRESOURCEW(data_type));
  ASSERT_NE(own, nullptr);
  EXPECT_EQ(static_cast<const void*>(fallback.data()), ::LockResource(::LoadResource(nullptr, own)));
}

TEST_F(ResourceData, MissingEverywhereIsEmpty) {
  EXPECT_TRUE(nv::find_resource_data(data_type, data_name + 1).empty());
  EXPECT_TRUE(nv::find_resource_data(data_type + 1, data_name).empty());
  EXPECT_TRUE(nv::find_resource_data(L"NO_SUCH_TYPE", L"NO_SUCH_NAME").empty());

  current_language = load_fixture(L"nv_fixture_language_resource.dll");
  ASSERT_NE(current_language, nullptr);
  nv::set_resource_module_source(&language_source);
  EXPECT_TRUE(nv::find_resource_data(data_type, data_name + 1).empty());
  EXPECT_TRUE(nv::find_resource_data(data_type + 1, data_name).empty());
}

}  // namespace
