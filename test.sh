#!/usr/bin/env bash
# Installs what is missing, builds everything with warnings as errors, and runs every test; then runs
# the whole suite again under AddressSanitizer and UndefinedBehaviorSanitizer, and the threading tests
# (writers, batch, the window's conversion) under ThreadSanitizer, each in a build folder of its own.
# SANITIZERS=0 skips the sanitizer builds. Before them, the permission and full-disk cases run as an
# unprivileged user and the fuzz targets for a bounded time (HOSTILE=0 skips both).
set -euo pipefail
cd "$(dirname "$0")"

./scripts/install-deps.sh
# Folders are layers: an include against the direction fails before anything is built; so does a file
# out of the house style.
./scripts/check-layers.sh
./scripts/check-style.sh

# A rerun on the same machine (CI after a session, a developer's loop) recompiles only what changed, in
# every build folder; on a fresh machine the cache only costs its look-ups.
if command -v ccache >/dev/null; then
  export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache CCACHE_BASEDIR="$PWD"
fi

# Each stage gets home, cache, settings and runtime folders of its own.
source scripts/private-folders.sh
stages=$(mktemp -d "${TMPDIR:-/tmp}/klangor-stages-XXXXXX")
trap 'rm -rf "$stages"' EXIT

BUILD_DIR=${BUILD_DIR:-build}
JOBS=${JOBS:-2}
SANITIZERS=${SANITIZERS:-1}
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKLANGOR_WERROR=ON
cmake --build "$BUILD_DIR" -j"$JOBS"

export QT_QPA_PLATFORM=offscreen
private_folders "$stages/ctest"
ctest --test-dir "$BUILD_DIR" --output-on-failure -j"$JOBS"
BUILD_DIR="$BUILD_DIR" JOBS="$JOBS" SANITIZERS="$SANITIZERS" tests/display/run-display-tests.sh
private_folders "$stages/install"
./scripts/check-install.sh "$BUILD_DIR"

if [[ "${HOSTILE:-1}" != 0 ]]; then
  private_folders "$stages/hostile"
  ./tests/hostile/unprivileged.sh "$BUILD_DIR"
  private_folders "$stages/fuzz"
  ./tests/fuzz/run.sh
fi

if [[ "$SANITIZERS" == 0 ]]; then
  exit 0
fi

SUPP="$PWD/tests/sanitizers"
# Optimised a little, so media-heavy tests stay quick, with frames kept for readable reports.
SAN_FLAGS=(-G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" -DKLANGOR_WERROR=ON)

echo "=== AddressSanitizer and UndefinedBehaviorSanitizer: the whole suite ==="
# Set before the build too: listing a test program's tests already runs it.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1
export LSAN_OPTIONS="suppressions=$SUPP/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
cmake -S . -B "$BUILD_DIR-asan" "${SAN_FLAGS[@]}" -DKLANGOR_SANITIZE=address,undefined
cmake --build "$BUILD_DIR-asan" -j"$JOBS"
private_folders "$stages/asan"
ctest --test-dir "$BUILD_DIR-asan" --output-on-failure -j"$JOBS"

echo "=== ThreadSanitizer: writers, batch and the window's conversion ==="
# The libraries built without the checker are not looked into: their own locking is invisible to it.
export TSAN_OPTIONS="suppressions=$SUPP/tsan.supp:ignore_noninstrumented_modules=1:halt_on_error=1:second_deadlock_stack=1:report_signal_unsafe=0"
cmake -S . -B "$BUILD_DIR-tsan" "${SAN_FLAGS[@]}" -DKLANGOR_SANITIZE=thread
cmake --build "$BUILD_DIR-tsan" -j"$JOBS" --target convert_engine_tests klangor_app_conversion_tests
private_folders "$stages/tsan"
"$BUILD_DIR-tsan/tests/convert/convert_engine_tests" \
  --gtest_filter='BatchTest.*:BatchNaming*:WavWriterTest.*:Mp3WriterTest.*:BrokenMedia*:Parallel*:DivideJobTest.*:Mp3StreamWriter*-DivideJobTest.Sources*:DivideJobTest.ASource*:DivideJobTest.DividedSelection*'
"$BUILD_DIR-tsan/tests/app/klangor_app_conversion_tests"
