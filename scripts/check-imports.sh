#!/usr/bin/env bash
# Checks the DLLs that executables name in their import tables (read on the build machine).
#
#   check-imports.sh EXE...            every DLL must be one Windows itself provides: no MinGW
#                                      runtime DLL (libstdc++-6.dll, libwinpthread-1.dll, ...), so
#                                      that every program runs alone, without files beside it.
#   check-imports.sh --shipped EXE...  stricter, for the programs that run elevated on users'
#                                      machines: every DLL must be one that Windows always takes
#                                      from its system folder (a KnownDLL), or comctl32, which the
#                                      common-controls manifest redirects. Any other DLL would be
#                                      looked for beside the executable first, where a planted
#                                      copy would run elevated before any of our code; such DLLs
#                                      are delay-loaded instead (cmake/DelayLoad.cmake).
#
# Each offending import is printed as "<exe> imports <dll>", and a missing file or one that is no
# readable Windows executable as "<file>: not a Windows executable that can be read"; the exit
# status is 1 when there is one.
set -u

# KnownDLLs of every supported Windows version (plus ntdll, which is always loaded first).
known_dlls="kernel32.dll user32.dll gdi32.dll advapi32.dll shell32.dll shlwapi.dll ole32.dll
oleaut32.dll comdlg32.dll msvcrt.dll ws2_32.dll ntdll.dll"
redirected_dlls="comctl32.dll"
# Further DLLs that Windows provides, allowed for tools, tests and stand-ins.
system_dlls="version.dll bcrypt.dll uxtheme.dll userenv.dll"

allowed="$known_dlls $redirected_dlls $system_dlls"
if [ "${1:-}" = --shipped ]; then
  allowed="$known_dlls $redirected_dlls"
  shift
fi

status=0
for exe in "$@"; do
  # A file objdump cannot read as a Windows executable is a failure, never an empty import list.
  if ! headers=$(objdump -p "$exe" 2>&1) || ! grep -q "file format pei-" <<<"$headers"; then
    echo "$exe: not a Windows executable that can be read"
    status=1
    continue
  fi
  while read -r dll; do
    case " $(echo $allowed) " in
      *" ${dll,,} "*) ;;
      *) echo "$(basename "$exe") imports $dll"; status=1 ;;
    esac
  done < <(sed -n 's/^\s*DLL Name: //p' <<<"$headers")
done
[ $status -eq 0 ] && echo "$# executables import only allowed DLLs"
exit $status
