#!/usr/bin/env bash
# `make screenshots`: the built utility against the simulated central block
# on a private virtual X server, driven by mouse and keyboard (xdotool) as an
# operator would, each window saved as an 8-bit PNG in docs/screenshots/.
#
#   tools/screenshots.sh [BUILD_DIR] [OUT_DIR]
#
# Everything runs in a temporary profile (settings store, configuration file,
# lock folder), so neither your settings nor a running `make run` are touched.
# The windows have no frames: the virtual server runs no window manager.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-build}
case "$BUILD" in /*) ;; *) BUILD="$ROOT/$BUILD" ;; esac
OUT=${2:-$ROOT/docs/screenshots}
case "$OUT" in /*) ;; *) OUT="$ROOT/$OUT" ;; esac

APP="$BUILD/src/app/kestrel-utilite"
SIM="$BUILD/sim/kestrel-cbsim"
GEN="$BUILD/tools/demo/kestrel-democfg"
CODE=1234
SCREEN_W=1280
SCREEN_H=1024

for f in "$APP" "$SIM" "$GEN"; do
    [ -x "$f" ] || { echo "screenshots: $f is missing; build first (make build)." >&2; exit 1; }
done
for t in Xvfb xdotool import convert; do
    command -v "$t" >/dev/null || { echo "screenshots: $t is missing (make deps installs it)." >&2; exit 1; }
done

WORK=$(mktemp -d "${TMPDIR:-/tmp}/kestrel-shots.XXXXXX")
XVFB_PID="" SIM_PID="" APP_PID=""
cleanup() {
    [ -n "$APP_PID" ] && kill "$APP_PID" 2>/dev/null
    [ -n "$SIM_PID" ] && kill "$SIM_PID" 2>/dev/null
    [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null
    wait 2>/dev/null
    exec 3>&- 2>/dev/null
    rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

die() {
    echo "screenshots: $*" >&2
    echo "--- what was shown:" >&2
    visible >&2 || true
    [ -n "${DISPLAY:-}" ] && import -window root "$WORK/failed.png" 2>/dev/null &&
        cp "$WORK/failed.png" "$OUT/.failed.png" && echo "(the screen is in $OUT/.failed.png)" >&2
    exit 1
}

# --- the profile -------------------------------------------------------------
export XDG_CONFIG_HOME="$WORK/config" XDG_RUNTIME_DIR="$WORK/run"
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
REG="$XDG_CONFIG_HOME/KestrelUtilite/registry/Software/KestrelUtilite"
mkdir -p "$REG/Cfg" "$REG/Password" "$OUT"
rm -f "$OUT/.failed.png"
"$GEN" "$WORK/shots.cfg" >/dev/null
printf '%s' "$WORK/shots.cfg" > "$REG/Cfg/Software%5CKestrelUtilite%5CCfg"
printf '%s' "$CODE" > "$REG/Password/Software%5CKestrelUtilite%5CPassword"

# The block: UIRs 1-6 polled, its tables and UROV time, a journal of older
# records. Nothing timed: the alarm is raised below, when the picture wants it.
cat > "$WORK/shots.txt" <<'SCENARIO'
uir 1-6 poll=on output=on f=0,1,2 control=123
uir 7 poll=off output=off f=3,3,3 control=none
table 0 0 0x01
table 0 1 0x02
table 0 2 0x04
table 0 3 0x08
table 1 0 0x03
table 1 1 0x06
table 1 2 0x0C
table 1 3 0x30
urov 200
mtz-wait off
journal 36
SCENARIO

# --- X server, simulator, utility --------------------------------------------
Xvfb -displayfd 5 -screen 0 ${SCREEN_W}x${SCREEN_H}x24 -nolisten tcp 5>"$WORK/display" 2>"$WORK/xvfb.log" &
XVFB_PID=$!
for _ in $(seq 100); do [ -s "$WORK/display" ] && break; sleep 0.1; done
[ -s "$WORK/display" ] || { cat "$WORK/xvfb.log" >&2; echo "screenshots: Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(head -n 1 "$WORK/display")"
unset WAYLAND_DISPLAY

mkfifo "$WORK/sim.in"
exec 3<>"$WORK/sim.in"
"$SIM" --address 1 --scenario "$WORK/shots.txt" --register COM1 <&3 >"$WORK/sim.out" 2>"$WORK/sim.log" &
SIM_PID=$!
for _ in $(seq 100); do [ -s "$WORK/sim.out" ] && break; sleep 0.1; done
[ -s "$WORK/sim.out" ] || { cat "$WORK/sim.log" >&2; echo "screenshots: the simulator did not start" >&2; exit 1; }
sim() { printf '%s\n' "$*" >&3; }

"$APP" >"$WORK/app.log" 2>&1 &
APP_PID=$!

# --- helpers -----------------------------------------------------------------
visible() {
    local w
    for w in $(xdotool search --onlyvisible --name '.' 2>/dev/null); do
        echo "  $(xdotool getwindowname "$w")"
    done
}
# The id of the visible window whose title matches the regular expression.
win() {
    local w
    for _ in $(seq 150); do
        w=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | tail -n 1)
        [ -n "$w" ] && { echo "$w"; return 0; }
        kill -0 "$APP_PID" 2>/dev/null || return 1
        sleep 0.1
    done
    return 1
}
need() { win "$1" || die "no window \"$1\""; }
gone() {
    for _ in $(seq 300); do
        [ -z "$(xdotool search --onlyvisible --name "$1" 2>/dev/null)" ] && return 0
        sleep 0.1
    done
    die "\"$1\" did not go"
}
# The wait window comes and goes with every request to the block.
settle() { sleep 0.5; gone '^Окно сообщений$'; sleep 0.3; }
click() {
    xdotool windowraise "$1"
    sleep 0.2
    xdotool mousemove --window "$1" "$2" "$3" click 1
}
# Click relative to the window's bottom-right corner (its close button).
click_br() {
    eval "$(xdotool getwindowgeometry --shell "$1")"
    click "$1" $((WIDTH - $2)) $((HEIGHT - $3))
}
# Click relative to the window's bottom-left corner.
click_bl() {
    eval "$(xdotool getwindowgeometry --shell "$1")"
    click "$1" "$2" $((HEIGHT - $3))
}
# Keep the window on the screen (windows open centred over their parent).
onscreen() {
    eval "$(xdotool getwindowgeometry --shell "$1")"
    local x=$X y=$Y
    [ $((x + WIDTH)) -gt $SCREEN_W ] && x=$((SCREEN_W - WIDTH - 10))
    [ $((y + HEIGHT)) -gt $SCREEN_H ] && y=$((SCREEN_H - HEIGHT - 10))
    [ $x -lt 0 ] && x=0
    [ $y -lt 0 ] && y=0
    if [ $x -ne "$X" ] || [ $y -ne "$Y" ]; then xdotool windowmove "$1" $x $y; sleep 0.3; fi
}
# One window as an 8-bit PNG; the window is raised first, so nothing covers it.
shot() {
    onscreen "$1"
    xdotool windowraise "$1"
    sleep 0.6
    import -window "$1" "$WORK/shot.png"
    convert "$WORK/shot.png" -colors 256 -strip "PNG8:$OUT/$2.png"
    echo "  $OUT/$2.png ($(xdotool getwindowname "$1"))"
}
# Pixels of the tiles' pure red in a PNG.
red_pixels() {
    convert "$1" -fill black +opaque '#FF0000' -fill white -opaque '#FF0000' -format '%[fx:round(mean*w*h)]' info:
}

echo "screenshots: $DISPLAY, into $OUT"

# --- main window in alarm ------------------------------------------------------
MAIN=$(need '^Дуговая защита v1.001$')
sleep 1
settle    # the first poll (journal fetch) under the wait window
sim "arc 5 2 interval 3 mtz 1"
sim "arc 2 1 interval 7 mtz 0"
# Red within a few status ticks; the picture is taken once it shows.
for _ in $(seq 40); do
    import -window "$MAIN" "$WORK/main.png"
    [ "$(red_pixels "$WORK/main.png")" -gt 300 ] && break
    sleep 0.5
done
[ "$(red_pixels "$WORK/main.png")" -gt 300 ] || die "the arc did not show on the main window"
shot "$MAIN" main-alarm

# --- journal -------------------------------------------------------------------
click "$MAIN" 77 33                      # tool button "Журнал"
JOURNAL=$(need '^Журнал$')
click "$JOURNAL" 92 502                  # "Обновить список событий"
settle
shot "$JOURNAL" journal
click_br "$JOURNAL" 47 18                # "Закрыть"
gone '^Журнал$'

# --- configuration (behind the access code) --------------------------------------
click "$MAIN" 51 33                      # tool button "Конфигурация"
ACCESS=$(need '^Защита от несанкционированного доступа$')
sleep 0.5
shot "$ACCESS" access
xdotool type --delay 50 "$CODE"
xdotool key Return
CFG=$(need '^Конфигурация$')
shot "$CFG" configuration

click "$CFG" 293 214                     # "Файл конфигурации"
FILECFG=$(need '^Файл конфигурации$')
shot "$FILECFG" configuration-file
click_br "$FILECFG" 50 21                # "Закрыть"
gone '^Файл конфигурации$'

# --- central-block setup and its dialogs -----------------------------------------
click "$CFG" 172 214                     # "Настройки ЦБ"
SETUPCB=$(need '^Настройка центрального блока \(ЦБ\)$')
settle
shot "$SETUPCB" setup-cb
dialog() {  # X Y (button in the block window), title, file
    click "$SETUPCB" "$1" "$2"
    local d
    d=$(need "$3")
    settle
    shot "$d" "$4"
    click_br "$d" 50 16              # "Отменить" / "Закрыть"
    gone "$3"
}
dialog 753 221 '^Функция центрального блока$' setup-cb-functions
dialog 358 291 '^УРОВ Время \(мс\)$' setup-cb-urov
dialog 469 291 '^Установка даты и времени на ЦБ$' setup-cb-set-clock
dialog 554 291 '^Время и дата ЦБ$' setup-cb-clock
dialog 409 386 '^Установка адреса и скорости обмена ЦБ$' setup-cb-address

# --- settings check ----------------------------------------------------------------
click "$SETUPCB" 140 414                 # "Сверка настроек": the block read and set against the file
CHECK=$(need '^Сверка настроек ЦБ$')
settle
shot "$CHECK" settings-check
click_br "$CHECK" 50 21                  # "Закрыть"
gone '^Сверка настроек ЦБ$'

# --- UIR setup -------------------------------------------------------------------
click "$SETUPCB" 674 386                 # "УИР"
SETUPUIR=$(need 'Настройки модулей УИР$')
settle
shot "$SETUPUIR" setup-uir
click_br "$SETUPUIR" 50 16             # "Закрыть"
gone 'Настройки модулей УИР$'

# --- walk-test ---------------------------------------------------------------------
# The demo file holds no tables and a UROV time of 500 ms: the block made to
# hold the same, since a test starts only on a block equal to its file.
for m in 0 1 2 3; do for f in 0 1 2 3; do sim "table $m $f 0"; done; done
sim "urov 500"
sim "reset"
click "$MAIN" 36 10                      # menu "Настройки"
sleep 0.3
xdotool key Down Down Down Down Down Return   # "Проверка датчиков"
need '^Защита от несанкционированного доступа$' >/dev/null
sleep 0.5
xdotool type --delay 50 "$CODE"
xdotool key Return
WALK=$(need '^Проверка датчиков$')
click_bl "$WALK" 50 22                   # "Начать": the block checked against the file first
settle
for a in "1 1" "1 2" "2 1" "2 3"; do sim "arc $a mtz 1"; sim "reset"; done
sim "table 1 2 0x01"                     # F2 in МТЗ-1 changed after the check: the next F2 arc fails
sim "arc 3 3 mtz 1"
sim "reset"
sim "sensor 4 2"
sleep 4
click "$WALK" 300 120                    # a cell: its detail line
shot "$WALK" walktest
click_br "$WALK" 50 22                   # "Закрыть"
gone '^Проверка датчиков$'

# --- service console ---------------------------------------------------------------
# Ctrl+M in the block window shows the console's tool button on the main window.
click "$SETUPCB" 400 14
sleep 0.3
xdotool key ctrl+m
sleep 0.5
click "$MAIN" 140 33                     # tool button "Сервисная консоль"
CONSOLE=$(need '^Отладка протокола по RS485$')
settle
run_command() {  # index in the command list
    click "$CONSOLE" 137 137             # "Список команд"
    sleep 0.5
    xdotool key Home
    for _ in $(seq "$1"); do xdotool key Down; done
    xdotool key Return
    sleep 0.3
    click_bl "$CONSOLE" 137 51           # "Выполнить"
    settle
}
click_br "$CONSOLE" 51 23               # "Очистить": this run's traffic only
run_command 0                            # "Сброс канала"
run_command 13                           # "Получить состояние канала"
run_command 2                            # "Получить настройки ЦБ"
run_command 3                            # "Сброс FCB"
shot "$CONSOLE" console
click_bl "$CONSOLE" 137 23              # "Закрыть"
gone '^Отладка протокола по RS485$'

echo "screenshots: done"
