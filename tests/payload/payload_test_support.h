// Helpers shared by the payload tests: building archives from in-memory files, a private
// scratch folder, and a callback that records every notification and answers as told.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <streambuf>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include <boost/iostreams/filter/bzip2.hpp>
#include <boost/iostreams/filtering_stream.hpp>

#include "wine.h"
#include "payload/payload_extractor.h"
#include "payload/payload_format.h"
#include "payload/payload_notification.h"
#include "nv/crc32.h"

namespace payload_test {

namespace fs = std::filesystem;

using nv_testing::running_under_wine;

// A fresh folder below the temporary folder, removed with everything in it afterwards.
class scratch_folder {
 public:
  scratch_folder() {
    wchar_t temp[MAX_PATH + 1] = {};
    ::GetTempPathW(MAX_PATH + 1, temp);
    path_ = fs::path(temp) / (L"payload_test_" + std::to_wstring(::GetCurrentProcessId()) + L"_" +
                              std::to_wstring(counter()++));
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~scratch_folder() {
    std::error_code ec;
    for (const auto& e : fs::recursive_directory_iterator(path_, ec))
      ::SetFileAttributesW(e.path().c_str(), FILE_ATTRIBUTE_NORMAL);
    fs::remove_all(path_, ec);
  }
  scratch_folder(const scratch_folder&) = delete;
  scratch_folder& operator=(const scratch_folder&) = delete;
  const fs::path& path() const { return path_; }

 private:
  static int& counter() {
    static int n = 0;
    return n;
  }
  fs::path path_;
};

struct test_file {
  std::wstring source;       // source path; only its file name matters
  std::wstring destination;  // destination folder with token
  std::string content;
  engine::PayloadKind kind = engine::PayloadKind::SharedData;
};

inline std::vector<engine::PayloadEntry> entries_of(const std::vector<test_file>& files) {
  std::vector<engine::PayloadEntry> entries;
  for (const auto& f : files)
    entries.push_back({f.source, f.destination, f.kind, f.content.size(),
                       nv::crc32::of(f.content.data(), f.content.size())});
  return entries;
}

// Header, table and file bytes as the decompressed archive holds them.
inline std::string plain_archive(const std::vector<engine::PayloadEntry>& entries,
                                 const std::vector<test_file>& files) {
  const auto table = engine::serialize_payload_table(entries);
  std::string out(reinterpret_cast<const char*>(table.data()), table.size());
  for (const auto& f : files) out += f.content;
  return out;
}

inline std::string plain_archive(const std::vector<test_file>& files) {
  return plain_archive(entries_of(files), files);
}

// Collects the compressor's output.
struct append_device {
  using char_type = char;
  using category = boost::iostreams::sink_tag;
  std::vector<char>* out;
  std::streamsize write(const char* s, std::streamsize n) {
    out->insert(out->end(), s, s + n);
    return n;
  }
};

// `level` is the block size in 100,000 bytes (1-9).
inline std::string bzip2(const std::string& plain, int level = 9) {
  std::vector<char> packed;
  {
    boost::iostreams::filtering_ostream out;
    out.push(boost::iostreams::bzip2_compressor(boost::iostreams::bzip2_params(level)));
    out.push(append_device{&packed});
    out.write(plain.data(), static_cast<std::streamsize>(plain.size()));
  }
  return {packed.begin(), packed.end()};
}

inline std::string read_file(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void write_file(const fs::path& p, const std::string& content) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out << content;
}

// One notification as recorded: its index and what it carried.
struct event {
  std::size_t kind;  // index of the notification alternative
  std::wstring path;  // entry target (file_begin/file_end) or failed path
  std::uint64_t a = 0, b = 0;  // copied/total, processed/total
  std::error_code code;
};

enum : std::size_t { ev_started, ev_finished, ev_begin, ev_end, ev_progress, ev_failed };

// Records every notification; `answer` decides the result (proceed unless told otherwise).
struct recorder {
  std::vector<event> events;
  std::function<engine::notification::result(const event&, std::size_t count)> answer;

  engine::payload_callback callback() {
    return [this](const engine::notification& n) {
      event e{n.index(), {}};
      if (auto* f = std::get_if<engine::finished>(&n)) e.a = f->copied, e.b = f->total;
      if (auto* p = std::get_if<engine::progress>(&n)) e.a = p->processed, e.b = p->total;
      if (auto* b = std::get_if<engine::file_begin>(&n)) e.path = b->entry.destination.wstring();
      if (auto* d = std::get_if<engine::file_end>(&n)) e.path = d->entry.destination.wstring();
      if (auto* f = std::get_if<engine::failed>(&n)) e.path = f->path, e.code = f->code;
      events.push_back(e);
      std::size_t same = 0;
      for (const auto& x : events) same += x.kind == e.kind;
      return answer ? answer(e, same) : engine::notification::result::proceed;
    };
  }

  std::size_t count(std::size_t kind) const {
    std::size_t n = 0;
    for (const auto& e : events) n += e.kind == kind;
    return n;
  }
  std::vector<std::wstring> paths(std::size_t kind) const {
    std::vector<std::wstring> out;
    for (const auto& e : events)
      if (e.kind == kind) out.push_back(e.path);
    return out;
  }
  const event* failure() const {
    for (const auto& e : events)
      if (e.kind == ev_failed) return &e;
    return nullptr;
  }
};

// A stream that cannot tell or change its position, as a pipe: the extractor and the verifier
// can only decompress it plainly, on the caller's thread.
class forward_only_buffer : public std::streambuf {
 public:
  explicit forward_only_buffer(std::string data) : data_(std::move(data)) {}

 protected:
  int_type underflow() override {
    if (at_ >= data_.size()) return traits_type::eof();
    const std::size_t n = std::min<std::size_t>(1000, data_.size() - at_);
    piece_.assign(data_, at_, n);
    at_ += n;
    setg(piece_.data(), piece_.data(), piece_.data() + n);
    return traits_type::to_int_type(piece_[0]);
  }

 private:
  std::string data_;
  std::string piece_;
  std::size_t at_ = 0;
};

// Extracts `archive` with <InstallPath> = `install`, <Temporary> = `install`\tmp.
inline bool extract(const std::string& archive, const fs::path& install, recorder& rec) {
  std::istringstream in(archive);
  return engine::extract_payload(in, install.wstring(), (install / L"samples").wstring(),
                                 (install / L"tmp").wstring(), rec.callback());
}

}  // namespace payload_test
