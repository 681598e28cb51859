#!/bin/bash
# Checks the layering of the module's code beyond what the include roots
# of cmake/Layers.cmake catch:
#
#  1. No source file of a layer's folder includes a path with a ".."
#     component. Such an include is resolved from the including file's
#     own folder, so "../page/x.h" in capture/ would compile although
#     capture/'s include roots do not see page/.
#  2. No symbol that a layer's archive leaves undefined is defined only by
#     archives of layers it does not stand on: a layer above it, or a
#     sibling (two layers on the same ground, neither of which may use the
#     other). The include roots stop headers, not declarations written by
#     hand (an "extern" of a variable that only a higher layer defines),
#     and a static library links whatever the final program happens to
#     hold.
#
# Usage:
#   check_layers.sh --source DIR --nm NM [--cxxfilt CXXFILT] NAME=ARCHIVE[:BELOW,...]...
# The NAME=ARCHIVE pairs name the layers bottom up: the folder of the
# layer under DIR and its static library. BELOW names the layers it stands
# on directly (what they stand on counts too); without it, a layer stands
# on every layer named before it. NM is the cross toolchain's nm (it reads
# the archives' COFF objects); CXXFILT, when given, demangles the names in
# the messages.
#
# Prints one line per finding and a summary; exits with 1 when it found
# anything, with 2 on a usage error or an archive it cannot read.
set -uo pipefail

usage() {
  echo "usage: $0 --source DIR --nm NM [--cxxfilt CXXFILT] NAME=ARCHIVE[:BELOW,...]..." >&2
  exit 2
}

source_dir=
nm_tool=
cxxfilt_tool=
names=()
archives=()
belows=()
while [ $# -gt 0 ]; do
  case "$1" in
    --source) [ $# -ge 2 ] || usage; source_dir=$2; shift 2 ;;
    --nm) [ $# -ge 2 ] || usage; nm_tool=$2; shift 2 ;;
    --cxxfilt) [ $# -ge 2 ] || usage; cxxfilt_tool=$2; shift 2 ;;
    *=*)
      names+=("${1%%=*}")
      value=${1#*=}
      # The archive path may hold ":" only where no BELOW list follows.
      if [[ "$value" == *:* && "${value##*:}" != */* ]]; then
        archives+=("${value%:*}"); belows+=("${value##*:}")
      else
        archives+=("$value"); belows+=("-")
      fi
      shift ;;
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

# Which layers each layer stands on: the BELOW lists, closed over what
# those stand on; a layer without a list stands on all named before it.
# One line per layer: "level allowed-level allowed-level ...".
for i in "${!names[@]}"; do
  echo "$i ${names[$i]} ${belows[$i]}"
done | awk '
  { level[$2] = $1; name[$1] = $2; below[$1] = $3; count = NR }
  END {
    for (i = 0; i < count; i++) {
      if (below[i] == "-") { for (j = 0; j < i; j++) allowed[i, j] = 1; continue }
      n = split(below[i], direct, ",")
      for (k = 1; k <= n; k++) {
        if (direct[k] == "") continue
        if (!(direct[k] in level)) { print "unknown " name[i] " " direct[k] > "/dev/stderr"; exit 2 }
        allowed[i, level[direct[k]]] = 1
      }
    }
    # Closed over what the lower layers stand on (named bottom up, so one
    # pass from the bottom suffices).
    for (i = 0; i < count; i++)
      for (j = 0; j < count; j++)
        if (allowed[i, j]) for (k = 0; k < count; k++) if (allowed[j, k]) allowed[i, k] = 1
    for (i = 0; i < count; i++) {
      line = i
      for (j = 0; j < count; j++) if (j == i || allowed[i, j]) line = line " " j
      print line
    }
  }' >"$work/allowed" || { echo "layers: a BELOW list names a layer that is not listed" >&2; exit 2; }

# One line per symbol defined in some layer: "level layer member symbol",
# every definition listed. Then, per undefined symbol of a layer: a
# finding when no layer it may use defines it, but another layer does.
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
    FILENAME == ARGV[1] { if ($1 == level) for (k = 2; k <= NF; k++) usable[$k] = 1; next }
    FILENAME == ARGV[2] {
      # definitions: level layer member symbol
      if ($1 in usable) served[$4] = 1
      else if (!($4 in where)) where[$4] = $2 " (" $3 ")"
      next
    }
    NF >= 3 {
      member = $1; sub(/:$/, "", member); sub(/^.*\//, "", member)
      symbol = $2
      if (!(symbol in served) && (symbol in where)) {
        print symbol "\t" layer " (" member ")\t" where[symbol]
      }
    }
  ' "$work/allowed" "$work/definitions" "$work/undefined.$i"
done | sort -u >"$work/upward"

if [ -s "$work/upward" ]; then
  cut -f1 "$work/upward" | demangle >"$work/upward.names"
  while IFS=$'\t' read -r _ user definer <&3 && IFS= read -r readable <&4; do
    echo "layers: $user uses $readable, which only $definer defines, a layer that ${user%% *} does not stand on"
    findings=$((findings + 1))
  done 3<"$work/upward" 4<"$work/upward.names"
fi

layer_list=$(IFS=' '; echo "${names[*]}")
if [ "$findings" -gt 0 ]; then
  echo "layers: FAILED: $findings finding(s) in the layers $layer_list (bottom up)"
  exit 1
fi
echo "layers: OK: layers $layer_list (bottom up); $files_checked files without a relative include" \
  "climbing out; $symbols_checked undefined symbol references, none defined only by a layer above or beside"
exit 0
