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

expect 0 "new --cbs 3" -- "$tool" new "$dir/3.cfg" --cbs 3
expect 0 "show of three CBs" -- "$tool" show "$dir/3.cfg"
[ "$(wc -l <"$dir/out")" = 1894 ] || { echo "FAIL: show of three CBs gave $(wc -l <"$dir/out") lines, want 1894"; fail=1; }
grep -qx 'Cb\[2\].Name = "ЦБ 3"' "$dir/out" || { echo "FAIL: show misses the third CB's name"; fail=1; }
grep -qx 'Cb\[2\].Address = 3' "$dir/out" || { echo "FAIL: show misses the third CB's address"; fail=1; }
expect 2 "--cbs 0" -- "$tool" new "$dir/0.cfg" --cbs 0
expect 2 "--cbs 256" -- "$tool" new "$dir/0.cfg" --cbs 256
[ -e "$dir/0.cfg" ] && { echo "FAIL: a bad --cbs wrote a file"; fail=1; }

# Not a plain file: refused at once, never waited on.
mkfifo "$dir/fifo.cfg"
expect 1 "show of a FIFO" -- timeout 10 "$tool" show "$dir/fifo.cfg"
grep -q 'not a plain file' "$dir/err" || { echo "FAIL: FIFO: $(cat "$dir/err")"; fail=1; }
expect 1 "check of /dev/zero" -- timeout 10 "$tool" check /dev/zero

# new over a damaged file keeps its bytes.
printf 'damaged' >"$dir/d.cfg"
expect 0 "new over a damaged file" -- "$tool" new "$dir/d.cfg"
[ "$(cat "$dir/d.cfg.damaged-1")" = damaged ] || { echo "FAIL: no copy of the damaged file"; fail=1; }
grep -q 'd.cfg.damaged-1' "$dir/err" || { echo "FAIL: the copy is not named on standard error"; fail=1; }
exit $fail
