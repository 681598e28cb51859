#!/bin/bash
# Chooses, for packages that must have one version on both architectures
# (Multi-Arch: same), the version to install on both when a mirror offers
# them out of step (its i386 index lags behind the amd64 one, or the
# reverse): the newest version that both architectures offer.
#
# Input on stdin, one line per package and architecture, versions in any
# order (what the archives offer; "installed=V" marks the version that is
# installed on that architecture, which that side may keep even when no
# archive offers it any more):
#   libssl3 amd64 installed=3.0.19-1 3.0.22-1 3.0.20-1
#   libssl3 i386 3.0.20-1 3.0.17-1
# Output, one line per package whose versions differ (packages in step
# print nothing):
#   pin libssl3 3.0.20-1        install this version on both
#   none libfoo                 no version is offered on both
#
# Versions compare as Debian versions (epochs, "~", "+"), through
# dpkg --compare-versions. The choice is a function of the text alone, so
# that its test needs no mirror.
set -euo pipefail

# The newest of the versions given as arguments (empty when none).
newest() {
  local best="" v
  for v in "$@"; do
    if [ -z "$best" ] || dpkg --compare-versions "$v" gt "$best"; then
      best=$v
    fi
  done
  printf '%s' "$best"
}

declare -A offered_amd64 offered_i386 installed_amd64 installed_i386 seen
order=()
while read -r package arch rest; do
  [ -n "${package:-}" ] || continue
  case "$package" in \#*) continue ;; esac
  offered="" installed=""
  for word in $rest; do
    case "$word" in
      installed=*) installed=${word#installed=} ;;
      *) offered+=" $word" ;;
    esac
  done
  case "$arch" in
    amd64) offered_amd64[$package]=$offered; installed_amd64[$package]=$installed ;;
    i386) offered_i386[$package]=$offered; installed_i386[$package]=$installed ;;
    *) echo "apt-version-pairs: unknown architecture \"$arch\" for $package" >&2; exit 2 ;;
  esac
  if [ -z "${seen[$package]:-}" ]; then
    seen[$package]=1
    order+=("$package")
  fi
done

for package in "${order[@]}"; do
  # shellcheck disable=SC2086 # the lists are words
  {
    a_offered=(${offered_amd64[$package]:-})
    i_offered=(${offered_i386[$package]:-})
  }
  a_installed=${installed_amd64[$package]:-}
  i_installed=${installed_i386[$package]:-}
  # Without any version on one side the package does not need a pair.
  if [ ${#a_offered[@]} -eq 0 ] && [ -z "$a_installed" ]; then continue; fi
  if [ ${#i_offered[@]} -eq 0 ] && [ -z "$i_installed" ]; then continue; fi
  # What apt would take on each side: the newest it knows of, the
  # installed version included (apt never downgrades by itself).
  a_candidate=$(newest ${a_offered[@]+"${a_offered[@]}"} $a_installed)
  i_candidate=$(newest ${i_offered[@]+"${i_offered[@]}"} $i_installed)
  if [ "$a_candidate" = "$i_candidate" ] ||
     dpkg --compare-versions "$a_candidate" eq "$i_candidate"; then
    continue
  fi
  # What each side can have: what is offered, or what it keeps.
  common=()
  for v in ${a_offered[@]+"${a_offered[@]}"} $a_installed; do
    for w in ${i_offered[@]+"${i_offered[@]}"} $i_installed; do
      if dpkg --compare-versions "$v" eq "$w"; then
        common+=("$v")
        break
      fi
    done
  done
  if [ ${#common[@]} -eq 0 ]; then
    echo "none $package"
  else
    echo "pin $package $(newest "${common[@]}")"
  fi
done
