#!/usr/bin/env bash
# kestrel-cfg as a program: exit codes, where its output goes, and that a bad
# file leaves nothing on standard output.
set -u
tool=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
fail=0
expect() {  # expect CODE DESCRIPTION -- command...
    local want=$1 what=$2; shift 3
    "$@" >"$dir/out" 2>"$dir/err"; local got=$?
    if [ "$got" != "$want" ]; then echo "FAIL: $what: exit $got, want $want"; cat "$dir/err"; fail=1; fi
}

expect 2 "no arguments" -- "$tool"
expect 2 "unknown command" -- "$tool" frob x.cfg
expect 2 "missing file argument" -- "$tool" show
expect 0 "new" -- "$tool" new "$dir/1.cfg"
[ "$(stat -c %s "$dir/1.cfg")" = 2364 ] || { echo "FAIL: default file is not 2364 bytes"; fail=1; }
[ "$(head -c 13 "$dir/1.cfg" | od -An -tx1 | tr -s ' ' | sed 's/^ //')" = "01 00 00 00 05 00 00 00 d1 c1 20 b9 31" ] ||
    { echo "FAIL: default file does not begin as it should"; fail=1; }
expect 0 "show" -- "$tool" show "$dir/1.cfg"
[ "$(wc -l <"$dir/out")" = 632 ] || { echo "FAIL: show gave $(wc -l <"$dir/out") lines, want 632"; fail=1; }
grep -qx 'Cb\[0\].Uir\[42\].Number = 43' "$dir/out" || { echo "FAIL: show misses the last UIR's number"; fail=1; }
expect 0 "check" -- "$tool" check "$dir/1.cfg"

head -c 1000 "$dir/1.cfg" >"$dir/cut.cfg"
expect 1 "show of a cut file" -- "$tool" show "$dir/cut.cfg"
[ -s "$dir/out" ] && { echo "FAIL: a bad file printed something on standard output"; fail=1; }
grep -q 'byte offset' "$dir/err" || { echo "FAIL: no byte offset in: $(cat "$dir/err")"; fail=1; }
expect 1 "check of a cut file" -- "$tool" check "$dir/cut.cfg"
expect 1 "missing file" -- "$tool" show "$dir/none.cfg"
expect 1 "new in a missing folder" -- "$tool" new "$dir/no/1.cfg"
mkfifo "$dir/fifo.cfg"
expect 1 "show of a FIFO, at once" -- timeout 10 "$tool" show "$dir/fifo.cfg"
grep -q 'not a plain file' "$dir/err" || { echo "FAIL: FIFO: $(cat "$dir/err")"; fail=1; }

# The port mapping goes to the user's settings store, where the utility reads it.
expect 0 "port" -- env XDG_CONFIG_HOME="$dir/xdg" "$tool" port COM2 /dev/ttyUSB7
[ "$(cat "$dir/xdg/KestrelUtilite/registry/Software/KestrelUtilite/Ports/COM2" 2>/dev/null)" = /dev/ttyUSB7 ] ||
    { echo "FAIL: port COM2 not stored in the user's store"; fail=1; }
expect 0 "ports" -- env XDG_CONFIG_HOME="$dir/xdg" "$tool" ports
grep -q '^COM2 = /dev/ttyUSB7' "$dir/out" || { echo "FAIL: ports: $(cat "$dir/out")"; fail=1; }
exit $fail
