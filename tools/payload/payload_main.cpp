// payload.exe — builds and inspects payload archives for the installer and makes its release:
//   payload manifest STAGING OUT
//   payload pack [--partial] MANIFEST OUT
//   payload list ARCHIVE
//   payload verify ARCHIVE
//   payload extract ARCHIVE [--verify] --install DIR [--samples TEXT] [--temp DIR]
//   payload embed INSTALLER ARCHIVE OUT
//   payload winget INSTALLER URL OUTDIR   the package manager's manifest of the signed installer
#include <windows.h>

#include <cstdio>
#include <exception>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include <boost/iostreams/filter/bzip2.hpp>
#include <boost/iostreams/filtering_stream.hpp>

#include "payload/compress_error.h"
#include "payload/error_code_text.h"
#include "payload/payload_extractor.h"
#include "payload/payload_format.h"
#include "nv/utf8.h"
#include "tools/payload/payload_embed.h"
#include "tools/payload/payload_pack.h"
#include "tools/payload/payload_staging.h"
#include "tools/payload/winget_manifest.h"

namespace {

const wchar_t usage[] =
    L"usage: payload manifest STAGING OUT | pack [--partial] MANIFEST OUT | list ARCHIVE | "
    L"verify ARCHIVE | "
    L"extract ARCHIVE [--verify] --install DIR [--samples TEXT] [--temp DIR] | "
    L"embed INSTALLER ARCHIVE OUT | winget INSTALLER URL OUTDIR";

// One line of UTF-8 text on `stream`.
void print(std::FILE* stream, const std::wstring& line) {
  const auto utf8 = nv::to_utf8(line) + "\n";
  std::fwrite(utf8.data(), 1, utf8.size(), stream);
}

int fail(const std::wstring& message) {
  std::fflush(stdout);
  print(stderr, L"payload: " + message);
  return 2;
}

std::ifstream open_archive(const std::wstring& path) {
  std::ifstream in(std::filesystem::path(path), std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + nv::to_utf8(path));
  return in;
}

int list(const std::wstring& archive) {
  auto file = open_archive(archive);
  const auto entries = payload_tool::read_table(file);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const auto& e = entries[i];
    wchar_t fields[64];
    std::swprintf(fields, 64, L"%u\t%u\t%llu\t%08x\t", unsigned(i), unsigned(e.kind),
                  static_cast<unsigned long long>(e.size), e.crc);
    print(stdout, fields + e.destination.wstring() + L"\t" + e.sourcePath.wstring());
  }
  return 0;
}

int verify(const std::wstring& archive) {
  auto file = open_archive(archive);
  // An entry the installer would refuse is named with the rule it breaks.
  if (const std::string fault = payload_tool::table_fault(file); !fault.empty()) {
    std::fflush(stdout);
    std::fprintf(stderr, "verification failed: %s\n", fault.c_str());
    return 1;
  }
  file.clear();
  file.seekg(0);
  const bool ok = engine::verify_payload(file);
  print(ok ? stdout : stderr, ok ? L"verified" : L"verification failed");
  return ok ? 0 : 1;
}

// With `verify`, the run does what the installer does in one process: on `started` it verifies
// the whole archive, rewinds it and only then extracts, so that a damaged archive fails with
// verification_failed before any file is written.
int extract(const std::wstring& archive, const std::wstring& install, const std::wstring& samples,
            const std::wstring& temp, bool verify) {
  auto file = open_archive(archive);
  std::wstring failure;
  const bool ok = engine::extract_payload(
      file, install, samples, temp, [&](const engine::notification& n) {
        if (verify && std::holds_alternative<engine::started>(n)) {
          const bool intact = engine::verify_payload(file);
          file.clear();
          file.seekg(0);
          if (!intact || !file)
            throw std::system_error(engine::compress_errc::verification_failed);
        } else if (auto* end = std::get_if<engine::file_end>(&n)) {
          print(stdout, end->entry.destination.wstring());
        } else if (auto* f = std::get_if<engine::failed>(&n)) {
          failure = L"failed: " + engine::error_code_text(f->code) + L" " + f->path;
        }
        return engine::notification::result::proceed;
      });
  if (!ok) {
    std::fflush(stdout);
    print(stderr, failure);
  }
  return ok ? 0 : 1;
}

// The absolute form of a folder given on the command line; empty stays empty.
std::wstring absolute_folder(const std::wstring& folder) {
  return folder.empty() ? folder : std::filesystem::absolute(folder).wstring();
}

int run(const std::vector<std::wstring>& args) {
  if (args.size() == 3 && args[0] == L"manifest") {
    const std::size_t count = payload_tool::write_staging_manifest(args[1], args[2]);
    print(stdout, L"wrote " + args[2] + L": " + std::to_wstring(count) + L" entries");
    return 0;
  }
  if ((args.size() == 3 || (args.size() == 4 && args[1] == L"--partial")) && args[0] == L"pack") {
    const bool partial = args.size() == 4;
    auto content = payload_tool::read_manifest(args[args.size() - 2], partial);
    payload_tool::pack_payload(content, args.back());
    if (partial) print(stdout, L"note: packed --partial: not a payload to release");
    print(stdout, L"packed " + std::to_wstring(content.entries.size()) + L" entries");
    return 0;
  }
  if (args.size() == 4 && args[0] == L"embed") {
    const auto result = payload_tool::embed_payload(args[1], args[2], args[3]);
    wchar_t language[8];
    std::swprintf(language, 8, L"%04x", unsigned(result.language));
    print(stdout, L"embedded " + args[2] + L" into " + args[3] + L" (language " + language + L")");
    if (result.removed_signature)
      print(stdout, L"note: " + args[1] + L" was signed; that signature covered the old payload "
                    L"and is not in " + args[3] + L": sign " + args[3] + L" now");
    return 0;
  }
  if (args.size() == 4 && args[0] == L"winget") {
    for (const auto& path : payload_tool::write_winget_manifest(args[1], args[2], args[3]))
      print(stdout, L"wrote " + path.wstring());
    return 0;
  }
  if (args.size() == 2 && args[0] == L"list") return list(args[1]);
  if (args.size() == 2 && args[0] == L"verify") return verify(args[1]);
  if (args.size() >= 2 && args[0] == L"extract") {
    std::wstring install, samples, temp;
    bool have_install = false, verify_first = false;
    for (std::size_t i = 2; i < args.size(); ++i) {
      const std::wstring& option = args[i];
      if (option == L"--verify") {
        verify_first = true;
        continue;
      }
      if (++i >= args.size()) return fail(L"missing value after " + option);
      if (option == L"--install") install = args[i], have_install = true;
      else if (option == L"--samples") samples = args[i];
      else if (option == L"--temp") temp = args[i];
      else return fail(L"unknown option " + option);
    }
    if (!have_install) return fail(L"extract needs --install DIR");
    return extract(args[1], absolute_folder(install), samples, absolute_folder(temp),
                   verify_first);
  }
  return fail(usage);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  try {
    return run(std::vector<std::wstring>(argv + 1, argv + argc));
  } catch (const std::exception& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "payload: %s\n", e.what());
    return 2;
  }
}
