#include "run/log_file.h"

#include <windows.h>

#include "machine/machine_folders.h"
#include <cwchar>
#include <vector>

#include "nv/fixed_path.h"
#include "nv/link_check.h"
#include "nv/utf8.h"

namespace {

// Bare line feeds become CR LF; CR LF stays as it is.
std::wstring withCrLf(std::wstring_view text) {
  std::wstring result;
  result.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == L'\n' && (i == 0 || text[i - 1] != L'\r')) result.push_back(L'\r');
    result.push_back(text[i]);
  }
  return result;
}

// The link itself is opened, never what it points to, so that it can be refused.
nv::unique_handle openForAppending(const std::wstring& path) {
  return nv::unique_handle(::CreateFileW(path.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                                         nullptr));
}

// Creates the folders that hold `path`, from the drive down; those that exist stay as they are.
void createFoldersFor(const std::wstring& path) {
  std::vector<std::wstring> missing;
  for (std::wstring folder = nv::fixed_path::remove_file_spec(path);
       !folder.empty() && ::GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES;) {
    missing.push_back(folder);
    const std::wstring parent = nv::fixed_path::remove_file_spec(folder);
    if (parent == folder) break;
    folder = parent;
  }
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) ::CreateDirectoryW(it->c_str(), nullptr);
}

}  // namespace

std::error_code CLogFile::Open(const std::wstring& path) {
  file_.reset();
  if (const std::error_code refused = engine::refuse_links(path)) return refused;
  nv::unique_handle file = openForAppending(path);
  if (!file && ::GetLastError() == ERROR_PATH_NOT_FOUND) {
    // A log in a folder that does not exist yet gets its folders, checked again once made.
    createFoldersFor(path);
    if (const std::error_code refused = engine::refuse_links(path)) return refused;
    file = openForAppending(path);
  }
  if (!file) return {static_cast<int>(::GetLastError()), std::system_category()};
  if (!nv::is_plain_file(nv::facts_of(file.get()))) return engine::link_refused();
  file_ = std::move(file);
  return {};
}

void CLogFile::write(std::wstring_view text) {
  if (!file_ || text.empty()) return;
  // Every line starts with the local time it was begun at, to the millisecond, so that a fleet's
  // tools can order and time what the runs did.
  SYSTEMTIME now{};
  ::GetLocalTime(&now);
  wchar_t stamp[32] = {};
  std::swprintf(stamp, 32, L"%04u-%02u-%02u %02u:%02u:%02u.%03u ", now.wYear, now.wMonth, now.wDay,
                now.wHour, now.wMinute, now.wSecond, now.wMilliseconds);
  std::wstring stamped;
  for (const wchar_t c : withCrLf(text)) {
    if (atLineStart_) stamped += stamp;
    atLineStart_ = c == L'\n';
    stamped += c;
  }
  const std::string bytes = nv::to_utf8(stamped);
  DWORD written = 0;
  ::WriteFile(file_.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

void CLogFile::writeLine(std::wstring_view text) { write(std::wstring(text) + L"\r\n"); }

void CLogFile::writeBanner(std::wstring_view text) { writeLine(bannerLine(text)); }

void CLogFile::append(std::wstring_view text, bool banner) {
  if (banner || text.empty())
    writeBanner(text);
  else
    write(text);
}

std::wstring CLogFile::bannerLine(std::wstring_view text) {
  if (text.empty()) return std::wstring(bannerWidth, L'-');
  const std::wstring enclosed = L" " + std::wstring(text) + L" ";
  const std::size_t dashes = enclosed.size() < bannerWidth ? bannerWidth - enclosed.size() : 0;
  return std::wstring(dashes / 2, L'-') + enclosed + std::wstring((dashes + 1) / 2, L'-');
}
