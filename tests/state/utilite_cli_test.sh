#!/usr/bin/env bash
# kestrel-utilite from a terminal: --help and --version answer without a
# display, and a start without one says so in one line instead of aborting.
set -u
tool=$1
want_version=$2
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
fail=0
run() {  # run WANT_EXIT WHAT -- command...
    local want=$1 what=$2; shift 3
    timeout 20 env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$@" >"$dir/out" 2>"$dir/err" </dev/null
    local got=$?
    if [ "$got" != "$want" ]; then echo "FAIL: $what: exit $got, want $want"; cat "$dir/err"; fail=1; fi
}
for h in --help -h; do
    run 0 "$h" -- "$tool" "$h"
    grep -q '^usage: kestrel-utilite' "$dir/out" || { echo "FAIL: $h: no usage"; fail=1; }
    [ -s "$dir/err" ] && { echo "FAIL: $h wrote on standard error"; fail=1; }
done
run 0 "--version" -- "$tool" --version
[ "$(cat "$dir/out")" = "kestrel-utilite $want_version" ] || { echo "FAIL: --version said '$(cat "$dir/out")'"; fail=1; }
run 1 "no display" -- "$tool"
[ -s "$dir/out" ] && { echo "FAIL: no display: wrote on standard output"; fail=1; }
[ "$(wc -l <"$dir/err")" = 1 ] || { echo "FAIL: no display: want one line, got: $(cat "$dir/err")"; fail=1; }
grep -q 'needs a display' "$dir/err" && grep -q 'xvfb-run' "$dir/err" || { echo "FAIL: no display: $(cat "$dir/err")"; fail=1; }
exit $fail
