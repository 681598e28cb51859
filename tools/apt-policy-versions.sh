#!/bin/bash
# Turns the output of `apt-cache policy NAME NAME:i386 ...` (stdin, read in
# the C locale) into the plain lines tools/apt-version-pairs.sh reads: per
# package and architecture, the versions some archive offers, and
# "installed=V" for the installed one, each with apt's priority for it as
# "@P" where it is not the default (500 for an archive's version, 100 for
# the installed one that no archive offers). A version whose only source is
# the dpkg status file is installed, not offered.
#
# The package header is "name:" for the native architecture (amd64) and
# "name:i386:" for the foreign one. The priority is the number on the
# version's own line: apt's priority for that version, a pin's where one
# applies (a version pinned to -1 shows -1 there, though its sources' lines
# show their own 500), else the highest of its sources'.
set -euo pipefail
exec awk '
function flush() {
  if (pkg == "") return
  line = pkg " " arch
  if (installed != "" && installed != "(none)") {
    line = line " installed=" installed
    if (!offered[installed] && priority[installed] != "" && priority[installed] != 100)
      line = line "@" priority[installed]
  }
  for (i = 1; i <= n; i++) {
    v = versions[i]
    if (!offered[v]) continue
    line = line " " v
    if (priority[v] != 500) line = line "@" priority[v]
  }
  print line
  pkg = ""; n = 0; installed = ""; delete offered; delete priority
}
/^[^ ].*:$/ {
  flush()
  name = substr($0, 1, length($0) - 1)
  arch = "amd64"
  if (name ~ /:i386$/) { arch = "i386"; name = substr(name, 1, length(name) - 5) }
  else if (name ~ /:amd64$/) { name = substr(name, 1, length(name) - 6) }
  pkg = name
  next
}
pkg == "" { next }
$1 == "Installed:" { installed = $2; next }
$1 == "Candidate:" || $1 == "Version" { next }
# A version line: "     V PRIO" or " *** V PRIO".
/^     [^ ]/ || /^ \*\*\* / {
  if ($1 == "***") { v = $2; p = $3 } else { v = $1; p = $2 }
  versions[++n] = v
  offered[v] = 0
  priority[v] = p
  current = v
  next
}
# A source line of the current version: "        PRIO SOURCE ...".
/^        *[0-9-]+ / {
  if ($2 != "/var/lib/dpkg/status") offered[current] = 1
  next
}
END { flush() }
'
