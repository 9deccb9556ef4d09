#include "tools/payload/payload_staging.h"

#include <algorithm>
#include <fstream>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "payload/path_tokens.h"
#include "nv/utf8.h"
#include "tools/payload/payload_pack.h"

namespace payload_tool {
namespace {

namespace fs = std::filesystem;

std::string utf8(const fs::path& path) { return nv::to_utf8(path.native()); }

// The kind folder's index in kind_names; throws for any other name.
std::size_t kind_of(const fs::path& folder) {
  const std::string name = utf8(folder.filename());
  for (std::size_t i = 0; i < std::size(kind_names); ++i)
    if (name == kind_names[i]) return i;
  throw std::runtime_error("staging: " + utf8(folder) + " is no kind folder (one of LanguageLibrary, "
                           "MainProgram, Uninstaller, SharedData, Sample, Temporary)");
}

// "<Name>" for the token folder; throws for a folder that names no token.
std::wstring token_of(const fs::path& folder) {
  const std::wstring token = L"<" + folder.filename().native() + L">";
  const auto& known = engine::path_token_names();
  if (std::find(known.begin(), known.end(), token) == known.end())
    throw std::runtime_error("staging: " + utf8(folder) + " names no path token");
  return token;
}

// The folders a staging folder holds directly; a file there does not fit the layout.
std::vector<fs::path> folders_in(const fs::path& folder) {
  std::vector<fs::path> found;
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (!entry.is_directory())
      throw std::runtime_error("staging: " + utf8(entry.path()) +
                               " stands where only folders belong");
    found.push_back(entry.path());
  }
  std::sort(found.begin(), found.end());
  return found;
}

struct line {
  std::size_t kind;
  std::wstring destination, source;
  bool operator<(const line& other) const {
    return std::tie(kind, destination, source) < std::tie(other.kind, other.destination, other.source);
  }
};

}  // namespace

std::size_t write_staging_manifest(const fs::path& staging, const fs::path& out) {
  if (!fs::is_directory(staging)) throw std::runtime_error("staging: no folder " + utf8(staging));
  if (fs::exists(out)) throw std::runtime_error(utf8(out) + " exists already: name a new file");
  const fs::path base = fs::absolute(out).parent_path();
  std::vector<line> lines;
  for (const fs::path& kindFolder : folders_in(staging)) {
    const std::size_t kind = kind_of(kindFolder);
    for (const fs::path& tokenFolder : folders_in(kindFolder)) {
      const std::wstring token = token_of(tokenFolder);
      for (const auto& entry : fs::recursive_directory_iterator(tokenFolder)) {
        if (!entry.is_regular_file()) continue;
        std::wstring destination = token;
        const fs::path folders = entry.path().parent_path().lexically_relative(tokenFolder);
        if (!folders.empty() && folders != L".") destination += L"\\" + folders.native();
        std::replace(destination.begin(), destination.end(), L'/', L'\\');
        fs::path source = fs::absolute(entry.path()).lexically_relative(base);
        if (source.empty()) source = fs::absolute(entry.path());
        lines.push_back({kind, destination, source.generic_wstring()});
      }
    }
  }
  std::sort(lines.begin(), lines.end());
  std::string text = "# Written by payload manifest from " + utf8(staging.filename()) +
                     "; review it, then pack it.\n";
  for (const line& l : lines)
    text += std::string(kind_names[l.kind]) + "\t" + nv::to_utf8(l.destination) + "\t" +
            nv::to_utf8(l.source) + "\n";
  {
    std::ofstream file(out, std::ios::binary);
    if (!file || !file.write(text.data(), std::streamsize(text.size())))
      throw std::runtime_error("cannot write " + utf8(out));
  }
  // The same checks as pack: a manifest it would refuse is not left behind.
  try {
    read_manifest(out);
  } catch (const std::exception&) {
    fs::remove(out);
    throw;
  }
  return lines.size();
}

}  // namespace payload_tool
