#!/usr/bin/env bash
# Installs what is missing, builds everything with warnings as errors, and runs every test.
set -euo pipefail
cd "$(dirname "$0")"

./scripts/install-deps.sh

BUILD_DIR=${BUILD_DIR:-build}
JOBS=${JOBS:-2}
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKLANGOR_WERROR=ON
cmake --build "$BUILD_DIR" -j"$JOBS"

export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$BUILD_DIR" --output-on-failure -j"$JOBS"
