#!/bin/bash
# The set-up's choice of versions for a mirror whose amd64 and i386 halves
# are out of step (tools/apt-version-pairs.sh, fed by
# tools/apt-policy-versions.sh): plain text in, pairs out, no mirror
# needed. Each case names what it catches.
set -uo pipefail
tools=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../tools" && pwd)
failures=0

# expect NAME EXPECTED INPUT: the chooser's output for INPUT is EXPECTED.
expect() {
  local got
  got=$(printf '%b' "$3" | "$tools/apt-version-pairs.sh" 2>&1)
  if [ "$got" = "$(printf '%b' "$2")" ]; then
    echo "ok: $1"
  else
    echo "FAILED: $1"
    echo "  expected: $(printf '%b' "$2" | tr '\n' '|')"
    echo "  got:      $(printf '%s' "$got" | tr '\n' '|')"
    failures=$((failures + 1))
  fi
}

expect "a newer amd64 version installed: both move to the newest common one" \
  'pin libssl3 3.0.20-1~deb12u2' \
  'libssl3 amd64 installed=3.0.19-1~deb12u2 3.0.22-1~deb12u2 3.0.20-1~deb12u2 3.0.17-1~deb12u2\nlibssl3 i386 3.0.20-1~deb12u2 3.0.17-1~deb12u2\n'
expect "a version only i386 has is not chosen, however new" \
  'pin libzstd1 1.5.4+dfsg2-5' \
  'libzstd1 amd64 installed=1.5.4+dfsg2-5 1.5.4+dfsg2-5\nlibzstd1 i386 1.5.4+dfsg2-5+deb12u1 1.5.4+dfsg2-5\n'
expect "the installed version is kept when i386 offers it, though no amd64 archive does any more" \
  'pin libpng16-16 1.6.39-2+deb12u4' \
  'libpng16-16 amd64 installed=1.6.39-2+deb12u4 1.6.39-2+deb12u5\nlibpng16-16 i386 1.6.39-2+deb12u4 1.6.39-2\n'
expect "epochs order before the upstream version" \
  'pin zlib1g 1:1.2.13.dfsg-1' \
  'zlib1g amd64 installed=1:1.2.13.dfsg-1 1:1.2.13.dfsg-1+deb12u1 1:1.2.13.dfsg-1 1.3-1\nzlib1g i386 1:1.2.13.dfsg-1 1.3-1\n'
expect "~ sorts before the plain version, + after it" \
  'pin libfoo1 2.0-1+b1' \
  'libfoo1 amd64 2.0-1~rc1 2.0-1 2.0-1+b1 2.0-1+b2\nlibfoo1 i386 2.0-1~rc1 2.0-1+b1 2.0-1\n'
expect "no common version" \
  'none libbar1' \
  'libbar1 amd64 installed=2.1-1 2.1-1\nlibbar1 i386 2.2-1 2.0-1\n'
expect "packages in step, or with one side only, need no pair" \
  '' \
  'libok amd64 installed=1.0-1 1.0-1 0.9-1\nlibok i386 0.9-1 1.0-1\nlibonly amd64 3-1\n'
expect "several packages: one line each, in input order" \
  'pin libb 1-1\nnone libc' \
  'libb amd64 2-1 1-1\nlibb i386 1-1\nlibc amd64 5-1\nlibc i386 4-1\n'

# The parser, on the output of `apt-cache policy libssl3 libssl3:i386` as
# a lagging mirror gave it (2026-12-09): a version whose only source is the
# dpkg status file is installed, not offered.
policy='libssl3:
  Installed: 3.0.19-1~deb12u2
  Candidate: 3.0.22-1~deb12u2
  Version table:
     3.0.22-1~deb12u2 500
        500 http://deb.debian.org/debian-security bookworm-security/main amd64 Packages
     3.0.20-1~deb12u2 500
        500 http://deb.debian.org/debian bookworm/main amd64 Packages
 *** 3.0.19-1~deb12u2 100
        100 /var/lib/dpkg/status
libssl3:i386:
  Installed: (none)
  Candidate: 3.0.20-1~deb12u2
  Version table:
     3.0.20-1~deb12u2 500
        500 http://deb.debian.org/debian bookworm/main i386 Packages
     3.0.17-1~deb12u2 500
        500 http://deb.debian.org/debian bookworm-updates/main i386 Packages
zlib1g:
  Installed: 1:1.2.13.dfsg-1
  Candidate: 1:1.2.13.dfsg-1
  Version table:
 *** 1:1.2.13.dfsg-1 500
        500 http://deb.debian.org/debian bookworm/main amd64 Packages
        100 /var/lib/dpkg/status'
got=$(printf '%s\n' "$policy" | "$tools/apt-policy-versions.sh")
want='libssl3 amd64 installed=3.0.19-1~deb12u2 3.0.22-1~deb12u2 3.0.20-1~deb12u2
libssl3 i386 3.0.20-1~deb12u2 3.0.17-1~deb12u2
zlib1g amd64 installed=1:1.2.13.dfsg-1 1:1.2.13.dfsg-1'
if [ "$got" = "$want" ]; then
  echo "ok: apt-cache policy is read into the chooser's lines"
else
  echo "FAILED: apt-cache policy is read into the chooser's lines"
  echo "$got"
  failures=$((failures + 1))
fi
got=$(printf '%s\n' "$policy" | "$tools/apt-policy-versions.sh" | "$tools/apt-version-pairs.sh")
if [ "$got" = "pin libssl3 3.0.20-1~deb12u2" ]; then
  echo "ok: parser and chooser together"
else
  echo "FAILED: parser and chooser together: $got"
  failures=$((failures + 1))
fi

# apt's priorities, on recorded `apt-cache policy` texts (one line per
# case: name | text of tests/setup/recorded/policy | what is pinned): the
# pair is chosen among the versions apt would install, of the priority it
# would install them with.
recorded=$(cd "$(dirname "${BASH_SOURCE[0]}")/recorded/policy" && pwd)
while IFS='|' read -r name text want; do
  name=${name%"${name##*[! ]}"}
  text=${text// /}
  want=${want# }
  got=$("$tools/apt-policy-versions.sh" <"$recorded/$text.txt" | "$tools/apt-version-pairs.sh" 2>&1)
  if [ "$got" = "$want" ]; then
    echo "ok: $name"
  else
    echo "FAILED: $name"
    echo "  expected: $want"
    echo "  got:      $(printf '%s' "$got" | tr '\n' '|')"
    failures=$((failures + 1))
  fi
done <<'EOF'
a version pinned to -1 is never chosen, though both offer it       | pinned-away      | pin libssl3 3.0.17-1~deb12u2
a lag behind a backports version both offer is found and paired at main's | behind-backports | pin libssl3 3.0.20-1~deb12u2
versions of priority-100 archives (testing, unstable) are no lag where main's agree | testing-unstable |
a version of priority below 100 does not replace an installed one  | experimental     | pin libssl3 3.0.17-1~deb12u2
a version older than the installed one is not chosen while another pairs | installed-kept | pin libpng16-16 1.6.39-2+deb12u4
EOF

# tools/setup.sh itself, end to end with stubs.
bash "$(dirname "${BASH_SOURCE[0]}")/setup_test.sh" || failures=$((failures + 1))

echo "apt version pairs: $failures failures"
[ $failures -eq 0 ]
