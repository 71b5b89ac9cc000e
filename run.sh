#!/usr/bin/env bash
# Installs what is missing, builds, and converts the given media files with klangor-convert
# (MP3 files in ~/VellumarMP3 unless options say otherwise).
set -euo pipefail
cd "$(dirname "$0")"

./scripts/install-deps.sh

BUILD_DIR=${BUILD_DIR:-build}
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD_DIR" --target klangor-convert

if [ $# -eq 0 ]; then
  exec "$BUILD_DIR/src/klangor-convert" --help
fi
exec "$BUILD_DIR/src/klangor-convert" "$@"
