#include "engine/compress_error.h"

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
