#!/usr/bin/env bash
# Times klangor-convert against ffmpeg on a 10-minute 720p H.264 + AAC file, for MP3 and for WAV output,
# and prints the medians, our/ffmpeg ratios and peak memory. A 2-minute file is converted as well, to
# show that peak memory does not grow with the file's length.
#
#   bench/convert/run.sh            (BUILD_DIR=build RUNS=5 MINUTES=10 by default)
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD_DIR=${BUILD_DIR:-$ROOT/build}
RUNS=${RUNS:-5}
MINUTES=${MINUTES:-10}
CONVERT=$BUILD_DIR/src/klangor-convert

. "$ROOT/bench/convert/common.sh"

echo "Making a ${MINUTES}-minute 720p H.264 + AAC file ..."
make_media $((MINUTES * 60)) "$WORK/long.mp4"
make_media 120 "$WORK/short.mp4"

mkdir -p "$WORK/ours"
# The runs of the four cases take turns, so a change in the machine's load hits all of them alike.
for ((i = 0; i < RUNS; i++)); do
  measure ours_mp3 "$CONVERT" -q -o "$WORK/ours" "$WORK/long.mp4"
  measure ffmpeg_mp3 ffmpeg -nostdin -v error -y -i "$WORK/long.mp4" -vn -c:a libmp3lame -b:a 128k \
    -compression_level 2 -joint_stereo 1 "$WORK/ffmpeg.mp3"
  # ffmpeg fed 16-bit samples, as the converter's reader delivers them: LAME's own cost for such input.
  measure ffmpeg_mp3_s16 ffmpeg -nostdin -v error -y -i "$WORK/long.mp4" -vn -c:a libmp3lame -b:a 128k \
    -compression_level 2 -joint_stereo 1 -sample_fmt s16p "$WORK/ffmpeg16.mp3"
  measure ours_wav "$CONVERT" -q --wav -o "$WORK/ours" "$WORK/long.mp4"
  measure ffmpeg_wav ffmpeg -nostdin -v error -y -i "$WORK/long.mp4" -f wav "$WORK/ffmpeg.wav"
done
measure ours_mp3_short "$CONVERT" -q -o "$WORK/ours" "$WORK/short.mp4"
measure ours_wav_short "$CONVERT" -q --wav -o "$WORK/ours" "$WORK/short.mp4"

report() {  # label, our case, ffmpeg's case
  local ours_wall ours_cpu ff_wall ff_cpu
  ours_wall=$(column_median "$2" 1)
  ours_cpu=$(column_median "$2" 2)
  ff_wall=$(column_median "$3" 1)
  ff_cpu=$(column_median "$3" 2)
  printf "  %-4s klangor-convert %7.2f s (cpu %6.2f s, %5s MiB)  ffmpeg %7.2f s (cpu %6.2f s, %5s MiB)  ratio %s (cpu %s)\n" \
    "$1" "$ours_wall" "$ours_cpu" "$(mib "$(column_max "$2" 3)")" "$ff_wall" "$ff_cpu" \
    "$(mib "$(column_max "$3" 3)")" "$(ratio "$ours_wall" "$ff_wall")" "$(ratio "$ours_cpu" "$ff_cpu")"
}

echo
echo "${MINUTES}-minute file, median of $RUNS runs, peak resident memory (MP3s: ffmpeg given 16-bit samples):"
report MP3 ours_mp3 ffmpeg_mp3
report MP3s ours_mp3 ffmpeg_mp3_s16
report WAV ours_wav ffmpeg_wav
echo "Peak memory of klangor-convert, 2-minute vs ${MINUTES}-minute file:"
echo "  MP3 $(mib "$(column_max ours_mp3_short 3)") MiB vs $(mib "$(column_max ours_mp3 3)") MiB;" \
  "WAV $(mib "$(column_max ours_wav_short 3)") MiB vs $(mib "$(column_max ours_wav 3)") MiB"
