#include "tools/payload/installer_image.h"

#include <cstddef>
#include <fstream>
#include <stdexcept>
#include <string>

#include "payload/embedded_payload.h"
#include "nv/unique_module.h"

namespace payload_tool {
namespace {

std::string name_of(const std::filesystem::path& path) { return path.string(); }

struct language_list {
  std::vector<LANGID> languages;
  bool failed = false;
};

BOOL CALLBACK collect_language(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR context) {
  auto* list = reinterpret_cast<language_list*>(context);
  try {
    list->languages.push_back(language);
    return TRUE;
  } catch (...) {  // nothing may unwind through the system's enumeration
    list->failed = true;
    return FALSE;
  }
}

// File offsets of the header fields this unit reads and changes.
struct header_offsets {
  std::uint32_t file_header = 0;     // IMAGE_FILE_HEADER
  std::uint32_t security_entry = 0;  // IMAGE_DIRECTORY_ENTRY_SECURITY of the data directory
  IMAGE_FILE_HEADER file{};
};

template <class T>
void read_at(std::istream& in, std::uint64_t offset, T& value) {
  in.seekg(std::streamoff(offset));
  in.read(reinterpret_cast<char*>(&value), sizeof value);
}

template <class T>
void write_at(std::ostream& out, std::uint64_t offset, const T& value) {
  out.seekp(std::streamoff(offset));
  out.write(reinterpret_cast<const char*>(&value), sizeof value);
}

header_offsets read_headers(std::istream& in, const std::filesystem::path& exe) {
  const auto refuse = [&] { return std::runtime_error("not a Windows executable: " + name_of(exe)); };
  IMAGE_DOS_HEADER dos{};
  read_at(in, 0, dos);
  if (!in || dos.e_magic != IMAGE_DOS_SIGNATURE || dos.e_lfanew <= 0) throw refuse();
  header_offsets at;
  DWORD signature = 0;
  read_at(in, std::uint32_t(dos.e_lfanew), signature);
  at.file_header = std::uint32_t(dos.e_lfanew) + sizeof signature;
  read_at(in, at.file_header, at.file);
  WORD magic = 0;
  const std::uint32_t optional = at.file_header + sizeof at.file;
  read_at(in, optional, magic);
  if (!in || signature != IMAGE_NT_SIGNATURE) throw refuse();
  std::uint32_t directory = 0, count_at = 0;
  if (magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC) {
    directory = optional + offsetof(IMAGE_OPTIONAL_HEADER32, DataDirectory);
    count_at = optional + offsetof(IMAGE_OPTIONAL_HEADER32, NumberOfRvaAndSizes);
  } else if (magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC) {
    directory = optional + offsetof(IMAGE_OPTIONAL_HEADER64, DataDirectory);
    count_at = optional + offsetof(IMAGE_OPTIONAL_HEADER64, NumberOfRvaAndSizes);
  } else {
    throw refuse();
  }
  DWORD count = 0;
  read_at(in, count_at, count);
  at.security_entry = directory + IMAGE_DIRECTORY_ENTRY_SECURITY * sizeof(IMAGE_DATA_DIRECTORY);
  if (!in || count <= IMAGE_DIRECTORY_ENTRY_SECURITY ||
      at.security_entry + sizeof(IMAGE_DATA_DIRECTORY) > optional + at.file.SizeOfOptionalHeader)
    throw refuse();
  return at;
}

std::fstream open_for_update(const std::filesystem::path& exe) {
  std::fstream file(exe, std::ios::binary | std::ios::in | std::ios::out);
  if (!file) throw std::runtime_error("cannot open " + name_of(exe));
  return file;
}

}  // namespace

std::vector<payload_variant> payload_variants(const std::filesystem::path& exe) {
  return resource_variants(exe, engine::payload_resource_name);
}

std::vector<payload_variant> resource_variants(const std::filesystem::path& exe,
                                               unsigned short resource) {
  // A full path: a bare name would be looked for along the library search path.
  const auto full = std::filesystem::absolute(exe);
  nv::unique_module module(::LoadLibraryExW(full.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
  if (!module) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
        error == ERROR_ACCESS_DENIED)
      throw std::runtime_error("cannot read " + name_of(exe));
    throw std::runtime_error("not a Windows executable (error " + std::to_string(error) + "): " +
                             name_of(exe));
  }
  const auto type = MAKEINTRESOURCEW(engine::payload_resource_type);
  const auto name = MAKEINTRESOURCEW(resource);
  language_list list;
  if (!::EnumResourceLanguagesW(module.get(), type, name, collect_language,
                                reinterpret_cast<LONG_PTR>(&list))) {
    const DWORD error = ::GetLastError();
    if (list.failed ||
        (error != ERROR_RESOURCE_TYPE_NOT_FOUND && error != ERROR_RESOURCE_NAME_NOT_FOUND &&
         error != ERROR_RESOURCE_DATA_NOT_FOUND && error != ERROR_RESOURCE_LANG_NOT_FOUND))
      throw std::runtime_error("cannot list the resources (error " + std::to_string(error) +
                               ") of " + name_of(exe));
  }
  std::vector<payload_variant> variants;
  for (LANGID language : list.languages) {
    HRSRC info = ::FindResourceExW(module.get(), type, name, language);
    HGLOBAL loaded = info ? ::LoadResource(module.get(), info) : nullptr;
    const void* data = loaded ? ::LockResource(loaded) : nullptr;
    if (!data)
      throw std::runtime_error("cannot load resource " + std::to_string(resource) + " of " +
                               name_of(exe));
    const auto* bytes = static_cast<const std::byte*>(data);
    variants.push_back({language, {bytes, bytes + ::SizeofResource(module.get(), info)}});
  }
  return variants;
}

certificate_table find_certificate_table(const std::filesystem::path& exe) {
  std::ifstream in(exe, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + name_of(exe));
  IMAGE_DATA_DIRECTORY entry{};
  read_at(in, read_headers(in, exe).security_entry, entry);
  if (!in) throw std::runtime_error("cannot read " + name_of(exe));
  // The security entry is the one directory entry that holds a file offset, not an address.
  return {entry.VirtualAddress, entry.Size};
}

void remove_certificate_table(const std::filesystem::path& exe) {
  const auto table = find_certificate_table(exe);
  if (table.size == 0) return;
  if (std::uint64_t(table.offset) + table.size != std::filesystem::file_size(exe))
    throw std::runtime_error("the certificate table is not at the end of " + name_of(exe));
  {
    auto file = open_for_update(exe);
    write_at(file, read_headers(file, exe).security_entry, IMAGE_DATA_DIRECTORY{});
    file.close();
    if (!file) throw std::runtime_error("cannot write " + name_of(exe));
  }
  std::filesystem::resize_file(exe, table.offset);
}

symbol_tables read_symbol_tables(const std::filesystem::path& exe) {
  std::ifstream in(exe, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + name_of(exe));
  const auto headers = read_headers(in, exe);
  symbol_tables tables{headers.file.PointerToSymbolTable, {}};
  if (tables.offset == 0) return tables;
  const auto size = std::filesystem::file_size(exe);
  if (tables.offset > size)
    throw std::runtime_error("the symbol table lies behind the end of " + name_of(exe));
  tables.bytes.resize(std::size_t(size - tables.offset));
  in.seekg(std::streamoff(tables.offset));
  in.read(reinterpret_cast<char*>(tables.bytes.data()), std::streamsize(tables.bytes.size()));
  if (!in) throw std::runtime_error("cannot read " + name_of(exe));
  return tables;
}

void point_at_symbol_tables(const std::filesystem::path& exe, const symbol_tables& tables) {
  if (tables.offset == 0) return;
  const auto size = std::filesystem::file_size(exe);
  auto file = open_for_update(exe);
  const auto headers = read_headers(file, exe);
  std::vector<std::byte> tail(tables.bytes.size());
  if (size >= tail.size()) {
    file.seekg(std::streamoff(size - tail.size()));
    file.read(reinterpret_cast<char*>(tail.data()), std::streamsize(tail.size()));
  }
  if (size < tail.size() || !file || tail != tables.bytes)
    throw std::runtime_error("the symbol tables were not carried to the end of " + name_of(exe));
  const auto offset = std::uint32_t(size - tail.size());
  write_at(file, headers.file_header + offsetof(IMAGE_FILE_HEADER, PointerToSymbolTable), offset);
  file.close();
  if (!file) throw std::runtime_error("cannot write " + name_of(exe));
}

}  // namespace payload_tool
