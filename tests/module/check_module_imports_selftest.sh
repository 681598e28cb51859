#!/bin/bash
# Shows that check_module_imports.sh finds each import it must refuse: it
# is run on import tables written here (through an objdump stand-in that
# prints them) and on a real DLL that imports a Windows Runtime API set
# (the graphics capture stand-in of the tests), and must fail on each, and
# pass on a table of only allowed imports.
#
# Usage: check_module_imports_selftest.sh OBJDUMP DLL_WITH_WINRT_IMPORT
set -uo pipefail

if [ $# -ne 2 ]; then
  echo "usage: $0 OBJDUMP DLL_WITH_WINRT_IMPORT" >&2
  exit 2
fi
objdump=$1
winrtDll=$2
check="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/check_module_imports.sh"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
# "objdump -p FILE" prints FILE: the tables below stand for modules.
printf '#!/bin/bash\ncat "$2"\n' >"$scratch/objdump"
chmod +x "$scratch/objdump"

# An import table in objdump's layout: "DLL function" pairs.
table() {
  local previous=""
  echo "The Import Tables (interpreted .idata section contents)"
  while read -r dll function; do
    if [ "$dll" != "$previous" ]; then
      printf '\n\tDLL Name: %s\n\tvma:  Hint/Ord Member-Name Bound-To\n' "$dll"
      previous=$dll
    fi
    printf '\t1d148\t  592  %s\n' "$function"
  done
}

failures=0
expect() {
  local want=$1 name=$2 output rc
  output=$(bash "$check" "$scratch/objdump" "$scratch/$name" 2>&1)
  rc=$?
  if [ "$rc" -eq "$want" ]; then
    echo "ok: $name exits with $rc"
  else
    echo "FAILED: $name exits with $rc, not $want:"
    printf '%s\n' "$output" | sed 's/^/    /'
    failures=$((failures + 1))
  fi
}

printf 'KERNEL32.dll CreateThread\ndwmapi.dll DwmGetWindowAttribute\ncombase.dll CoTaskMemAlloc\nole32.dll CoInitializeEx\n' |
  table >"$scratch/allowed"
expect 0 allowed
for entry in "d3d11.dll D3D11CreateDevice" "DXGI.dll CreateDXGIFactory1" "d3d9.dll Direct3DCreate9" \
             "api-ms-win-core-winrt-l1-1-0.dll RoGetActivationFactory" \
             "api-ms-win-core-winrt-string-l1-1-0.dll WindowsCreateStringReference" \
             "combase.dll RoGetActivationFactory" "combase.dll WindowsCreateStringReference" \
             "combase.dll RoInitialize" "mfplat.dll MFStartup"; do
  name=${entry// /-}
  printf 'KERNEL32.dll CreateThread\n%s\n' "$entry" | table >"$scratch/$name"
  expect 1 "$name"
done
echo "no import table" >"$scratch/unreadable"
expect 2 unreadable

if output=$(bash "$check" "$objdump" "$winrtDll" 2>&1); then
  echo "FAILED: $winrtDll passes although it imports the Windows Runtime:"
  printf '%s\n' "$output" | sed 's/^/    /'
  failures=$((failures + 1))
else
  echo "ok: $(basename "$winrtDll") refused: $(printf '%s\n' "$output" | grep -m1 '^FAIL')"
fi

if [ $failures -ne 0 ]; then
  echo "$failures case(s) failed"
  exit 1
fi
echo "all cases found"
