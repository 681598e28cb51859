#!/bin/bash
# Builds both architectures (x86 and x64) into the build folder
# (QM_BUILD_DIR, default ./build): build/x86/bin and build/x64/bin.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${QM_BUILD_DIR:-$root/build}
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
cmake --build "$build" -j"$(nproc)"
