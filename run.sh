#!/usr/bin/env bash
# Installs what is missing, builds, and opens the desktop program with the given media files.
# "./run.sh --convert FILE..." (or a session without a display) converts them with klangor-convert
# instead (MP3 files in ~/VellumarMP3 unless options say otherwise).
set -euo pipefail
cd "$(dirname "$0")"

./scripts/install-deps.sh

BUILD_DIR=${BUILD_DIR:-build}
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

if [ "${1:-}" = "--convert" ] || { [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; }; then
  if [ "${1:-}" = "--convert" ]; then shift; fi
  cmake --build "$BUILD_DIR" --target klangor-convert
  if [ $# -eq 0 ]; then
    exec "$BUILD_DIR/src/klangor-convert" --help
  fi
  exec "$BUILD_DIR/src/klangor-convert" "$@"
fi

cmake --build "$BUILD_DIR" --target klangor
exec "$BUILD_DIR/src/klangor" "$@"
