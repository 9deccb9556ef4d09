// Owners and access lists the test system cannot show: while it lives, every object whose final
// path holds `marker` is owned by the local Users group, which may change it, as a standard
// user's planted file or folder would be; every other object is the administrators' own.
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "machine/write_trust.h"

namespace trust_test {

class planted_where {
 public:
  explicit planted_where(std::wstring marker)
      : previous_(engine::SetSecurityQuery([marker = std::move(marker)](HANDLE object) {
          wchar_t path[MAX_PATH] = {};
          ::GetFinalPathNameByHandleW(object, path, MAX_PATH, 0);
          const bool planted = std::wstring(path).find(marker) != std::wstring::npos;
          BYTE sid[SECURITY_MAX_SID_SIZE];
          DWORD size = sizeof sid;
          ::CreateWellKnownSid(planted ? WinBuiltinUsersSid : WinBuiltinAdministratorsSid,
                               nullptr, sid, &size);
          engine::SecurityFacts facts;
          facts.known = true;
          facts.owner.assign(sid, sid + size);
          facts.allowed.push_back({facts.owner, FILE_ALL_ACCESS});
          return facts;
        })) {}
  ~planted_where() { engine::SetSecurityQuery(previous_); }
  planted_where(const planted_where&) = delete;
  planted_where& operator=(const planted_where&) = delete;

 private:
  engine::SecurityQuery previous_;
};

}  // namespace trust_test
