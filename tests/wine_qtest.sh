#!/usr/bin/env bash
# A Qt Test suite of the Windows build under Wine, on the offscreen platform.
#   wine_qtest.sh SUITE.exe [ARGS...]
# Wine hands no QT_* variable to a Windows program, so the platform is given
# on the command line (KESTREL_WINE_QPA=windows: Qt's Windows platform on the
# X display, with the fonts Wine gives a Windows program). The log goes to a file that is printed afterwards: the
# suite's own standard output does not reach ctest under Wine. Wine needs an
# X display even for the offscreen platform (it makes a window for Qt's event
# loop): without DISPLAY the suite runs on a private Xvfb.
set -u
exe=$1
shift
if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" "$0" "$exe" "$@"
fi
log=$(mktemp --suffix=.txt)
trap 'rm -f "$log"' EXIT
wine "$exe" -platform "${KESTREL_WINE_QPA:-offscreen}" "$@" -o "Z:${log//\//\\},txt"
rc=$?
cat "$log"
exit $rc
