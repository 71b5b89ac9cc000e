#!/usr/bin/env bash
# Times one file divided over the processors against ffmpeg's one encoder, in the same run, for the
# outputs the converter divides (MP3, FLAC): a MINUTES-minute AAC file made by ffmpeg's own encoder from
# a tone with vibrato and a low noise floor ("tonal"), and one from pink noise under a tone ("noise",
# whose noise substitution decodes differently after every seek). Each also with --split-after 0 (one
# encoder, undivided). Prints medians of wall time, ratios to ffmpeg and peak memory.
#
#   bench/convert/divide.sh         (BUILD_DIR=build RUNS=3 MINUTES=3 by default; FORMATS="mp3 flac")
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD_DIR=${BUILD_DIR:-$ROOT/build}
RUNS=${RUNS:-3}
MINUTES=${MINUTES:-3}
FORMATS=${FORMATS:-mp3 flac}
CONVERT=$BUILD_DIR/src/klangor-convert

. "$ROOT/bench/convert/common.sh"

ffmpeg_args() {
  case $1 in
    mp3) echo "-c:a libmp3lame -b:a 128k -compression_level 2 -joint_stereo 1" ;;
    flac) echo "-c:a flac -compression_level 5" ;;
  esac
}

SECONDS_LONG=$((MINUTES * 60))
echo "Making two ${MINUTES}-minute 44.1 kHz stereo AAC files ..."
ffmpeg -nostdin -v error -y \
  -f lavfi -i "aevalsrc=exprs=0.3*sin(440*2*PI*t+2*sin(0.3*t))+0.05*random(0)|0.3*sin(554*2*PI*t)+0.05*random(1):s=44100" \
  -t "$SECONDS_LONG" -c:a aac -b:a 160k "$WORK/tonal.m4a"
ffmpeg -nostdin -v error -y \
  -f lavfi -i "anoisesrc=c=pink:a=0.25:r=44100:d=$SECONDS_LONG" -f lavfi -i "sine=f=330:r=44100:d=$SECONDS_LONG" \
  -filter_complex "[0][1]amix=inputs=2,aformat=channel_layouts=stereo" -c:a aac -b:a 96k "$WORK/noise.m4a"
mkdir -p "$WORK/ours" "$WORK/ff"

for ((r = 0; r < RUNS; r++)); do
  for src in tonal noise; do
    for fmt in $FORMATS; do
      measure "ours_${src}_$fmt" "$CONVERT" -q -f "$fmt" -o "$WORK/ours" "$WORK/$src.m4a"
      measure "whole_${src}_$fmt" "$CONVERT" -q -f "$fmt" --split-after 0 -o "$WORK/ours" "$WORK/$src.m4a"
      # shellcheck disable=SC2046  # the options are words
      measure "ffmpeg_${src}_$fmt" ffmpeg -nostdin -v error -y -i "$WORK/$src.m4a" -vn $(ffmpeg_args "$fmt") \
        "$WORK/ff/$src.$fmt"
    done
  done
done

echo
echo "Load: $(uptime | sed 's/.*load average/load average/'), $(nproc) processors; median of $RUNS runs"
echo "One ${MINUTES}-minute AAC file; ratios of wall time to ffmpeg's, below 1 is faster:"
for src in tonal noise; do
  for fmt in $FORMATS; do
    ours=$(column_median "ours_${src}_$fmt" 1)
    whole=$(column_median "whole_${src}_$fmt" 1)
    ff=$(column_median "ffmpeg_${src}_$fmt" 1)
    printf "  %-5s -> %-4s divided %6.2f s (cpu %6.2f s) %s   undivided %6.2f s %s   ffmpeg %6.2f s   peak %s MiB\n" \
      "$src" "$fmt" "$ours" "$(column_median "ours_${src}_$fmt" 2)" "$(ratio "$ours" "$ff")" "$whole" \
      "$(ratio "$whole" "$ff")" "$ff" "$(mib "$(column_max "ours_${src}_$fmt" 3)")"
  done
done
