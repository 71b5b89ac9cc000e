#!/usr/bin/env bash
# Times the desktop window's conversion batch against klangor-convert on the same files: four 30-second
# 720p H.264 + AAC clips to MP3, every processor. The window's batch runs offscreen through
# klangor-window-batch (the window itself, its batch and its view, pressed Start once the first clip has
# loaded); its time runs from the press to the completion question. klangor-convert's is its whole run.
# The window runs twice a round: untouched, and with the next clip of its list chosen every 250 ms during
# the batch (each choice opens that clip in the preview). Prints medians, their ratio (the window's over
# klangor-convert's), the worst lateness of a 5 ms tick on the window's thread, and the machine's load.
#
# PLATFORM=xcb runs the window on an X server, as a person sees it (repaints, the preview's video
# window, the window manager's events): the one in DISPLAY, else an Xvfb of its own.
#
#   bench/convert/window-batch.sh          (BUILD_DIR=build RUNS=5 CLIPS=4 SECONDS_PER_CLIP=30
#                                           PLATFORM=offscreen by default)
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD_DIR=${BUILD_DIR:-$ROOT/build}
RUNS=${RUNS:-5}
CLIPS=${CLIPS:-4}
SECONDS_PER_CLIP=${SECONDS_PER_CLIP:-30}
CONVERT=$BUILD_DIR/src/klangor-convert
WINDOW=$BUILD_DIR/src/klangor-window-batch

PLATFORM=${PLATFORM:-offscreen}

. "$ROOT/bench/convert/common.sh"
if [ "$PLATFORM" = xcb ] && [ -z "${DISPLAY:-}" ]; then
  n=90
  while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do
    n=$((n + 1))
  done
  Xvfb ":$n" -screen 0 1600x1000x24 -nolisten tcp >/dev/null 2>&1 &
  XVFB_PID=$!
  trap 'kill "$XVFB_PID" 2>/dev/null; rm -rf "$WORK"' EXIT
  export DISPLAY=":$n"
  for _ in $(seq 50); do
    xdpyinfo >/dev/null 2>&1 && break
    sleep 0.1
  done
fi
if [ ! -x "$WINDOW" ]; then
  cmake --build "$BUILD_DIR" --target klangor-window-batch
fi

make_clips
mkdir -p "$WORK/cli" "$WORK/window" "$WORK/home"

# The window's own figures, one line per run: "last-file-seconds question-seconds worst-stall-ms", into
# $WORK/$1.runs; $2 is 1 to open clips during the batch.
window_run() {
  HOME="$WORK/home" KLANGOR_OPEN_CLIPS=$2 QT_QPA_PLATFORM=$PLATFORM "$WINDOW" "$WORK/window" "${CLIP_FILES[@]}" \
    >"$WORK/window.out" 2>"$WORK/window.err" || {
    cat "$WORK/window.err" >&2
    exit 1
  }
  awk '/^files/ { print $4, $6, $8 }' "$WORK/window.out" >>"$WORK/$1.runs"
}

echo "load before: $(uptime)"
# The two take turns in every round, so a change in the machine's load hits both alike.
for ((r = 0; r < RUNS; r++)); do
  measure cli "$CONVERT" -q -o "$WORK/cli" "${CLIP_FILES[@]}"
  window_run window 0
  window_run opening 1
done
echo "load after:  $(uptime)"

CLI=$(column_median cli 1)
LAST=$(awk '{ print $1 }' "$WORK/window.runs" | median)
BOX=$(awk '{ print $2 }' "$WORK/window.runs" | median)
OPEN_BOX=$(awk '{ print $2 }' "$WORK/opening.runs" | median)
STALL=$(awk '{ print $3 }' "$WORK/window.runs" | sort -g | tail -1)
OPEN_STALL=$(awk '{ print $3 }' "$WORK/opening.runs" | sort -g | tail -1)
echo
echo "$CLIPS clips of ${SECONDS_PER_CLIP} s to MP3, $(nproc) processors, the window on $PLATFORM${DISPLAY:+ ($DISPLAY)}, median of $RUNS runs (wall time):"
printf "  klangor-convert                               %7.2f s\n" "$CLI"
printf "  window, Start to the last file               %7.2f s\n" "$LAST"
printf "  window, Start to the completion box          %7.2f s   ratio %s   worst stall %s ms\n" \
  "$BOX" "$(ratio "$BOX" "$CLI")" "$STALL"
printf "  window opening clips, Start to the box       %7.2f s   ratio %s   worst stall %s ms\n" \
  "$OPEN_BOX" "$(ratio "$OPEN_BOX" "$CLI")" "$OPEN_STALL"
echo "  runs (last file, box, stall): window $(tr '\n' ';' <"$WORK/window.runs")  opening $(tr '\n' ';' <"$WORK/opening.runs")"
echo "  klangor-convert: $(awk '{ printf "%s;", $1 }' "$WORK/cli.runs")"
