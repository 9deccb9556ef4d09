#!/usr/bin/env bash
# The import check fails, naming the file, for a file that is missing and for one that is no
# Windows executable; a real executable still passes.
#   check_imports_test.sh CHECK_SCRIPT EXE NOT_AN_EXE
set -u
check=$1 exe=$2 text=$3
missing="$(dirname "$exe")/no-such-program.exe"
failed=0
for file in "$missing" "$text"; do
  if out=$("$check" "$file"); then
    echo "FAIL: passed for $file: $out"; failed=1
  elif ! grep -qF "$file: not a Windows executable" <<<"$out"; then
    echo "FAIL: no reason naming $file: $out"; failed=1
  fi
done
if ! out=$("$check" "$exe"); then echo "FAIL: refused $exe: $out"; failed=1; fi
[ $failed -eq 0 ] && echo "the import check fails for a missing file and for a file that is no executable"
exit $failed
