#include "tools/payload/payload_pack.h"

#include <windows.h>

#include <algorithm>
#include <array>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>

#include <cstddef>

#include <boost/iostreams/filter/bzip2.hpp>
#include <boost/iostreams/filtering_stream.hpp>

#include "payload/payload_names.h"
#include "nv/utf8.h"
#include "nv/crc32.h"

namespace payload_tool {

const char* const kind_names[6] = {"LanguageLibrary", "MainProgram", "Uninstaller",
                                   "SharedData",      "Sample",      "Temporary"};

namespace {

std::wstring widen(const std::string& utf8) {
  if (utf8.empty()) return {};
  int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), int(utf8.size()),
                              nullptr, 0);
  if (n <= 0) throw std::runtime_error("not valid UTF-8: " + utf8);
  std::wstring wide(n, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), wide.data(), n);
  return wide;
}

engine::PayloadKind parse_kind(const std::string& text) {
  for (std::size_t i = 0; i < std::size(kind_names); ++i)
    if (text == kind_names[i] || text == std::to_string(i)) return engine::PayloadKind(i);
  throw std::runtime_error("unknown kind '" + text + "'");
}

// The full target of an entry as the installer forms it: destination and file name, compared as
// Windows compares names.
std::wstring target_of(const engine::PayloadEntry& entry) {
  std::wstring target = (entry.destination / entry.sourcePath.filename()).native();
  ::CharUpperBuffW(target.data(), static_cast<DWORD>(target.size()));
  return target;
}

// Two entries must never write the same file.
void check_targets(const manifest& content, const std::vector<int>& lineOf) {
  std::map<std::wstring, std::size_t> seen;
  for (std::size_t i = 0; i < content.entries.size(); ++i) {
    const auto [at, added] = seen.emplace(target_of(content.entries[i]), i);
    if (!added)
      throw std::runtime_error(
          "line " + std::to_string(lineOf[i]) + ": " +
          nv::to_utf8((content.entries[i].destination / content.entries[i].sourcePath.filename())
                          .native()) +
          " is written by line " + std::to_string(lineOf[at->second]) + " already");
  }
}

// An installer without its main program cannot register the product or make its shortcuts, and
// one without its uninstaller cannot be removed.
void check_required_kinds(const manifest& content) {
  for (const engine::PayloadKind kind : {engine::PayloadKind::MainProgram, engine::PayloadKind::Uninstaller}) {
    const auto count = std::count_if(content.entries.begin(), content.entries.end(),
                                     [&](const engine::PayloadEntry& e) { return e.kind == kind; });
    if (count != 1)
      throw std::runtime_error(std::string("the manifest needs exactly one ") +
                               kind_names[static_cast<int>(kind)] + " entry; it has " +
                               std::to_string(count));
  }
}

}  // namespace

manifest read_manifest(const std::filesystem::path& file, bool partial) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + file.string());
  const auto folder = std::filesystem::absolute(file).parent_path();
  manifest content;
  std::vector<int> lineOf;  // each entry's line
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (number == 1 && line.rfind("\xEF\xBB\xBF", 0) == 0) line.erase(0, 3);
    if (line.empty() || line[0] == '#') continue;
    std::array<std::string, 3> fields;
    std::istringstream split(line);
    for (auto& field : fields) std::getline(split, field, '\t');
    std::string rest;
    if (fields[2].empty() || std::getline(split, rest))
      throw std::runtime_error("line " + std::to_string(number) +
                               ": expected KIND<TAB>DESTINATION<TAB>SOURCE");
    try {
      engine::PayloadEntry entry;
      entry.kind = parse_kind(fields[0]);
      entry.destination = widen(fields[1]);
      const auto source = std::filesystem::path(widen(fields[2])).lexically_normal();
      const bool absolute = source.has_root_name() || source.has_root_directory();
      entry.sourcePath = absolute ? source.filename() : source;
      if (const std::string fault = engine::entry_name_fault(entry); !fault.empty())
        throw std::runtime_error(fault);
      content.files.push_back(absolute ? source : folder / source);
      content.entries.push_back(std::move(entry));
      lineOf.push_back(number);
    } catch (const std::runtime_error& e) {
      throw std::runtime_error("line " + std::to_string(number) + " (" + fields[0] + " " +
                               fields[1] + " " + fields[2] + "): " + e.what());
    }
  }
  check_targets(content, lineOf);
  if (!partial) check_required_kinds(content);
  return content;
}

std::vector<engine::PayloadEntry> read_table(std::istream& compressed) {
  namespace io = boost::iostreams;
  io::filtering_istream in;
  in.push(io::bzip2_decompressor());
  in.push(compressed);
  std::vector<std::byte> table(engine::payload_header_size);
  if (!in.read(reinterpret_cast<char*>(table.data()), std::streamsize(table.size())))
    throw std::runtime_error("no complete table");
  const auto table_end = engine::read_table_end(table);
  if (table_end < table.size() || table_end > (1u << 30)) throw std::runtime_error("bad table size");
  table.resize(std::size_t(table_end));
  if (!in.read(reinterpret_cast<char*>(table.data()) + 8, std::streamsize(table_end - 8)))
    throw std::runtime_error("no complete table");
  return engine::parse_payload_table(table);
}

std::string table_fault(std::istream& compressed) {
  std::vector<engine::PayloadEntry> entries;
  try {
    entries = read_table(compressed);
  } catch (const std::exception&) {
    return {};
  }
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const auto& e = entries[i];
    if (const std::string fault = engine::entry_name_fault(e); !fault.empty())
      return "entry " + std::to_string(i) + " (" + std::to_string(unsigned(e.kind)) + " " +
             nv::to_utf8(e.destination.native()) + " " + nv::to_utf8(e.sourcePath.native()) +
             "): " + fault;
  }
  return {};
}

void pack_payload(manifest& content, const std::filesystem::path& out) {
  auto& entries = content.entries;
  std::vector<char> block(4096);
  // Size and CRC first: the table precedes the data it describes.
  for (std::size_t i = 0; i < entries.size(); ++i) {
    auto& entry = entries[i];
    std::ifstream file(content.files[i], std::ios::binary);
    if (!file) throw std::runtime_error("cannot read " + content.files[i].string());
    nv::crc32 crc;
    entry.size = 0;
    while (file.read(block.data(), block.size()) || file.gcount() > 0) {
      crc.update(block.data(), std::size_t(file.gcount()));
      entry.size += std::uint64_t(file.gcount());
    }
    entry.crc = crc.value();
  }

  std::ofstream file(out, std::ios::binary | std::ios::trunc);
  if (!file) throw std::runtime_error("cannot write " + out.string());
  {
    namespace io = boost::iostreams;
    io::filtering_ostream chain;
    chain.push(io::bzip2_compressor(io::bzip2_params(9)));
    chain.push(file);
    const auto table = engine::serialize_payload_table(entries);
    chain.write(reinterpret_cast<const char*>(table.data()), std::streamsize(table.size()));
    for (std::size_t i = 0; i < entries.size(); ++i) {
      const auto& entry = entries[i];
      std::ifstream source(content.files[i], std::ios::binary);
      std::uint64_t copied = 0;
      while (source.read(block.data(), block.size()) || source.gcount() > 0) {
        chain.write(block.data(), source.gcount());
        copied += std::uint64_t(source.gcount());
      }
      if (copied != entry.size)
        throw std::runtime_error("changed while packing: " + content.files[i].string());
    }
    chain.flush();
    chain.reset();  // completes the bzip2 stream
  }
  file.close();
  if (!file) throw std::runtime_error("cannot write " + out.string());
}

}  // namespace payload_tool
