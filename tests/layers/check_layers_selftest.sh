#!/bin/bash
# Shows that check_layers.sh finds what it is there to find: it builds
# small layered trees with the cross compiler, each with one known hole or
# none, and runs the check on them.
#
# Usage: check_layers_selftest.sh --cxx CXX --ar AR --nm NM
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
cxx=
ar_tool=
nm_tool=
while [ $# -gt 0 ]; do
  case "$1" in
    --cxx) cxx=$2; shift 2 ;;
    --ar) ar_tool=$2; shift 2 ;;
    --nm) nm_tool=$2; shift 2 ;;
    *) echo "usage: $0 --cxx CXX --ar AR --nm NM" >&2; exit 2 ;;
  esac
done
[ -n "$cxx" ] && [ -n "$ar_tool" ] && [ -n "$nm_tool" ] || { echo "usage: $0 --cxx CXX --ar AR --nm NM" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

# make_tree NAME: an empty tree with the folders of three layers.
make_tree() {
  rm -rf "${work:?}/$1"
  mkdir -p "$work/$1/low" "$work/$1/mid" "$work/$1/top"
}

# build_layers NAME: each layer's .cpp files into lib<layer>.a, built
# outside the source folders.
build_layers() {
  local tree=$work/$1 layer source object
  for layer in low mid top; do
    local objects=()
    mkdir -p "$tree/build/$layer"
    for source in "$tree/$layer"/*.cpp; do
      [ -e "$source" ] || continue
      object=$tree/build/$layer/$(basename "$source").obj
      "$cxx" -std=c++17 -I"$tree" -c "$source" -o "$object" || return 1
      objects+=("$object")
    done
    rm -f "$tree/build/lib$layer.a"
    "$ar_tool" rcs "$tree/build/lib$layer.a" "${objects[@]}" || return 1
  done
}

# expect NAME STATUS TEXT...: the check on the tree exits with STATUS and
# prints every TEXT.
expect() {
  local name=$1 status=$2 output actual text missing=
  shift 2
  if ! build_layers "$name"; then
    echo "selftest: $name: the tree did not build"
    failures=$((failures + 1))
    return
  fi
  # mid_below, top_below: what those layers stand on (":low", say);
  # empty for a plain stack.
  output=$("$here/check_layers.sh" --source "$work/$name" --nm "$nm_tool" \
    low="$work/$name/build/liblow.a" mid="$work/$name/build/libmid.a${mid_below:-}" \
    top="$work/$name/build/libtop.a${top_below:-}" 2>&1)
  actual=$?
  for text in "$@"; do
    grep -qF -- "$text" <<<"$output" || missing+=" \"$text\""
  done
  if [ "$actual" -ne "$status" ] || [ -n "$missing" ]; then
    echo "selftest: $name: expected exit $status and the text${missing:-s}, got exit $actual:"
    sed 's/^/    /' <<<"$output"
    failures=$((failures + 1))
  else
    echo "selftest: $name: exit $actual as expected"
    sed 's/^/    /' <<<"$output"
  fi
}

# Calls only go down: no finding.
make_tree clean
cat >"$work/clean/low/low.cpp" <<'EOF'
int LowValue() { return 1; }
EOF
cat >"$work/clean/mid/mid.cpp" <<'EOF'
int LowValue();
int MidValue() { return LowValue() + 1; }
EOF
cat >"$work/clean/top/top.cpp" <<'EOF'
int MidValue();
int TopValue() { return MidValue() + 1; }
EOF
expect clean 0 "layers: OK"

# The bottom layer reads a variable that only the top layer defines (the
# shape of the old extern HINSTANCE g_hInst).
make_tree upward_variable
cat >"$work/upward_variable/low/low.cpp" <<'EOF'
extern int g_topState;
int LowValue() { return g_topState; }
EOF
cat >"$work/upward_variable/top/top.cpp" <<'EOF'
int g_topState = 3;
EOF
# (i686 names carry a leading underscore, x64 names none.)
expect upward_variable 1 "low (liblow.a[low.cpp.obj]) uses " \
  "g_topState, which only top (libtop.a[top.cpp.obj]) defines, a layer that low does not stand on"

# The middle layer calls a function of the top layer.
make_tree upward_call
cat >"$work/upward_call/mid/mid.cpp" <<'EOF'
int TopHelper();
int MidValue() { return TopHelper(); }
EOF
cat >"$work/upward_call/top/top.cpp" <<'EOF'
int TopHelper() { return 4; }
EOF
expect upward_call 1 "which only top (libtop.a[top.cpp.obj]) defines, a layer that mid does not stand on"

# Siblings: mid and top both stand on low alone, so neither may use the
# other, although top is named after mid.
make_tree sibling_call
cat >"$work/sibling_call/low/low.cpp" <<'EOF'
int LowValue() { return 1; }
EOF
cat >"$work/sibling_call/mid/mid.cpp" <<'EOF'
int LowValue();
int MidValue() { return LowValue() + 1; }
EOF
cat >"$work/sibling_call/top/top.cpp" <<'EOF'
int MidValue();
int TopValue() { return MidValue() + 1; }
EOF
mid_below=:low top_below=:low expect sibling_call 1 \
  "top (libtop.a[top.cpp.obj]) uses " "MidValue" \
  "which only mid (libmid.a[mid.cpp.obj]) defines, a layer that top does not stand on"
# The same tree with top standing on mid: no finding.
mid_below=:low top_below=:mid expect sibling_call 0 "layers: OK"

# A symbol that a lower layer defines as well as a higher one is not a
# finding: the layer's own or a lower definition serves it.
make_tree defined_below_too
cat >"$work/defined_below_too/low/low.cpp" <<'EOF'
int Shared() { return 5; }
EOF
cat >"$work/defined_below_too/mid/mid.cpp" <<'EOF'
int Shared();
int MidValue() { return Shared(); }
EOF
cat >"$work/defined_below_too/top/top.cpp" <<'EOF'
int Shared() { return 7; }
EOF
expect defined_below_too 0 "layers: OK"

# A relative include out of the layer's folder, which the include roots
# cannot stop: the compiler finds it from the including file's folder.
make_tree relative_include
cat >"$work/relative_include/top/top.h" <<'EOF'
#pragma once
inline int TopInline() { return 6; }
EOF
cat >"$work/relative_include/top/top.cpp" <<'EOF'
#include "top/top.h"
int TopValue() { return TopInline(); }
EOF
cat >"$work/relative_include/mid/mid.cpp" <<'EOF'
// Includes a header of the layer above.
#include "../top/top.h"
int MidValue() { return TopInline(); }
EOF
expect relative_include 1 "mid/mid.cpp:2: relative include"

if [ "$failures" -gt 0 ]; then
  echo "selftest: FAILED: $failures case(s)"
  exit 1
fi
echo "selftest: OK: the check passes the clean trees and finds every hole"
