#!/usr/bin/env bash
# Times one long file divided at its chapters against the same file converted whole, in the same run:
# a MINUTES-minute 44.1 kHz AAC file with PARTS chapters, to MP3 and to FLAC with --jobs 2, whole and
# with --split chapters, and as copied original audio against ffmpeg's stream copy of the whole file.
# Prints medians and ratios only.
#
#   bench/convert/parts.sh          (BUILD_DIR=build RUNS=3 MINUTES=60 PARTS=12 by default;
#                                    FORMATS="mp3 flac copy" to choose)
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD_DIR=${BUILD_DIR:-$ROOT/build}
RUNS=${RUNS:-3}
MINUTES=${MINUTES:-60}
PARTS=${PARTS:-12}
FORMATS=${FORMATS:-mp3 flac copy}
CONVERT=$BUILD_DIR/src/klangor-convert

. "$ROOT/bench/convert/common.sh"

echo "Making a ${MINUTES}-minute 44.1 kHz stereo AAC file with $PARTS chapters ..."
{
  echo ";FFMETADATA1"
  for ((i = 0; i < PARTS; i++)); do
    printf '[CHAPTER]\nTIMEBASE=1/1000\nSTART=%d\nEND=%d\ntitle=Chapter %d\n' \
      $((i * MINUTES * 60000 / PARTS)) $(((i + 1) * MINUTES * 60000 / PARTS)) $((i + 1))
  done
} >"$WORK/chapters.txt"
ffmpeg -nostdin -v error -y \
  -f lavfi -i "aevalsrc=exprs=0.3*sin(440*2*PI*t+2*sin(0.3*t))+0.05*random(0)|0.3*sin(554*2*PI*t)+0.05*random(1):s=44100" \
  -i "$WORK/chapters.txt" -map 0 -map_chapters 1 -t $((MINUTES * 60)) -c:a aac -b:a 160k "$WORK/book.m4a"
"$CONVERT" --split chapters --list-splits "$WORK/book.m4a" | tail -n +2 | wc -l | xargs echo "parts found:"

for ((run = 0; run < RUNS; run++)); do
  for format in $FORMATS; do
    rm -rf "$WORK/out"
    measure "whole-$format" "$CONVERT" -q --jobs 2 -f "$format" -o "$WORK/out" "$WORK/book.m4a"
    rm -rf "$WORK/out"
    measure "parts-$format" "$CONVERT" -q --jobs 2 -f "$format" --split chapters -o "$WORK/out" "$WORK/book.m4a"
  done
  measure ffmpeg-copy ffmpeg -nostdin -v error -y -i "$WORK/book.m4a" -vn -c:a copy "$WORK/ffmpeg.m4a"
done

echo "load: $(cut -d' ' -f1-3 /proc/loadavg), $(nproc) processors, $RUNS runs"
for format in $FORMATS; do
  whole=$(column_median "whole-$format" 1)
  parts=$(column_median "parts-$format" 1)
  echo "$format: whole ${whole} s, in $PARTS parts ${parts} s, parts/whole $(ratio "$parts" "$whole")," \
    "peak $(mib "$(column_max "parts-$format" 3)") MiB"
done
copy=$(column_median ffmpeg-copy 1)
echo "copy in $PARTS parts against ffmpeg's copy of the whole file (${copy} s): $(ratio "$(column_median parts-copy 1)" "$copy")"
