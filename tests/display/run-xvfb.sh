#!/usr/bin/env bash
# Runs the tests that need a real display on an Xvfb server of their own (its number chosen by Xvfb,
# so parallel runs never meet), then stops that server. Usage: run-xvfb.sh BUILD_DIR
set -euo pipefail
BUILD_DIR=${1:-build}
workDir=$(mktemp -d)
mkfifo "$workDir/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$workDir/display" 2>"$workDir/xvfb.log" &
xvfbPid=$!
trap 'kill "$xvfbPid" 2>/dev/null || true; wait "$xvfbPid" 2>/dev/null || true; rm -rf "$workDir"' EXIT
# Xvfb writes its number once it accepts clients; the read waits for exactly that.
if ! read -r -t 30 displayNumber <"$workDir/display"; then
  echo "Xvfb did not start:" >&2
  cat "$workDir/xvfb.log" >&2
  exit 1
fi
DISPLAY=":$displayNumber" QT_QPA_PLATFORM=xcb "$BUILD_DIR/tests/display/klangor_display_tests"
