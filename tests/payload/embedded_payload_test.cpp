// The demo payload embedded in this test program is found, verifies, and extracts to the bytes of
// the stand-in files it was packed from.
#include "payload/embedded_payload.h"

#include <windows.h>

#include <fstream>
#include <iterator>
#include <map>

#include <gtest/gtest.h>

#include "payload/payload_extractor.h"
#include "nv/product.h"
#include "nv/version_info.h"

namespace {

std::string read_all(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

TEST(EmbeddedPayload, DemoPayloadIsFoundVerifiedAndExtracted) {
  const auto bytes = engine::embedded_payload();
  ASSERT_FALSE(bytes.empty()) << "resource 260/134 not found in the test program";

  engine::byte_range_stream stream(bytes);
  ASSERT_TRUE(engine::verify_payload(stream));
  stream.clear();
  stream.seekg(0);

  wchar_t temp[MAX_PATH];
  ASSERT_NE(GetTempPathW(MAX_PATH, temp), 0u);
  const std::filesystem::path root =
      std::filesystem::path(temp) / (L"nv-embedded-" + std::to_wstring(GetCurrentProcessId()));
  const auto install = root / L"install", temp_folder = root / L"temp";
  const auto samples = root / L"samples";  // absolute: used as written, off the public desktop

  std::map<std::wstring, std::wstring> written;  // target -> source file name
  bool failed = false;
  const bool ok = engine::extract_payload(
      stream, install.wstring(), samples.wstring(), temp_folder.wstring(),
      [&](const engine::notification& n) {
        if (auto* end = std::get_if<engine::file_end>(&n))
          written[end->entry.destination.wstring()] = end->entry.sourcePath.filename().wstring();
        failed |= std::holds_alternative<engine::failed>(n);
        return engine::notification::result::proceed;
      });
  EXPECT_TRUE(ok);
  EXPECT_FALSE(failed);

  // Every manifest line of the demo payload, in the folders the tokens name.
  EXPECT_EQ(written.size(), 15u);
  EXPECT_EQ(written.count((install / L"Lang" / L"Tessaline.de.dll").wstring()), 1u);
  EXPECT_EQ(written.count((install / L"Tessaline.exe").wstring()), 1u);
  EXPECT_EQ(written.count((samples / L"First Steps.tsl").wstring()), 1u);
  EXPECT_EQ(written.count((temp_folder / L"DSetup.dll").wstring()), 1u);
  EXPECT_EQ(written.count((temp_folder / L"Jun2010_d3dx9_43_x86.cab").wstring()), 1u);
  // The product's executable is the built program, in the version this installer brings.
  EXPECT_EQ(nv::version_info((install / L"Tessaline.exe").wstring()).file_version(),
            nv::product_version);
  EXPECT_TRUE(nv::version_info((install / L"Uninstall.exe").wstring()).has_fixed_info());
  const std::filesystem::path sources = NV_DEMO_PAYLOAD_FILES;
  for (const auto& [target, name] : written)
    EXPECT_EQ(read_all(target), read_all(sources / name)) << std::filesystem::path(target);

  // Shared data went below the machine-wide folders: remove what this run put there.
  for (const auto& [target, name] : written) {
    std::error_code ec;
    std::filesystem::remove(target, ec);
  }
  std::filesystem::remove_all(root);
}

}  // namespace
