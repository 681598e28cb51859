#!/bin/bash
# tools/setup.sh end to end, without touching the machine: apt-get,
# apt-cache, dpkg, dpkg-query, sudo, id and sleep are stubs
# (tests/setup/stubs) that answer with recorded texts (tests/setup/recorded)
# and write each call down. The set-up runs from a copy of tools/ whose
# can-run-x86.sh says that the kernel runs 32-bit programs, so that the
# 32-bit Wine is among what it installs on any machine.
#
# A case is one line "NAME | GIVEN | WANT":
#   GIVEN  update=TEXT:STATUS,...   the answers to apt-get update, in turn
#                                   (the last one repeats; default update-ok:0)
#          install=TEXT:STATUS,...  the same for apt-get install (default ok:0)
#          mirror=NAME              apt-cache's recorded policy text
#          locale=de                the user's language is German
#   WANT   exit=N updates=N installs=N pauses=N   the set-up's status, how
#                                   often apt-get update and install ran, how
#                                   often it paused
#          reason=yes|no            whether it wrote why the x86 tests skip
#          call~RE / nocall~RE      some / no apt-get call matches RE
#          err~RE / noerr~RE        its messages match / do not match RE
# Missing are wine32:i386 and nsis (so that something is left to install
# without the 32-bit Wine). REs are extended, with "." for a space.
set -uo pipefail
set -f # the tables' patterns are not file names
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
tools=$(cd "$here/../../tools" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
cases=0

# run GIVEN: the set-up in a fresh sandbox; its status in $status, the
# sandbox in $sandbox.
run() {
  cases=$((cases + 1))
  sandbox=$work/$cases
  mkdir -p "$sandbox/tools" "$sandbox/state" "$sandbox/build"
  cp "$tools/setup.sh" "$tools/apt-policy-versions.sh" "$tools/apt-version-pairs.sh" "$sandbox/tools/"
  printf '#!/bin/bash\nexit 0\n' >"$sandbox/tools/can-run-x86.sh"
  chmod +x "$sandbox/tools/can-run-x86.sh"
  printf 'wine32:i386\nnsis\n' >"$sandbox/state/missing"
  echo i386 >"$sandbox/state/foreign"
  echo "update-ok 0" >"$sandbox/state/answers-update"
  echo "ok 0" >"$sandbox/state/answers-install"
  : >"$sandbox/state/calls"
  local locale=() word
  for word in $1; do
    case "$word" in
      update=* | install=*)
        tr ',:' '\n ' <<<"${word#*=}" >"$sandbox/state/answers-${word%%=*}" ;;
      mirror=*) echo "${word#mirror=}" >"$sandbox/state/mirror" ;;
      locale=de) locale=(LANG=de_DE.UTF-8) ;;
      *) echo "setup test: unknown GIVEN $word" >&2; exit 2 ;;
    esac
  done
  env -i HOME="$sandbox" PATH="$here/stubs:$PATH" QM_STUB_STATE="$sandbox/state" \
    QM_BUILD_DIR="$sandbox/build" ${locale[@]+"${locale[@]}"} \
    bash "$sandbox/tools/setup.sh" >"$sandbox/out" 2>"$sandbox/err"
  status=$?
}

