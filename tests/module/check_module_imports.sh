#!/bin/bash
# The module must load where parts of the system are missing, since a DLL
# (or a function) that it imports and the system lacks makes the loader
# refuse the whole module, and the DirectShow camera, which needs none of
# them, would go with it:
# - Media Foundation (Windows N and KN editions without the Media Feature
#   Pack, stripped-down images): the media source loads it when it is first
#   used instead (mf/media_foundation.h);
# - Direct3D, DXGI and the Windows Runtime (Windows 7 has no combase.dll
#   and no winrt API sets; Wine's d3d11.dll has
#   CreateDirect3D11DeviceFromDXGIDevice only as a stub that ends the
#   process): graphics capture looks them up when it first needs them
#   (window/graphics_capture_functions.h).
# So the module's import table names none of Media Foundation's DLLs, no
# Direct3D or DXGI DLL, no Windows Runtime API set, and no Windows Runtime
# function of combase.dll.
#
# Usage: check_module_imports.sh OBJDUMP MODULE
# Prints the DLLs the module imports; exits with 1 when one of them (or a
# function of combase.dll) is one of those, with 2 when the import table
# cannot be read.
set -uo pipefail

if [ $# -ne 2 ]; then
  echo "usage: $0 OBJDUMP MODULE" >&2
  exit 2
fi
objdump=$1
module=$2

if ! dump=$("$objdump" -p "$module"); then
  echo "cannot read the import table of $module" >&2
  exit 2
fi
dump=$(printf '%s\n' "$dump" | tr -d '\r')
imports=$(printf '%s\n' "$dump" | sed -n 's/^[[:space:]]*DLL Name:[[:space:]]*//p')
if ! printf '%s\n' "$imports" | grep -qi '^kernel32\.dll$'; then
  echo "no import table found in $module (not even KERNEL32.dll)" >&2
  exit 2
fi
echo "$module imports:" $imports

found=0
for dll in $imports; do
  case "${dll,,}" in
    mfplat.dll | mf.dll | mfreadwrite.dll | mfsensorgroup.dll | mfcore.dll)
      echo "FAIL: $module imports $dll: the module would not load where Media Foundation is missing"
      found=1
      ;;
    d3d*.dll | dxgi.dll)
      echo "FAIL: $module imports $dll: Direct3D and DXGI are looked up at run time, never imported"
      found=1
      ;;
    api-ms-win-core-winrt-* | api-ms-win-ro-*)
      echo "FAIL: $module imports $dll: the Windows Runtime is looked up at run time, never imported"
      found=1
      ;;
  esac
done
# The functions imported from combase.dll, one per line (the member name
# is the last field of each line below the DLL's name).
combase=$(printf '%s\n' "$dump" | awk '
  /DLL Name:/ { inside = tolower($NF) == "combase.dll"; next }
  inside && NF >= 3 && $1 != "vma:" { print $NF }
  inside && NF == 0 { inside = 0 }')
for function in $combase; do
  case "$function" in
    Ro* | Windows*String* | HSTRING_*)
      echo "FAIL: $module imports $function from combase.dll: the Windows Runtime is looked up at run time, never imported"
      found=1
      ;;
  esac
done
if [ $found -eq 0 ]; then
  echo "OK: no Media Foundation, Direct3D, DXGI or Windows Runtime import"
fi
exit $found
