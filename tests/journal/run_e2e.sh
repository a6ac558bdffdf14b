#!/usr/bin/env bash
# Runs the journal end-to-end test under Xvfb; skips (exit 77) when a part it
# needs was not built or Xvfb is missing.
#   run_e2e.sh E2E_BINARY CBSIM_BINARY UTILITE_BINARY
set -u
e2e=$1 cbsim=${2:-} utilite=${3:-}
skip() { echo "SKIP: $*"; exit 77; }
[ -n "$cbsim" ] && [ -x "$cbsim" ] || skip "kestrel-cbsim is not built"
[ -n "$utilite" ] && [ -x "$utilite" ] || skip "kestrel-utilite is not built"
command -v xvfb-run >/dev/null || skip "xvfb-run is not installed"
unset QT_QPA_PLATFORM
exec xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" "$e2e" "$cbsim"
