#!/bin/bash
# Chooses, for packages that must have one version on both architectures
# (Multi-Arch: same), the version to install on both when a mirror offers
# them out of step (its i386 index lags behind the amd64 one, or the
# reverse).
#
# Input on stdin, one line per package and architecture, versions in any
# order: what the archives offer, and "installed=V" for the version that is
# installed on that architecture (which that side may keep even when no
# archive offers it any more). "@P" after a version is apt's priority for
# it (a pin's, else the highest of its sources'); without it a version has
# an archive's default, 500, and an installed version that no archive
# offers has the dpkg status file's, 100:
#   libssl3 amd64 installed=3.0.19-1 3.0.22-1 3.0.20-1 3.5.1-1~bpo12+1@100
#   libssl3 i386 3.0.20-1 3.0.18-1@-1 3.5.1-1~bpo12+1@100
# Output, one line per package whose versions differ (packages in step
# print nothing):
#   pin libssl3 3.0.20-1        install this version on both
#   none libfoo                 no version is offered on both
#
# What apt would install on one side (its candidate), by its rules:
#  1. never a version of priority below 1 (-1 is a pin that forbids it, 0
#     is undefined), nor, where a version is installed, one below 100
#     (experimental's 1, say: those are for what is not installed);
#  2. no version older than the installed one, unless its priority is 1000
#     or more (apt does not downgrade by itself);
#  3. of the rest, the version of the highest priority, the newest of those
#     of equal priority.
# The sides are out of step when their candidates differ (the newest
# versions alone do not tell: backports, priority 100, may offer the same
# version on both sides while main's lag). The pair is then chosen among the
# versions that both sides keep after rule 1, as rule 3 chooses: those of
# the highest priority that some version of both sides has, the newest of
# them. So apt installs the pair with the priority it gives its candidates
# where such a pair exists (main's, not backports'), and one of lower
# priority only where none does; a version it never installs is never
# chosen. A pair's priority is the higher of its two sides': where they
# differ, one side has the version only installed, and the status file's
# 100 says nothing of how much the other side's archives want it (so the
# installed version that the other side offers is kept rather than both
# going back to an older one). The pairing may downgrade (rule 2 is not
# applied to it): a pair older than the installed version is chosen where
# no newer pair of its priority exists; the set-up installs it with
# --allow-downgrades.
#
# Versions compare as Debian versions (epochs, "~", "+"), through
# dpkg --compare-versions. The choice is a function of the text alone, so
# that its test needs no mirror.
set -euo pipefail

# A version with its priority is one word, "V@P" ("@" is not among the
# characters of a Debian version).

# best WORD...: the version of the highest priority, the newest of equals
# (empty when there is none).
best() {
  local version="" priority="" word
  for word in "$@"; do
    if [ -z "$version" ] || [ "${word##*@}" -gt "$priority" ] ||
       { [ "${word##*@}" -eq "$priority" ] && dpkg --compare-versions "${word%@*}" gt "$version"; }; then
      version=${word%@*} priority=${word##*@}
    fi
  done
  printf '%s' "$version"
}

# installable INSTALLED WORD...: the words apt would install at all (rule
# 1), INSTALLED being the side's installed version (empty when none is).
installable() {
  local installed=$1 word
  shift
  for word in "$@"; do
    [ "${word##*@}" -ge 1 ] || continue
    [ -z "$installed" ] || [ "${word##*@}" -ge 100 ] || continue
    echo "$word"
  done
}

# candidate INSTALLED WORD...: what apt would install of the installable
# words (rules 2 and 3).
candidate() {
  local installed=$1 word kept=()
  shift
  for word in "$@"; do
    if [ -n "$installed" ] && [ "${word##*@}" -lt 1000 ] &&
       dpkg --compare-versions "${word%@*}" lt "$installed"; then
      continue
    fi
    kept+=("$word")
  done
  best ${kept[@]+"${kept[@]}"}
}

# same A B: whether A and B are the same version (both empty included).
same() {
  [ "$1" = "$2" ] || { [ -n "$1" ] && [ -n "$2" ] && dpkg --compare-versions "$1" eq "$2"; }
}

declare -A words_amd64 words_i386 installed_amd64 installed_i386 seen
order=()
while read -r package arch rest; do
  [ -n "${package:-}" ] || continue
  case "$package" in \#*) continue ;; esac
  words="" offered=" " installed="" installed_priority=100
  for word in $rest; do
    case "$word" in
      installed=*@*) installed=${word#installed=}; installed_priority=${installed##*@}; installed=${installed%@*} ;;
      installed=*) installed=${word#installed=} ;;
      *@*) words+=" $word"; offered+="${word%@*} " ;;
      *) words+=" $word@500"; offered+="$word " ;;
    esac
  done
  # The installed version that no archive offers: that side may keep it.
  case "$offered" in
    *" $installed "*) ;;
    *) [ -z "$installed" ] || words+=" $installed@$installed_priority" ;;
  esac
  case "$arch" in
    amd64) words_amd64[$package]=$words; installed_amd64[$package]=$installed ;;
    i386) words_i386[$package]=$words; installed_i386[$package]=$installed ;;
    *) echo "apt-version-pairs: unknown architecture \"$arch\" for $package" >&2; exit 2 ;;
  esac
  if [ -z "${seen[$package]:-}" ]; then
    seen[$package]=1
    order+=("$package")
  fi
done

for package in "${order[@]}"; do
  a_installed=${installed_amd64[$package]:-}
  i_installed=${installed_i386[$package]:-}
  # shellcheck disable=SC2086 # the lists are words
  {
    mapfile -t a_words < <(installable "$a_installed" ${words_amd64[$package]:-})
    mapfile -t i_words < <(installable "$i_installed" ${words_i386[$package]:-})
  }
  # A side without any version apt would install does not need a pair (or
  # cannot be helped by one).
  [ ${#a_words[@]} -gt 0 ] && [ ${#i_words[@]} -gt 0 ] || continue
  if same "$(candidate "$a_installed" "${a_words[@]}")" "$(candidate "$i_installed" "${i_words[@]}")"; then
    continue
  fi
  common=()
  for a in "${a_words[@]}"; do
    for i in "${i_words[@]}"; do
      if dpkg --compare-versions "${a%@*}" eq "${i%@*}"; then
        priority=${a##*@}
        [ "${i##*@}" -le "$priority" ] || priority=${i##*@}
        common+=("${a%@*}@$priority")
        break
      fi
    done
  done
  if [ ${#common[@]} -eq 0 ]; then
    echo "none $package"
  else
    echo "pin $package $(best "${common[@]}")"
  fi
done
