#include "tools/payload/payload_embed.h"

#include <windows.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "payload/embedded_payload.h"
#include "payload/payload_digest.h"
#include "payload/payload_extractor.h"
#include "machine/same_path.h"
#include "nv/unique_handle.h"
#include "tools/payload/installer_image.h"
#include "tools/payload/payload_pack.h"
#include "tools/payload/pending_file.h"

namespace payload_tool {
namespace {

std::string windows_error(const std::string& what, DWORD error = ::GetLastError()) {
  return what + " (error " + std::to_string(error) + ")";
}

struct resource_update_traits {
  using type = HANDLE;
  static HANDLE normalize(HANDLE h) noexcept { return h; }
  // Reached only for an update that was not committed: its changes are discarded.
  static void close(HANDLE h) noexcept { ::EndUpdateResourceW(h, TRUE); }
};
using resource_update = nv::unique_resource<resource_update_traits>;

std::vector<std::byte> read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw std::runtime_error("cannot read " + path.string());
  const auto* begin = reinterpret_cast<const std::byte*>(bytes.data());
  return {begin, begin + bytes.size()};
}

// The one variant of the payload resource of `exe`, or a refusal naming what is wrong.
payload_variant single_variant(const std::filesystem::path& exe) {
  auto variants = payload_variants(exe);
  if (variants.empty())
    throw std::runtime_error("no payload resource (type 260, name 134) in " + exe.string() +
                             ": not an installer");
  if (variants.size() > 1)
    throw std::runtime_error(std::to_string(variants.size()) +
                             " language variants of the payload resource in " + exe.string() +
                             ": an installer carries exactly one");
  return std::move(variants.front());
}

}  // namespace

embed_result embed_payload(const std::filesystem::path& installer,
                           const std::filesystem::path& archive, const std::filesystem::path& out) {
  if (engine::SamePath(installer, out))
    throw std::runtime_error("OUT names the installer itself: write the copy to another file");

  const auto bytes = read_file(archive);
  {
    std::istringstream table(std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    if (const std::string fault = table_fault(table); !fault.empty())
      throw std::runtime_error("not a payload the installer accepts: " + fault + ": " +
                               archive.string());
  }
  engine::byte_range_stream stream(bytes);
  if (bytes.empty() || !engine::verify_payload(stream))
    throw std::runtime_error("not a payload the installer accepts (payload verify fails): " +
                             archive.string());

  embed_result result;
  result.language = single_variant(installer).language;

  const auto folder = std::filesystem::absolute(out).parent_path();
  pending_file copy(folder, L"emb");
  if (!::CopyFileW(installer.c_str(), copy.path().c_str(), FALSE) ||
      !::SetFileAttributesW(copy.path().c_str(), FILE_ATTRIBUTE_NORMAL))
    throw std::runtime_error(windows_error("cannot copy " + installer.string()));
  // A signature covers the old payload; a stale one would only make the copy look tampered with.
  result.removed_signature = find_certificate_table(copy.path()).size != 0;
  if (result.removed_signature) remove_certificate_table(copy.path());
  const auto tables = read_symbol_tables(copy.path());

  const auto oldDigests = resource_variants(copy.path(), engine::payload_digest_resource_name);
  {
    resource_update update(::BeginUpdateResourceW(copy.path().c_str(), FALSE));
    if (!update) throw std::runtime_error(windows_error("cannot update the resources of the copy"));
    if (!::UpdateResourceW(update.get(), MAKEINTRESOURCEW(engine::payload_resource_type),
                           MAKEINTRESOURCEW(engine::payload_resource_name), result.language,
                           const_cast<std::byte*>(bytes.data()), DWORD(bytes.size())))
      throw std::runtime_error(windows_error("cannot replace the payload resource"));
    // The digest of the archive verified above, which the installer proves its bytes by instead
    // of decompressing them twice; a digest of an earlier payload goes, in whatever language.
    for (const payload_variant& old : oldDigests)
      if (!::UpdateResourceW(update.get(), MAKEINTRESOURCEW(engine::payload_resource_type),
                             MAKEINTRESOURCEW(engine::payload_digest_resource_name), old.language,
                             nullptr, 0))
        throw std::runtime_error(windows_error("cannot remove the old payload digest"));
    auto digest = engine::encode_payload_digest(engine::digest_of(bytes));
    if (!::UpdateResourceW(update.get(), MAKEINTRESOURCEW(engine::payload_resource_type),
                           MAKEINTRESOURCEW(engine::payload_digest_resource_name), result.language,
                           digest.data(), DWORD(digest.size())))
      throw std::runtime_error(windows_error("cannot write the payload digest"));
    if (!::EndUpdateResourceW(update.release(), FALSE))
      throw std::runtime_error(windows_error("cannot write the resources of the copy"));
  }

  // The system's resource writer moves what lies behind the sections without updating the
  // header's pointer to it.
  point_at_symbol_tables(copy.path(), tables);

  // The copy must read back as an installer with the new archive and its digest, and nothing of
  // the old ones.
  const auto written = single_variant(copy.path());
  if (written.language != result.language || written.bytes != bytes)
    throw std::runtime_error("the copy does not carry the archive as written");
  const auto digests = resource_variants(copy.path(), engine::payload_digest_resource_name);
  if (digests.size() != 1 || digests[0].language != result.language ||
      engine::decode_payload_digest(digests[0].bytes) != engine::digest_of(bytes))
    throw std::runtime_error("the copy does not carry the archive's digest as written");
  copy.commit(out);
  return result;
}

}  // namespace payload_tool
