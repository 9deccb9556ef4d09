#include "tools/robot/machine_commands.h"

#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <algorithm>
#include <chrono>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "nv/com_ptr.h"
#include "nv/unique_handle.h"
#include "tools/robot/robot_output.h"
#include "tools/robot/window_search.h"

namespace machine_commands {
namespace {

using robot_output::command_failed;
using robot_output::print;

struct resource_update_traits {
  using type = HANDLE;
  static HANDLE normalize(HANDLE h) noexcept { return h; }
  // Reached only when an update was begun and not committed: its changes are discarded.
  static void close(HANDLE h) noexcept { ::EndUpdateResourceW(h, TRUE); }
};
using unique_resource_update = nv::unique_resource<resource_update_traits>;

// A resource type or name: a number when the text is one, else the text itself.
LPCWSTR resource_id(const std::wstring& text) {
  wchar_t* end = nullptr;
  const unsigned long value = std::wcstoul(text.c_str(), &end, 10);
  if (!text.empty() && *end == L'\0' && value <= 0xFFFF) return MAKEINTRESOURCEW(value);
  return text.c_str();
}

struct process_windows {
  DWORD process_id;
  std::vector<HWND>* shown;
};

BOOL CALLBACK collect_shown_window(HWND window, LPARAM context) {
  auto* search = reinterpret_cast<process_windows*>(context);
  DWORD owner = 0;
  ::GetWindowThreadProcessId(window, &owner);
  if (owner == search->process_id && ::IsWindowVisible(window)) search->shown->push_back(window);
  return TRUE;
}

}  // namespace

void print_link_target(const std::wstring& link) {
  nv::com_apartment apartment;
  if (!apartment.entered()) throw command_failed(L"CoInitialize failed");
  nv::com_ptr<IShellLinkW> shell_link;
  if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                shell_link.put_void())))
    throw command_failed(L"no shell link object");
  nv::com_ptr<IPersistFile> persist;
  if (FAILED(shell_link->QueryInterface(IID_IPersistFile, persist.put_void())) ||
      FAILED(persist->Load(link.c_str(), STGM_READ)))
    throw command_failed(L"cannot load " + link);
  wchar_t path[MAX_PATH] = {};
  wchar_t arguments[MAX_PATH] = {};
  wchar_t folder[MAX_PATH] = {};
  shell_link->GetPath(path, MAX_PATH, nullptr, SLGP_RAWPATH);
  shell_link->GetArguments(arguments, MAX_PATH);
  shell_link->GetWorkingDirectory(folder, MAX_PATH);
  print("link-target", path);
  print("link-arguments", arguments);
  print("link-folder", folder);
}

void set_resource(const std::wstring& exe, const std::wstring& type, const std::wstring& name,
                  const std::wstring& file) {
  std::ifstream in(std::filesystem::path(file), std::ios::binary);
  if (!in) throw command_failed(L"cannot read " + file);
  std::vector<char> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  unique_resource_update update(::BeginUpdateResourceW(exe.c_str(), FALSE));
  if (!update) throw command_failed(L"BeginUpdateResourceW failed for " + exe);
  if (!::UpdateResourceW(update.get(), resource_id(type), resource_id(name),
                         MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL), data.data(),
                         static_cast<DWORD>(data.size())))
    throw command_failed(L"UpdateResourceW failed");
  if (!::EndUpdateResourceW(update.release(), FALSE))
    throw command_failed(L"EndUpdateResourceW failed");
}

void run_unseen(const std::wstring& command_line, DWORD timeout_ms) {
  std::wstring writable = command_line;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!::CreateProcessW(nullptr, writable.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info))
    throw command_failed(L"CreateProcessW failed with " + std::to_wstring(::GetLastError()));
  nv::unique_handle process(info.hProcess);
  nv::unique_handle thread(info.hThread);

  std::vector<HWND> seen;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  bool ended = false;
  while (!ended) {
    ended = ::WaitForSingleObject(process.get(), 5) == WAIT_OBJECT_0;
    std::vector<HWND> shown;
    process_windows search{info.dwProcessId, &shown};
    ::EnumWindows(collect_shown_window, reinterpret_cast<LPARAM>(&search));
    for (HWND window : shown) {
      if (std::find(seen.begin(), seen.end(), window) != seen.end()) continue;
      seen.push_back(window);
      // The caption as the system keeps it: the window may be gone, or its thread busy.
      wchar_t title[256] = {};
      ::GetWindowTextW(window, title, 256);
      print("seen", robot_windows::class_name(window) + L" \"" + title + L"\"");
    }
    if (!ended && std::chrono::steady_clock::now() >= deadline) {
      ::TerminateProcess(process.get(), 1);
      throw command_failed(L"the program did not end in time");
    }
  }
  DWORD code = 0;
  ::GetExitCodeProcess(process.get(), &code);
  print("exit-code", std::to_wstring(static_cast<int>(code)));
  if (!seen.empty()) throw command_failed(std::to_wstring(seen.size()) + L" window(s) shown");
}

}  // namespace machine_commands
