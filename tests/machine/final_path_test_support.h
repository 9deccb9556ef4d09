// Makes chosen files and folders report a final path elsewhere while it lives, as a junction put on
// the way to them would, since the test system cannot make junctions; every other handle is
// answered as before.
#pragma once

#include <windows.h>

#include <initializer_list>
#include <map>
#include <string>
#include <system_error>
#include <utility>

#include "machine/handle_removal.h"
#include "nv/unique_handle.h"

namespace engine_test {

class moved_final_paths {
 public:
  // `moves`: an existing path -> the final path its object is to report.
  explicit moved_final_paths(std::initializer_list<std::pair<std::wstring, std::wstring>> moves) {
    previous_ = engine::SetFinalPathQuery({});
    for (const auto& [path, elsewhere] : moves) moves_.emplace(real_final_path(path), elsewhere);
    engine::SetFinalPathQuery([this](HANDLE object, std::error_code& error) {
      std::wstring path = previous_(object, error);
      for (const auto& [from, to] : moves_)
        if (::CompareStringOrdinal(from.c_str(), -1, path.c_str(), -1, TRUE) == CSTR_EQUAL)
          return to;
      return path;
    });
  }
  moved_final_paths(const std::wstring& path, const std::wstring& elsewhere)
      : moved_final_paths({{path, elsewhere}}) {}
  ~moved_final_paths() { engine::SetFinalPathQuery(previous_); }
  moved_final_paths(const moved_final_paths&) = delete;
  moved_final_paths& operator=(const moved_final_paths&) = delete;

 private:
  std::wstring real_final_path(const std::wstring& path) const {
    const nv::unique_handle object(::CreateFileW(
        path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
        nullptr));
    std::error_code error;
    return object ? previous_(object.get(), error) : path;
  }

  engine::FinalPathQuery previous_;
  std::map<std::wstring, std::wstring> moves_;
};

}  // namespace engine_test
