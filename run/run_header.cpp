#include "run/run_header.h"

#include <windows.h>
#include <sddl.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "nv/fixed_path.h"
#include "nv/own_executable.h"
#include "nv/product.h"
#include "nv/unique_handle.h"

extern "C" LONG NTAPI RtlGetVersion(OSVERSIONINFOW* information);

namespace engine {
namespace {

struct local_free {
  void operator()(void* p) const noexcept { ::LocalFree(p); }
};

// The token's user as "DOMAIN\name"; its SID in text form when the name cannot be looked up.
std::wstring TokenUserName(HANDLE token) {
  DWORD size = 0;
  ::GetTokenInformation(token, ::TokenUser, nullptr, 0, &size);
  if (size == 0) return {};
  std::vector<BYTE> buffer(size);
  if (!::GetTokenInformation(token, ::TokenUser, buffer.data(), size, &size)) return {};
  PSID sid = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
  wchar_t name[256] = {};
  wchar_t domain[256] = {};
  DWORD nameSize = 256, domainSize = 256;
  SID_NAME_USE use{};
  if (::LookupAccountSidW(nullptr, sid, name, &nameSize, domain, &domainSize, &use))
    return domainSize == 0 ? std::wstring(name) : std::wstring(domain) + L"\\" + name;
  // No account name for the SID (as on a machine that cannot reach its domain): the name the
  // user logged on with, and the SID that identifies the account.
  wchar_t* raw = nullptr;
  if (!::ConvertSidToStringSidW(sid, &raw)) return {};
  const std::unique_ptr<wchar_t, local_free> text(raw);
  DWORD logonSize = 256;
  if (!::GetUserNameW(name, &logonSize)) return text.get();
  return std::wstring(name) + L" (" + text.get() + L")";
}

bool TokenElevated(HANDLE token) {
  TOKEN_ELEVATION elevation{};
  DWORD size = 0;
  return ::GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) &&
         elevation.TokenIsElevated != 0;
}

// The version Windows reports of itself, not the one a compatibility layer shows the program.
std::wstring WindowsVersion() {
  OSVERSIONINFOW version{};
  version.dwOSVersionInfoSize = sizeof version;
  if (RtlGetVersion(&version) != 0) return L"unknown";
  return std::to_wstring(version.dwMajorVersion) + L"." + std::to_wstring(version.dwMinorVersion) +
         L"." + std::to_wstring(version.dwBuildNumber);
}

// `text` on one line: a line break or other control character in a value (a command line may hold
// one) becomes a blank, so that every header value stays on its own line.
std::wstring OneLine(std::wstring text) {
  for (wchar_t& c : text)
    if (c < L' ' || c == 0x7F) c = L' ';
  return text;
}

}  // namespace

RunFacts CurrentRunFacts(std::wstring commandLine) {
  RunFacts facts;
  facts.program = nv::fixed_path::file_name(nv::own_executable_path());
  facts.version = nv::product_version_text;
  facts.commandLine = std::move(commandLine);
  HANDLE raw = nullptr;
  if (::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw)) {
    const nv::unique_handle token(raw);
    facts.user = TokenUserName(token.get());
    facts.elevated = TokenElevated(token.get());
  }
  if (facts.user.empty()) facts.user = L"unknown";
  facts.windows = WindowsVersion();
  return facts;
}

std::vector<std::wstring> RunHeaderLines(const RunFacts& facts) {
  return {std::wstring(CLogFile::bannerWidth, L'='),
          L"Program: " + OneLine(facts.program) + L" " + OneLine(facts.version),
          L"Command line: " + OneLine(facts.commandLine),
          L"User: " + OneLine(facts.user),
          std::wstring(L"Elevated: ") + (facts.elevated ? L"yes" : L"no"),
          L"Windows: " + OneLine(facts.windows)};
}

void WriteRunHeader(CLogFile& log, std::wstring commandLine) {
  for (const std::wstring& line : RunHeaderLines(CurrentRunFacts(std::move(commandLine))))
    log.writeLine(line);
}

std::wstring RunKindLine(std::wstring_view kind) { return L"Run: " + OneLine(std::wstring(kind)); }

}  // namespace engine
