#!/usr/bin/env bash
# Fails when an executable imports a DLL that Windows itself does not provide (a MinGW runtime
# DLL such as libstdc++-6.dll, libgcc_s_dw2-1.dll or libwinpthread-1.dll): every program must run
# alone, without files beside it.
set -u
status=0
for exe in "$@"; do
  while read -r dll; do
    case "${dll,,}" in
      kernel32.dll|user32.dll|gdi32.dll|advapi32.dll|shell32.dll|shlwapi.dll|ole32.dll|\
      oleaut32.dll|comctl32.dll|comdlg32.dll|version.dll|bcrypt.dll|msvcrt.dll|uxtheme.dll|\
      ntdll.dll|ws2_32.dll|userenv.dll) ;;
      *) echo "$(basename "$exe") imports $dll"; status=1 ;;
    esac
  done < <(i686-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p')
done
[ $status -eq 0 ] && echo "$# executables import only Windows DLLs"
exit $status
