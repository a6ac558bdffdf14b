#!/usr/bin/env bash
# The Windows build of kestrel-console under Wine, on a pseudo-terminal that
# Wine's own COM mapping (HKLM\Software\Wine\Ports) names as COM7. The mapping
# is checked before a single byte is sent, so that nothing reaches a real
# serial port of the machine (Wine maps COMn to /dev/ttyS{n-1} by default).
#
#   wine_console_test.sh PATH/kestrel-console.exe
set -euo pipefail
exe="$1"
com=COM7
work=$(mktemp -d)
socat_pid=""
cleanup() {
    [ -n "$socat_pid" ] && kill "$socat_pid" 2>/dev/null || true
    wine reg delete 'HKLM\Software\Wine\Ports' /v "$com" /f >/dev/null 2>&1 || true
    wineserver -k >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT
export WINEDEBUG=-all

# Two linked pseudo-terminals: Wine opens one, this script plays the block on the other.
socat PTY,raw,echo=0,link="$work/com" PTY,raw,echo=0,link="$work/dev" 2>/dev/null &
socat_pid=$!
for _ in $(seq 50); do [ -e "$work/com" ] && [ -e "$work/dev" ] && break; sleep 0.1; done
[ -e "$work/com" ] || { echo "no pseudo-terminal"; exit 1; }
target=$(readlink -f "$work/com")

wine reg add 'HKLM\Software\Wine\Ports' /v "$com" /t REG_SZ /d "$target" /f >/dev/null
# The mount manager creates the COM devices when Wine starts.
wineserver -k >/dev/null 2>&1 || true
wine cmd /c exit >/dev/null 2>&1 || true
prefix="${WINEPREFIX:-$HOME/.wine}"
link="$prefix/dosdevices/$(echo "$com" | tr 'A-Z' 'a-z')"
mapped=$(readlink "$link" || true)
if [ "$mapped" != "$target" ]; then
    echo "FAIL: $com maps to '$mapped', not to the test terminal $target; nothing sent"
    exit 1
fi

# The block: answer the reset of the link (5 bytes) with 0xE5.
exec 3<>"$work/dev"
( timeout 60 head -c 5 <&3 > "$work/request.bin"; printf '\345' >&3 ) &
responder=$!

# 1200 bit/s gives the block 320 ms; no parity, since a pseudo-terminal has none.
set +e
wine "$exe" --port "$com" --baud 1200 --parity 0 ReqResetLink > "$work/out.txt"
status=$?
set -e
out=$(tr -d '\r' < "$work/out.txt")
wait "$responder" || true
echo "$out"
request=$(od -An -tx1 "$work/request.bin" | tr -s ' ' | sed 's/^ //; s/ $//')
[ "$request" = "10 40 01 41 16" ] || { echo "FAIL: request '$request'"; exit 1; }
expected=$'Переданные байты: \n10; 40; 01; 41; 16; \nПолученные байты: \nE5; \nresult: 0'
[ "$out" = "$expected" ] || { echo "FAIL: output differs"; exit 1; }
[ "$status" = 0 ] || { echo "FAIL: status $status"; exit 1; }
echo "PASS"
