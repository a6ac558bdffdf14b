#!/usr/bin/env bash
# kestrel-console watch with an adapter that is pulled out and plugged back:
# the port path (a link to the simulator's terminal, as /dev/serial/by-id/
# names are) disappears and comes back. The watch reports the lost link once,
# goes on by itself, and the event the block raised meanwhile is read.
set -u
console=$1 sim=$2
dir=$(mktemp -d)
simpid= conpid=
cleanup() {
    [ -n "$conpid" ] && kill "$conpid" 2>/dev/null
    exec 7>&- 2>/dev/null
    [ -n "$simpid" ] && kill "$simpid" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$dir"
}
trap cleanup EXIT
fail=0
# wait_for FILE PATTERN: until the pattern shows in the file (20 s guard against a hang).
wait_for() {
    for _ in $(seq 200); do grep -q "$2" "$1" && return 0; sleep 0.1; done
    echo "FAIL: no '$2' in $1:"; cat "$1"; fail=1; return 1
}

mkfifo "$dir/in"
"$sim" --address 1 <"$dir/in" >"$dir/sim.out" 2>"$dir/sim.err" & simpid=$!
exec 7>"$dir/in"
echo "uir 1,2 poll=on" >&7
wait_for "$dir/sim.out" '^/dev/' || exit 1
pty=$(head -n 1 "$dir/sim.out")
ln -s "$pty" "$dir/ttyUSB0"

"$console" --port "$dir/ttyUSB0" --address 1 watch >"$dir/out" 2>"$dir/err" & conpid=$!
echo "arc 1 1" >&7
wait_for "$dir/out" 'УИР 1,' || exit 1

rm "$dir/ttyUSB0"                      # pulled out
wait_for "$dir/err" 'link lost' || exit 1
echo "arc 2 1" >&7                      # the block keeps it meanwhile
kill -0 "$conpid" 2>/dev/null || { echo "FAIL: watch ended when the port went away"; fail=1; }

ln -s "$pty" "$dir/ttyUSB0"             # plugged back
wait_for "$dir/out" 'УИР 2,'
wait_for "$dir/err" 'link back'
[ "$(grep -c 'link lost' "$dir/err")" = 1 ] || { echo "FAIL: link lost said more than once:"; cat "$dir/err"; fail=1; }
[ "$(grep -c 'УИР 1,' "$dir/out")" = 1 ] || { echo "FAIL: the first event printed again"; cat "$dir/out"; fail=1; }

kill -INT "$conpid"; wait "$conpid"; conpid=
echo quit >&7
exit $fail
