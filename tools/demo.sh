#!/usr/bin/env bash
# `make run`: the utility against a bus of two simulated central blocks
# (addresses 1 and 2 on the one simulated port), in a private demo profile
# (its own settings store and configuration file under .demo/), so the
# operator's own settings are never touched.
#
#   tools/demo.sh [BUILD_DIR]
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-build}
case "$BUILD" in /*) ;; *) BUILD="$ROOT/$BUILD" ;; esac

APP="$BUILD/src/app/kestrel-utilite"
SIM="$BUILD/sim/kestrel-cbsim"
GEN="$BUILD/tools/demo/kestrel-democfg"
SCENARIO="$ROOT/sim/scenarios/demo.txt"
SCENARIO2="$ROOT/sim/scenarios/demo-cb2.txt"
DEMO="$ROOT/.demo"
DEMO_CODE="1234"

for f in "$APP" "$SIM" "$GEN"; do
    if [ ! -x "$f" ]; then
        echo "demo: $f is missing; build first (make build)." >&2
        exit 1
    fi
done

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    cat >&2 <<MSG
demo: the utility is a desktop program and needs a display; none is set
(neither DISPLAY nor WAYLAND_DISPLAY). Run 'make run' in a desktop session,
or under a virtual X server:
    Xvfb :99 -screen 0 1280x1024x24 &
    DISPLAY=:99 make run
and look at it with a screenshot from another terminal:
    DISPLAY=:99 import -window root shot.png
(or in one go: xvfb-run -a -s "-screen 0 1280x1024x24" make run)
MSG
    exit 1
fi

# The profile: settings store root, configuration file, simulator logs.
export XDG_CONFIG_HOME="$DEMO/config"
REG="$XDG_CONFIG_HOME/KestrelUtilite/registry/Software/KestrelUtilite"
mkdir -p "$DEMO" "$REG/Cfg" "$REG/Password"
# The file name carries the layout: a profile made by an older demo (one
# block, demo.cfg) is not reused, so the second block always shows.
CFG="$DEMO/demo-2cb.cfg"
[ -f "$CFG" ] || "$GEN" --cbs 2 "$CFG"
printf '%s' "$CFG" > "$REG/Cfg/Software%5CKestrelUtilite%5CCfg"
[ -f "$REG/Password/Software%5CKestrelUtilite%5CPassword" ] ||
    printf '%s' "$DEMO_CODE" > "$REG/Password/Software%5CKestrelUtilite%5CPassword"

# The simulator reads scenario commands from a pipe the operator may write to.
FIFO="$DEMO/sim.in"
rm -f "$FIFO"
mkfifo "$FIFO"
exec 3<>"$FIFO"
"$SIM" --address 1 2 --scenario "$SCENARIO" --scenario "$SCENARIO2" --register COM1 \
    <&3 >"$DEMO/sim.out" 2>"$DEMO/sim.log" &
SIM_PID=$!
APP_PID=""

cleanup() {
    [ -n "$APP_PID" ] && kill "$APP_PID" 2>/dev/null || true
    kill "$SIM_PID" 2>/dev/null || true
    wait "$SIM_PID" 2>/dev/null || true
    exec 3>&- || true
    rm -f "$FIFO"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

for _ in $(seq 50); do
    [ -s "$DEMO/sim.out" ] && break
    if ! kill -0 "$SIM_PID" 2>/dev/null; then
        echo "demo: the simulator did not start:" >&2
        cat "$DEMO/sim.log" >&2
        exit 1
    fi
    sleep 0.1
done
PTY=$(head -n 1 "$DEMO/sim.out")
CODE=$(cat "$REG/Password/Software%5CKestrelUtilite%5CPassword")

cat <<MSG
Kestrel Utilite demo
  simulated blocks:        ЦБ 1 and ЦБ 2, addresses 1 and 2 on $PTY, registered as COM1
                           (scenarios sim/scenarios/demo.txt and demo-cb2.txt; ЦБ 2 has an
                            arc now and then: its entry in the block list turns red)
  demo profile:            $DEMO
                           (settings store $XDG_CONFIG_HOME/KestrelUtilite/registry,
                            configuration file $CFG)
  demo access code:        $CODE
  your own settings are not touched.
  raise an alarm by hand:  echo "arc 5 2 mtz 1" > $FIFO        (on ЦБ 1)
                           echo "cb 2 arc 3 1 mtz 1" > $FIFO   (on ЦБ 2)
                           echo "cb 2 reset" > $FIFO           (clears ЦБ 2 again)
                           (see: echo help > $FIFO; log in $DEMO/sim.out)
  stop:                    close the window (or Настройки > Выход), or press Ctrl-C here.
MSG

"$APP" &
APP_PID=$!
wait "$APP_PID" || true
APP_PID=""