# check NAME WANT: the last run against WANT; prints ok or what differs.
check() {
  local calls=$sandbox/state/calls differences=() word got re
  for word in $2; do
    re=${word#*~}
    case "$word" in
      exit=*) got=$status ;;
      updates=*) got=$(grep -c -E '^apt-get .* update( |$)' "$calls") ;;
      installs=*) got=$(grep -c -E '^apt-get .* install ' "$calls") ;;
      pauses=*) got=$(grep -c '^sleep ' "$calls") ;;
      reason=*) got=no; [ -f "$sandbox/build/setup-x86-reason.txt" ] && got=yes ;;
      call~*) grep '^apt-get ' "$calls" | grep -E -- "$re" >/dev/null || differences+=("no apt-get call matches $re"); continue ;;
      nocall~*) grep '^apt-get ' "$calls" | grep -E -- "$re" >/dev/null && differences+=("an apt-get call matches $re"); continue ;;
      err~*) grep -E -- "$re" "$sandbox/err" >/dev/null || differences+=("no message matches $re"); continue ;;
      noerr~*) grep -E -- "$re" "$sandbox/err" >/dev/null && differences+=("a message matches $re"); continue ;;
      *) echo "setup test: unknown WANT $word" >&2; exit 2 ;;
    esac
    [ "$got" = "${word#*=}" ] || differences+=("${word%%=*} $got, not ${word#*=}")
  done
  if [ ${#differences[@]} -eq 0 ]; then
    echo "ok: $1"
    return
  fi
  echo "FAILED: $1"
  local difference
  for difference in "${differences[@]}"; do echo "  $difference"; done
  echo "  its calls:"
  sed 's/^/    /' "$calls"
  echo "  its messages:"
  sed 's/^/    /' "$sandbox/err"
  failures=$((failures + 1))
}

# cases < TABLE: runs and checks each line of TABLE.
cases() {
  local name given want
  while IFS='|' read -r name given want; do
    name=${name%"${name##*[! ]}"}
    [ -n "$name" ] || continue
    run "$given"
    check "$name" "$want"
  done
}

# The update is tried again while it reports errors, whether apt-get's
# status says so or not.
cases <<'EOF'
an update that reports E: and fails is tried again      | update=update-sync:100,update-ok:0 | exit=0 updates=2 pauses=1 installs=1
an update that reports E: and exits 0 is tried again     | update=update-sync:0,update-ok:0   | exit=0 updates=2 pauses=1 installs=1
an update that keeps failing is given up, the install goes on with the indexes there are | update=update-sync:100 | exit=0 updates=3 pauses=2 installs=1 reason=no
an update without errors runs once                       | update=update-ok:0                  | exit=0 updates=1 pauses=0 installs=1
EOF

# Failures that pass are tried again; only a version pairing that cannot be
# resolved is the mirror's fault (the 32-bit Wine left out); any other
# failure fails the set-up with apt's message.
cases <<'EOF'
a download that timed out once is tried again            | install=timeout:100,ok:0 | exit=0 installs=2 pauses=1 reason=no call~install.*wine32:i386.*nsis$
a held dpkg lock is waited for, then tried again         | install=locked:100,ok:0  | exit=0 installs=2 pauses=1 reason=no call~DPkg::Lock::Timeout=[1-9]
an update whose downloads failed (warnings only) is tried again | update=update-unresolved:0,update-ok:0 | exit=0 updates=2 pauses=1
a download that keeps failing fails the set-up with apt's message | install=timeout:100,timeout:100,timeout:100,ok:0 | exit=1 installs=3 pauses=2 reason=no err~Could.not.connect noerr~leaving.out
a failure that is not the mirror's fails the set-up at once | install=dpkg-error:100,ok:0 | exit=1 installs=1 pauses=0 reason=no err~No.space.left noerr~leaving.out
pins that apt still refuses fail the set-up: the mirror offered the pair | mirror=lag install=refused:100,refused:100,ok:0 | exit=1 installs=2 reason=no err~held.broken.packages noerr~leaving.out
a library without a version on both architectures leaves the 32-bit Wine out | mirror=unpairable install=refused:100,ok:0 | exit=0 installs=2 reason=yes err~offers.no.version.of.libssl3 call~install.-y.-q.nsis$
EOF

# The pairing, through apt-get and apt-cache: the versions apt would
# install, of the priority it would install them with.
cases <<'EOF'
a lagging i386 half is paired at the newest version both offer | mirror=lag install=refused:100,ok:0 | exit=0 installs=2 reason=no call~libssl3=3.0.20-1~deb12u2.libssl3:i386=3.0.20-1~deb12u2 err~both.got
a lag behind a backports version both offer is paired at main's | mirror=behind-backports install=refused:100,ok:0 | exit=0 installs=2 reason=no call~libssl3:i386=3.0.20-1~deb12u2
EOF

# apt's messages are read in English whatever the user's language.
cases <<'EOF'
a refusal in the user's language is paired all the same  | locale=de mirror=lag install=refused:100,ok:0            | exit=0 installs=2 reason=no call~libssl3:i386=3.0.20-1~deb12u2
the installed version is read whatever the user's language | locale=de mirror=installed-kept install=refused:100,ok:0 | exit=0 installs=2 reason=no call~libpng16-16:i386=1.6.39-2\+deb12u4
EOF

echo "set-up end to end: $failures failures in $cases cases"
[ $failures -eq 0 ]
