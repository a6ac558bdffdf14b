#!/usr/bin/env bash
# kestrel-console's settings commands and kestrel-cfg compare against
# kestrel-cbsim on a pseudo-terminal, as a service engineer runs them:
# snapshot, compare equal, a change on the block, compare, restore, compare
# again, a refused segment, and a damaged file that sends nothing.
#   console_e2e.sh CBSIM CONSOLE CFG
set -u
cbsim=$1 console=$2 cfg=$3
work=$(mktemp -d)
trap 'exec 7>&- 2>/dev/null; kill $simpid 2>/dev/null; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; [ -f "$work/out" ] && cat "$work/out"; exit 1; }

mkfifo "$work/in"
"$cbsim" < "$work/in" > "$work/sim.out" 2>&1 &
simpid=$!
exec 7> "$work/in"
for _ in $(seq 50); do [ -s "$work/sim.out" ] && break; sleep 0.1; done
pty=$(head -n 1 "$work/sim.out")
[ -e "$pty" ] || fail "no pseudo-terminal from kestrel-cbsim: $pty"
# A scenario command reaches the block before the next command starts.
say() { echo "$1" >&7; for _ in $(seq 50); do grep -qF "$1" "$work/sim.out" 2>/dev/null && break; sleep 0.05; done; sleep 0.2; }

run() {  # expected-status command...
    local want=$1; shift
    local start end
    start=$(date +%s%N)
    "$@" > "$work/out" 2>&1
    local got=$?
    end=$(date +%s%N)
    echo "$(( (end - start) / 1000000 )) ms: ${*##*/}"
    [ "$got" = "$want" ] || fail "exit $got, expected $want: $*"
}

run 0 "$console" --port "$pty" snapshot "$work/site.cfg"
run 0 "$cfg" check "$work/site.cfg"
run 0 "$console" --port "$pty" compare "$work/site.cfg"
grep -q "совпадает с файлом" "$work/out" || fail "equal block not reported"

say "table 1 2 9"
say "uir 5 f=0,3,1"
run 1 "$console" --port "$pty" compare "$work/site.cfg"
grep -qF "МТЗ-1, F2: выходы 3 → 1, 4" "$work/out" || fail "table difference not listed"
grep -qF "УИР 5, вход 2: F0 → F3" "$work/out" || fail "UIR difference not listed"

# The changed block as a file: kestrel-cfg sees the same differences.
run 0 "$console" --port "$pty" snapshot "$work/changed.cfg"
run 1 "$cfg" compare "$work/site.cfg" "$work/changed.cfg"
grep -qF "МТЗ-1, F2: выходы 3 → 1, 4" "$work/out" || fail "kestrel-cfg compare lost the table"

run 0 "$console" --port "$pty" restore "$work/site.cfg"
grep -q "подтверждены чтением" "$work/out" || fail "restore not confirmed"
run 0 "$console" --port "$pty" compare "$work/site.cfg"

# A block that does not take one segment: no success, the value listed.
say "uir 9 poll=on"
say "inject ignore for write-segment times 10"
run 1 "$console" --port "$pty" restore "$work/site.cfg"
grep -qF "УИР 9, опрос: запрещен → разрешен" "$work/out" || fail "refused value not listed"
grep -q "подтверждены" "$work/out" && fail "success reported for a refused segment"

# A damaged file: nothing goes out (the capture holds no frame).
head -c 200 "$work/site.cfg" > "$work/cut.cfg"
run 2 "$console" --port "$pty" --capture "$work/cut.pcap" restore "$work/cut.cfg"
grep -q "nothing sent" "$work/out" || fail "damaged file not explained"
[ "$(stat -c %s "$work/cut.pcap")" -le 24 ] || fail "frames went out for a damaged file"
echo "PASS"
