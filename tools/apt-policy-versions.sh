#!/bin/bash
# Turns the output of `apt-cache policy NAME NAME:i386 ...` (stdin) into the
# plain lines tools/apt-version-pairs.sh reads: per package and
# architecture, the versions some archive offers, and "installed=V" for
# the installed one. A version whose only source is the dpkg status file
# is installed, not offered.
#
# The package header is "name:" for the native architecture (amd64) and
# "name:i386:" for the foreign one.
set -euo pipefail
exec awk '
function flush() {
  if (pkg == "") return
  line = pkg " " arch
  if (installed != "" && installed != "(none)") line = line " installed=" installed
  for (i = 1; i <= n; i++) if (offered[versions[i]]) line = line " " versions[i]
  print line
  pkg = ""; n = 0; installed = ""; delete offered
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
  v = ($1 == "***") ? $2 : $1
  versions[++n] = v
  offered[v] = 0
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
