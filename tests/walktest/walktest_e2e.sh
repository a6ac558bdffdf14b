#!/usr/bin/env bash
# A whole commissioning walk-test without a person: kestrel-cbsim plays the
# flashes of sim/scenarios/walktest.txt, kestrel-console walktest checks
# them and keeps the test's file, Ctrl-C ends it, and kestrel-sheet prints the
# certificate, read back as text.
#   walktest_e2e.sh CBSIM CONSOLE SHEET SCENARIO PDFTOTEXT
set -u
cbsim=$1 console=$2 sheet=$3 scenario=$4 pdftotext=${5:-}
[ -n "$pdftotext" ] && [ -x "$pdftotext" ] || { echo "SKIP: pdftotext is not installed"; exit 77; }
work=$(mktemp -d)
simpid= testpid=
trap 'exec 7>&- 2>/dev/null; kill $simpid $testpid 2>/dev/null; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; cat "$work/out" 2>/dev/null; exit 1; }

mkfifo "$work/in"
"$cbsim" --scenario "$scenario" < "$work/in" > "$work/sim.out" 2>&1 &
simpid=$!
exec 7> "$work/in"  # the simulator's input stays open for the whole run
for _ in $(seq 50); do [ -s "$work/sim.out" ] && break; sleep 0.1; done
pty=$(head -n 1 "$work/sim.out")
[ -e "$pty" ] || fail "no pseudo-terminal from kestrel-cbsim: $pty"

"$console" --port "$pty" walktest --out "$work/block.walktest" > "$work/out" 2>&1 &
testpid=$!
# The scenario's last flash is at 18 s and its reset at 19 s.
for _ in $(seq 300); do grep -q "УИР 3, вход 1" "$work/out" && break; sleep 0.1; done
sleep 1.5
kill -INT $testpid
wait $testpid
status=$?
[ "$status" = 1 ] || fail "exit $status, expected 1 (a failure and an untested input)"
grep -qF "УИР 2, вход 1: ошибка, выходы 6 вместо 1" "$work/out" || fail "wrong outputs not found"
grep -qF "УИР 1, вход 3: норма (МТЗ-2" "$work/out" || fail "the flash under MTZ-2"
grep -qF "повторная проверка" "$work/out" || fail "the repeated flash"
grep -qF "итог: норма 5, ошибки 1, не проверено 1 из 7" "$work/out" || fail "summary"

"$sheet" --certificate "$work/block.walktest" "$work/cert.pdf" > "$work/out" 2>&1 || fail "no certificate"
"$pdftotext" -layout "$work/cert.pdf" "$work/cert.txt" || fail "pdftotext"
cp "$work/cert.txt" "$work/out"
for want in "Протокол проверки датчиков" "норма" "ошибка" "УИР 2, вход 3: не проверен" "подпись"; do
    grep -qF "$want" "$work/cert.txt" || fail "certificate lacks \"$want\""
done
grep -qF "замечаний нет" "$work/cert.txt" && fail "a clean result claimed"
echo PASS
