#!/usr/bin/env bash
# The Windows installer under Wine, as a user would take it: a silent install
# into a fresh 64-bit prefix, the Start-menu entry, the installed program
# started and its main window seen (a screenshot), then a silent uninstall
# that leaves nothing in the program folder.
#
#   test_installer_wine.sh INSTALLER.exe DEMOCFG OUTDIR
#
# DEMOCFG (the native kestrel-democfg) writes the installation the program
# opens: one block on COM7 without parity; COM7 is a pseudo-terminal nobody
# answers on, checked before the program starts, so that no serial port of
# the machine is touched.
set -euo pipefail
installer=$(readlink -f "$1")
democfg=$2
out=$(readlink -f "$3")
work=$(mktemp -d)
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    WINEPREFIX="$work/prefix" wineserver -k >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }
step() { echo "$(date +%T) $*"; }

# Wine makes Cyrillic file names only in a UTF-8 locale glibc has.
export LC_ALL=C.UTF-8 WINEPREFIX="$work/prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset WINEPATH
if [ -z "${DISPLAY:-}" ]; then
    for n in $(seq 90 130); do [ -e "/tmp/.X11-unix/X$n" ] || break; done
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    pids+=($!)
    export DISPLAY=":$n"
    for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
fi

step "fresh prefix"
wineboot -i >/dev/null 2>&1
wineserver -w
programs="$WINEPREFIX/drive_c/Program Files/KestrelUtilite"

step "silent install"
wine "$installer" /S >/dev/null 2>&1
wineserver -w
[ -f "$programs/bin/kestrel-utilite.exe" ] || fail "no bin/kestrel-utilite.exe in $programs"
for f in bin/kestrel-cfg.exe bin/kestrel-console.exe bin/kestrel-sheet.exe bin/Qt6Core.dll bin/Qt6Widgets.dll bin/qt.conf \
         plugins/platforms/qwindows.dll translations/qtbase_ru.qm Uninstall.exe; do
    [ -f "$programs/$f" ] || fail "$f not installed"
done
shortcut=$(find "$WINEPREFIX/drive_c" -name 'Дуговая защита.lnk' | head -n 1)
[ -n "$shortcut" ] || fail "no Start-menu entry \"Дуговая защита\""
echo "Start-menu entry: ${shortcut#"$WINEPREFIX/"}"

step "the installed program"
mkdir -p "$work/Установка"
cfg="$work/Установка/installer.cfg"
"$democfg" --com 7 --parity 0 "$cfg"
winpath() { echo "Z:${1//\//\\}"; }
wine reg add 'HKCU\Software\KestrelUtilite\Cfg' /v 'Software\KestrelUtilite\Cfg' /t REG_SZ /d "$(winpath "$cfg")" /f >/dev/null
wine reg add 'HKCU\Software\KestrelUtilite\Password' /v 'Software\KestrelUtilite\Password' /t REG_SZ /d 1234 /f >/dev/null
socat PTY,raw,echo=0,link="$work/com" PTY,raw,echo=0,link="$work/dev" 2>/dev/null &
pids+=($!)
for _ in $(seq 50); do [ -e "$work/com" ] && break; sleep 0.1; done
pty=$(readlink -f "$work/com")
wine reg add 'HKLM\Software\Wine\Ports' /v COM7 /t REG_SZ /d "$pty" /f >/dev/null
wineserver -k >/dev/null 2>&1 || true
wine cmd /c exit >/dev/null 2>&1 || true
[ "$(readlink "$WINEPREFIX/dosdevices/com7" || true)" = "$pty" ] || fail "COM7 is not the test terminal $pty"
wine "C:\\Program Files\\KestrelUtilite\\bin\\kestrel-utilite.exe" >/dev/null 2>&1 &
app=$!
pids+=($app)
shown=""
for _ in $(seq 600); do
    shown=$(xdotool search --onlyvisible --name '^Дуговая защита v' 2>/dev/null | head -n 1 || true)
    [ -n "$shown" ] && break
    kill -0 "$app" 2>/dev/null || fail "the installed program ended without a main window"
    sleep 0.1
done
[ -n "$shown" ] || fail "no main window from the installed program"
sleep 2  # the first status tick paints the tiles
import -window root "$out/wine_installed.png"
echo "main window shown: $(xdotool getwindowname "$shown"); screenshot $out/wine_installed.png"
wineserver -k >/dev/null 2>&1 || true

step "silent uninstall"
wine "C:\\Program Files\\KestrelUtilite\\Uninstall.exe" /S >/dev/null 2>&1
wineserver -w
# The uninstaller runs a copy of itself from the temporary folder and returns.
for _ in $(seq 300); do [ -f "$programs/Uninstall.exe" ] || break; sleep 0.1; done
wineserver -w
left=$( [ -d "$programs" ] && find "$programs" -mindepth 1 | head -n 5 || true)
[ -z "$left" ] || fail "left in the program folder: $left"
[ -z "$(find "$WINEPREFIX/drive_c" -name 'Дуговая защита.lnk')" ] || fail "the Start-menu entry is still there"
echo "PASS: installed, started, uninstalled"
