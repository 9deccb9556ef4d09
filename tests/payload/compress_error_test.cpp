#include "payload/compress_error.h"

#include <future>

#include <gtest/gtest.h>

namespace {

TEST(CompressCategory, NamesAndMessagesAreTheInstallersOwn) {
  const auto& cat = engine::compress_category();
  EXPECT_STREQ(cat.name(), "compress");
  EXPECT_EQ(cat.message(3), "invalid checksum");
  EXPECT_EQ(cat.message(4), "unknown error");
  EXPECT_EQ(cat.message(5), "interrupted");
  EXPECT_EQ(cat.message(6), "bzip2 error");
  EXPECT_EQ(cat.message(7), "unexpected error");
  for (int unused : {0, 1, 2, 8, -1}) EXPECT_EQ(cat.message(unused), "unknown error") << unused;
}

TEST(CompressCategory, EnumConvertsToCodeOfItsCategory) {
  std::error_code ec = engine::compress_errc::bzip2_failure;
  EXPECT_EQ(ec.value(), 6);
  EXPECT_EQ(&ec.category(), &engine::compress_category());
  EXPECT_NE(ec, std::error_code(6, std::system_category()));
}

}  // namespace

#include "payload/error_code_text.h"

namespace {

TEST(ErrorCodeText, EachCategoryHasItsOwnForm) {
  using engine::error_code_text;
  EXPECT_EQ(error_code_text({32, std::system_category()}), L"1:00000020");
  EXPECT_EQ(error_code_text({0x70, std::system_category()}), L"1:00000070");
  EXPECT_EQ(error_code_text({static_cast<int>(0x8000FFFF), std::system_category()}), L"1:8000FFFF");
  EXPECT_EQ(error_code_text({28, std::generic_category()}), L"2:0000001C");
  EXPECT_EQ(error_code_text(engine::compress_errc::invalid_checksum), L"3");
  EXPECT_EQ(error_code_text(engine::compress_errc::unexpected), L"7");
  EXPECT_EQ(error_code_text(std::make_error_code(std::future_errc::no_state)), L"7");
}

}  // namespace
