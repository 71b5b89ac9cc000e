#!/usr/bin/env bash
# Times the copied original audio of a MINUTES-minute 720p H.264 + AAC file against ffmpeg's stream copy in
# the same run: the whole track, and a selection of half its length (ffmpeg given -ss and -t), and the same
# file converted to MP3 for scale; with each run's peak memory. Prints medians and ratios only.
#
#   bench/convert/copy.sh           (BUILD_DIR=build RUNS=5 MINUTES=10 by default)
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD_DIR=${BUILD_DIR:-$ROOT/build}
RUNS=${RUNS:-5}
MINUTES=${MINUTES:-10}
CONVERT=$BUILD_DIR/src/klangor-convert

. "$ROOT/bench/convert/common.sh"

echo "Making a ${MINUTES}-minute 720p H.264 + AAC file ..."
make_media $((MINUTES * 60)) "$WORK/film.mp4" 1280x720 44100 35
mkdir -p "$WORK/cut"
ln -s "$WORK/film.mp4" "$WORK/cut/film.mp4"
# The selection, in hundredths of a second: from a quarter of the way to three quarters.
total=$((MINUTES * 6000))
printf 'Owner=Vellumar\r\nCutInfo=%d,%d,%d,0;' $total $((total / 4)) $((total * 3 / 4)) >"$WORK/cut/film.mp4.clipinfo"
start=$((MINUTES * 60 / 4))
length=$((MINUTES * 60 / 2))

for ((run = 0; run < RUNS; run++)); do
  measure ours-whole "$CONVERT" -q -f copy -o "$WORK/out" "$WORK/film.mp4"
  measure ffmpeg-whole ffmpeg -nostdin -v error -y -i "$WORK/film.mp4" -vn -c:a copy "$WORK/ffmpeg.m4a"
  measure ours-cut "$CONVERT" -q -f copy -o "$WORK/out-cut" "$WORK/cut/film.mp4"
  measure ffmpeg-cut ffmpeg -nostdin -v error -y -ss $start -i "$WORK/film.mp4" -t $length -vn -c:a copy \
    "$WORK/ffmpeg-cut.m4a"
done
measure ours-mp3 "$CONVERT" -q -o "$WORK/mp3" "$WORK/film.mp4"

echo "load: $(cut -d' ' -f1-3 /proc/loadavg), $(nproc) processors, $RUNS runs"
for what in whole cut; do
  ours=$(column_median "ours-$what" 1)
  ffmpeg=$(column_median "ffmpeg-$what" 1)
  echo "$what: ours ${ours} s (peak $(mib "$(column_max "ours-$what" 3)") MiB), ffmpeg ${ffmpeg} s" \
    "(peak $(mib "$(column_max "ffmpeg-$what" 3)") MiB), ratio $(ratio "$ours" "$ffmpeg")"
done
mp3=$(column_median ours-mp3 1)
echo "our MP3 conversion ${mp3} s: the whole copy is $(ratio "$mp3" "$(column_median ours-whole 1)")x faster"
