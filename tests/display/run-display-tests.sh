#!/usr/bin/env bash
# The stages that need more than ctest's offscreen run: the window tests on a real X server of their
# own (Xvfb, display number chosen by the server) with real input through XTEST, and the player's
# playback threads (render thread, wakeup callback, video surface) under ThreadSanitizer.
# BUILD_DIR names the built tree; SANITIZERS=0 skips the thread checker's stage.
set -euo pipefail
cd "$(dirname "$0")/../.."
BUILD_DIR=${BUILD_DIR:-build}
JOBS=${JOBS:-2}
SANITIZERS=${SANITIZERS:-1}

echo "=== The windows on a real X server ==="
cmake --build "$BUILD_DIR" -j"$JOBS" --target klangor_display_tests
work=$(mktemp -d)
xvfb_pid=""
cleanup() {
  if [[ -n "$xvfb_pid" ]]; then kill "$xvfb_pid" 2>/dev/null || true; wait "$xvfb_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
# The windows and the players find nothing of the user's or of an earlier run.
source scripts/private-folders.sh
private_folders "$work"
mkfifo "$work/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
if ! read -r -t 30 display <"$work/display"; then
  echo "Xvfb did not start:" >&2
  cat "$work/xvfb.log" >&2
  exit 1
fi
# A box that nobody answers would wait for ever: the whole run is bounded.
DISPLAY=":$display" QT_QPA_PLATFORM=xcb timeout 300 "$BUILD_DIR/tests/display/klangor_display_tests"

if [[ "$SANITIZERS" == 0 ]]; then
  exit 0
fi

echo "=== ThreadSanitizer: the player's playback threads ==="
SUPP="$PWD/tests/sanitizers"
export TSAN_OPTIONS="suppressions=$SUPP/tsan.supp:ignore_noninstrumented_modules=1:halt_on_error=1:second_deadlock_stack=1:report_signal_unsafe=0"
cmake -S . -B "$BUILD_DIR-tsan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" \
  -DKLANGOR_WERROR=ON -DKLANGOR_SANITIZE=thread >/dev/null
cmake --build "$BUILD_DIR-tsan" -j"$JOBS" --target player_tests
# Real playback: frames drawn on the render thread into the surface, wakeups posted from libmpv's
# threads, seeks and steps waited for, full screen, and the outside socket ending a playback.
"$BUILD_DIR-tsan/tests/player/player_tests" \
  --gtest_filter='PlaybackTest.VideoClipOpensRunsPausesAndDrawsFrames:PlaybackTest.ReachingSelectionEndCompletesThere:PlaybackTest.FrameStepAdvancesOneFrameOf25Fps:PlaybackTest.FullScreenShowsThePictureAtItsOwnSize:PlaybackTest.StopLoadfileOrQuitThroughTheSocketIsNoCompletionAndTheClipComesBack:PreviewCommandsTest.CompletionMovesToTheNextClipAndStopsAfterTheLast'
