#include "nv/product.h"

#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

namespace {

TEST(Product, LabelsWithAndWithoutVersion) {
  EXPECT_EQ(nv::product_label(true), L"Tessaline");
  EXPECT_EQ(nv::product_label(false), L"Tessaline 7.08v");
}

TEST(Product, RegistryNameOfKnownAndUnknownIdentifiers) {
  EXPECT_EQ(nv::product_registry_name(0x0307), L"Tessaline 7");
  EXPECT_EQ(nv::product_registry_name(0x0307).size(), 11u);
  // Other products of the family have their own rows.
  EXPECT_NE(nv::product_registry_name(0x0306), nv::product_registry_name(0x0307));
  for (nv::product_id unknown : {nv::product_id{0}, nv::product_id{1}, nv::product_id{0x0308},
                                 nv::product_id{0x0703}, nv::product_id{0xFFFF}}) {
    try {
      nv::product_registry_name(unknown);
      ADD_FAILURE() << "no logic_error for " << unknown;
    } catch (const std::logic_error& error) {
      EXPECT_STREQ(error.what(), "logic error") << unknown;
    }
  }
}

TEST(ProductVersion, ComparesFieldByFieldMostSignificantFirst) {
  const nv::ProductVersion installed = 0x0007000800160001;
  EXPECT_GT(nv::make_version(7, 8, 22, 2), installed);
  EXPECT_LT(nv::make_version(7, 8, 21, 9), installed);
  EXPECT_EQ(nv::make_version(7, 8, 21, 9), 0x0007000800150009u);
  // A higher field wins over every lower one, even when those are at their maximum.
  EXPECT_GT(nv::make_version(7, 9, 0, 0), nv::make_version(7, 8, 0xFFFF, 0xFFFF));
  EXPECT_GT(nv::make_version(8, 0, 0, 0), nv::make_version(7, 0xFFFF, 0xFFFF, 0xFFFF));
  EXPECT_GT(nv::make_version(7, 8, 22, 1), nv::make_version(7, 8, 22, 0));
}

TEST(ProductVersion, BuiltFromTheFixedFileVersionHalves) {
  const nv::ProductVersion v = nv::make_version(0x00070008u, 0x00160001u);
  EXPECT_EQ(v, nv::product_version);
  EXPECT_EQ(nv::version_major(v), 7);
  EXPECT_EQ(nv::version_minor(v), 8);
  EXPECT_EQ(nv::version_build(v), 22);
  EXPECT_EQ(nv::version_revision(v), 1);
  // The high half must not be sign-extended or truncated.
  EXPECT_EQ(nv::make_version(0xFFFF0001u, 0x80000000u), 0xFFFF000180000000u);
}

TEST(ProductVersion, DottedTextLabelAndHexForms) {
  EXPECT_EQ(nv::version_dotted(nv::product_version), nv::product_version_text);
  EXPECT_EQ(nv::version_label(nv::product_version), nv::product_version_label);
  EXPECT_EQ(nv::version_dotted(0x0007000800160001), L"7.8.22.1");
  EXPECT_EQ(nv::version_dotted(nv::make_version(65535, 0, 10, 100)), L"65535.0.10.100");

  EXPECT_EQ(nv::version_label(nv::make_version(7, 8, 22, 1)), L"7.08v");
  EXPECT_EQ(nv::version_label(nv::make_version(2, 4, 1, 1)), L"2.04a");
  EXPECT_EQ(nv::version_label(nv::make_version(7, 12, 26, 0)), L"7.12z");
  EXPECT_EQ(nv::version_label(nv::make_version(10, 0, 2, 9)), L"10.00b");
  EXPECT_EQ(nv::version_label(nv::make_version(7, 8, 27, 0)), L"7.08aa");
  EXPECT_EQ(nv::version_label(nv::make_version(7, 8, 0, 3)), L"7.08");
  // The revision never shows.
  EXPECT_EQ(nv::version_label(nv::make_version(7, 8, 22, 2)),
            nv::version_label(nv::make_version(7, 8, 22, 1)));

  EXPECT_EQ(nv::version_hex(nv::product_version), L"0007000800160001");
  EXPECT_EQ(nv::version_hex(nv::make_version(0xABCD, 0, 0xEF, 1)), L"abcd000000ef0001");
  EXPECT_EQ(nv::version_hex(0), L"0000000000000000");
}

}  // namespace
