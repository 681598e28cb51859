#!/bin/bash
# Checks the layering of the module's code beyond what the include roots
# of cmake/Layers.cmake catch:
#
#  1. No source file of a layer's folder includes a path with a ".."
#     component. Such an include is resolved from the including file's
#     own folder, so "../page/x.h" in capture/ would compile although
#     capture/'s include roots do not see page/.
#  2. No symbol that a layer's archive leaves undefined is defined by a
#     higher layer's archive and by no archive of that layer or below.
#     The include roots stop headers, not declarations written by hand
#     (an "extern" of a variable that only a higher layer defines), and a
#     static library links whatever the final program happens to hold.
#
# Usage:
#   check_layers.sh --source DIR --nm NM [--cxxfilt CXXFILT] NAME=ARCHIVE...
# The NAME=ARCHIVE pairs name the layers bottom up: the folder of the
# layer under DIR and its static library. NM is the cross toolchain's nm
# (it reads the archives' COFF objects); CXXFILT, when given, demangles
# the names in the messages.
#
# Prints one line per finding and a summary; exits with 1 when it found
# anything, with 2 on a usage error or an archive it cannot read.
set -uo pipefail

usage() {
  echo "usage: $0 --source DIR --nm NM [--cxxfilt CXXFILT] NAME=ARCHIVE..." >&2
  exit 2
}

source_dir=
nm_tool=
cxxfilt_tool=
names=()
archives=()
while [ $# -gt 0 ]; do
  case "$1" in
    --source) [ $# -ge 2 ] || usage; source_dir=$2; shift 2 ;;
    --nm) [ $# -ge 2 ] || usage; nm_tool=$2; shift 2 ;;
    --cxxfilt) [ $# -ge 2 ] || usage; cxxfilt_tool=$2; shift 2 ;;
    *=*) names+=("${1%%=*}"); archives+=("${1#*=}"); shift ;;
    *) usage ;;
  esac
done
[ -n "$source_dir" ] && [ -n "$nm_tool" ] && [ ${#names[@]} -gt 0 ] || usage

demangle() {
  if [ -n "$cxxfilt_tool" ]; then
    "$cxxfilt_tool"
  else
    cat
  fi
}

findings=0

# 1. Includes with a ".." component, in the C, C++ and resource files of a
#    layer's folder.
include_pattern='^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"][^">]*\.\.[/\\]'
files_checked=0
for name in "${names[@]}"; do
  folder="$source_dir/$name"
  if [ ! -d "$folder" ]; then
    echo "layers: no folder $folder for the layer $name" >&2
    exit 2
  fi
  while IFS= read -r -d '' file; do
    files_checked=$((files_checked + 1))
    while IFS= read -r hit; do
      [ -n "$hit" ] || continue
      echo "layers: ${file#"$source_dir"/}:${hit%%:*}: relative include out of the layer's include roots" \
        "(layer $name): ${hit#*:}"
      findings=$((findings + 1))
    done < <(grep -nE "$include_pattern" "$file")
  done < <(find "$folder" -type f \( -name '*.h' -o -name '*.hpp' -o -name '*.inl' -o -name '*.c' -o -name '*.cpp' \
              -o -name '*.rc' \) -print0 | sort -z)
done

# 2. Undefined symbols that only a higher layer defines.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for i in "${!names[@]}"; do
  archive=${archives[$i]}
  if [ ! -r "$archive" ]; then
    echo "layers: cannot read the archive $archive of the layer ${names[$i]} (is it built?)" >&2
    exit 2
  fi
  # -P -A: "archive[member]: symbol type ..." one symbol a line.
  if ! "$nm_tool" -P -A --defined-only "$archive" >"$work/defined.$i" 2>"$work/nm.err" ||
     ! "$nm_tool" -P -A -u "$archive" >"$work/undefined.$i" 2>>"$work/nm.err"; then
    echo "layers: $nm_tool cannot read $archive:" >&2
    cat "$work/nm.err" >&2
    exit 2
  fi
done

# One line per symbol defined in some layer: "level layer member symbol",
# every definition listed. Then, per undefined symbol of a layer: the
# lowest level that defines it; a level above the user's is a finding.
for i in "${!names[@]}"; do
  awk -v level="$i" -v layer="${names[$i]}" '
    NF >= 3 { member = $1; sub(/:$/, "", member); sub(/^.*\//, "", member); print level, layer, member, $2 }
  ' "$work/defined.$i"
done >"$work/definitions"

symbols_checked=0
for i in "${!names[@]}"; do
  count=$(awk 'NF >= 3' "$work/undefined.$i" | wc -l)
  symbols_checked=$((symbols_checked + count))
done
for i in "${!names[@]}"; do
  awk -v level="$i" -v layer="${names[$i]}" '
    FNR == NR {
      # definitions: level layer member symbol
      if (!($4 in lowest) || $1 < lowest[$4]) { lowest[$4] = $1; where[$4] = $2 " (" $3 ")" }
      next
    }
    NF >= 3 {
      member = $1; sub(/:$/, "", member); sub(/^.*\//, "", member)
      symbol = $2
      if ((symbol in lowest) && lowest[symbol] > level) {
        print symbol "\t" layer " (" member ")\t" where[symbol]
      }
    }
  ' "$work/definitions" "$work/undefined.$i"
done | sort -u >"$work/upward"

if [ -s "$work/upward" ]; then
  cut -f1 "$work/upward" | demangle >"$work/upward.names"
  while IFS=$'\t' read -r _ user definer <&3 && IFS= read -r readable <&4; do
    echo "layers: $user uses $readable, which only the higher layer $definer defines"
    findings=$((findings + 1))
  done 3<"$work/upward" 4<"$work/upward.names"
fi

layer_list=$(IFS=' '; echo "${names[*]}")
if [ "$findings" -gt 0 ]; then
  echo "layers: FAILED: $findings finding(s) in the layers $layer_list (bottom up)"
  exit 1
fi
echo "layers: OK: layers $layer_list (bottom up); $files_checked files without a relative include" \
  "climbing out; $symbols_checked undefined symbol references, none defined only by a higher layer"
exit 0
