// The process-wide known-folder cache: three folders resolved once, without creating or checking
// them, and kept for the life of the process.
//
//   nv::documents_folder()    -> the user's documents folder itself
//   nv::common_data_folder()  -> <ProgramData>\Nuvelle
//   nv::user_data_folder()    -> <roaming application data>\Nuvelle
#pragma once

#include <string>

namespace nv {

// Resolves all three folders into the cache (library start-up). Throws std::system_error when
// the shell cannot resolve one of them; the cache then stays empty.
void resolve_known_folders();

// The cached folders; each resolves the cache first when it is still empty.
const std::wstring& documents_folder();
const std::wstring& common_data_folder();
const std::wstring& user_data_folder();

}  // namespace nv
