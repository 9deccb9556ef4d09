#include "nv/product.h"

#include <stdexcept>

#include <gtest/gtest.h>

namespace {

TEST(Product, LabelsAndRegistryNames) {
  EXPECT_EQ(nv::product_label(true), L"Tessaline");
  EXPECT_EQ(nv::product_label(false), L"Tessaline 7.08v");
  EXPECT_EQ(nv::product_registry_name(0x0307), L"Tessaline 7");
  EXPECT_NE(nv::product_registry_name(0x0306), nv::product_registry_name(0x0307));
  for (unsigned unknown : {0u, 1u, 0x0308u, 0x0703u, 0xFFFFu}) {
    try {
      nv::product_registry_name(static_cast<nv::product_id>(unknown));
      ADD_FAILURE() << "no logic_error for " << unknown;
    } catch (const std::logic_error& error) {
      EXPECT_STREQ(error.what(), "logic error");
    }
  }
}

TEST(ProductVersion, ComparesFieldByFieldMostSignificantFirst) {
  const nv::ProductVersion installed = nv::make_version(0x00070008u, 0x00160001u);
  EXPECT_EQ(installed, 0x0007000800160001u);
  EXPECT_GT(nv::make_version(7, 8, 22, 2), installed);
  EXPECT_LT(nv::make_version(7, 8, 21, 9), installed);
  EXPECT_EQ(nv::make_version(7, 8, 21, 9), 0x0007000800150009u);
  EXPECT_GT(nv::make_version(7, 9, 0, 0), nv::make_version(7, 8, 0xFFFF, 0xFFFF));
  // High halves with the top bit set stay unsigned.
  EXPECT_EQ(nv::make_version(0xFFFF0001u, 0x80000000u), 0xFFFF000180000000u);
}

TEST(ProductVersion, DottedTextLabelAndHexForms) {
  EXPECT_EQ(nv::version_dotted(nv::product_version), L"7.8.22.1");
  EXPECT_EQ(nv::version_dotted(nv::make_version(65535, 0, 10, 100)), L"65535.0.10.100");
  EXPECT_EQ(nv::version_label(nv::product_version), L"7.08v");
  EXPECT_EQ(nv::version_label(nv::make_version(2, 4, 1, 1)), L"2.04a");
  EXPECT_EQ(nv::version_label(nv::make_version(10, 12, 26, 9)), L"10.12z");
  EXPECT_EQ(nv::version_label(nv::make_version(7, 8, 27, 0)), L"7.08aa");
  EXPECT_EQ(nv::version_label(nv::make_version(7, 8, 0, 3)), L"7.08");
  EXPECT_EQ(nv::version_hex(nv::product_version), L"0007000800160001");
  EXPECT_EQ(nv::version_hex(nv::make_version(0xABCD, 0, 0xEF, 1)), L"abcd000000ef0001");
}

}  // namespace
