#!/bin/bash
# The module must load where Media Foundation is missing (Windows N and KN
# editions without the Media Feature Pack, stripped-down images): a DLL
# that it imports and the system lacks makes the loader refuse the whole
# module, and the DirectShow camera, which needs none of Media Foundation,
# would go with it. The media source loads Media Foundation when it is
# first used instead (mf/media_foundation.h), so the module's import table
# names none of its DLLs.
#
# Usage: check_module_imports.sh OBJDUMP MODULE
# Prints the DLLs the module imports; exits with 1 when one of them is a
# Media Foundation DLL, with 2 when the import table cannot be read.
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
imports=$(printf '%s\n' "$dump" | sed -n 's/^[[:space:]]*DLL Name:[[:space:]]*//p' | tr -d '\r')
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
  esac
done
if [ $found -eq 0 ]; then
  echo "OK: no Media Foundation DLL among the imports"
fi
exit $found
