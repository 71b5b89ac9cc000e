#!/usr/bin/env bash
# Times one long H.264 + AAC file to MP3: klangor-convert with --jobs 1 (one encoder), 2 and all
# processors (the file encoded in parts side by side), against ffmpeg's libmp3lame, which encodes on one
# thread. Runs take turns; prints medians and ratios of the same run, and the peak memory of the parted
# run for a file a fifth as long, to show that memory does not grow with the file's length, and for a
# one-hour film (small video, so it is quick to make) against ffmpeg decoding it.
#
#   bench/convert/split.sh          (BUILD_DIR=build RUNS=5 MINUTES=10 RATE=44100 HOUR=1 by default;
#                                    HOUR=0 leaves out the hour-long file)
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD_DIR=${BUILD_DIR:-$ROOT/build}
RUNS=${RUNS:-5}
MINUTES=${MINUTES:-10}
RATE=${RATE:-44100}
HOUR=${HOUR:-1}
CONVERT=$BUILD_DIR/src/klangor-convert
CORES=$(nproc)

. "$ROOT/bench/convert/common.sh"

echo "Making a ${MINUTES}-minute H.264 + AAC ${RATE} Hz file and one a fifth as long ..."
make_media $((MINUTES * 60)) "$WORK/long.mp4" 640x360 "$RATE"
make_media $((MINUTES * 12)) "$WORK/short.mp4" 640x360 "$RATE"
mkdir -p "$WORK/out"

for ((i = 0; i < RUNS; i++)); do
  measure jobs1 "$CONVERT" -q --jobs 1 -o "$WORK/out" "$WORK/long.mp4"
  measure jobs2 "$CONVERT" -q --jobs 2 -o "$WORK/out" "$WORK/long.mp4"
  measure ffmpeg ffmpeg -nostdin -v error -y -i "$WORK/long.mp4" -vn -c:a libmp3lame -b:a 128k \
    -compression_level 2 -joint_stereo 1 "$WORK/ffmpeg.mp3"
  if ((CORES != 2)); then
    measure jobsall "$CONVERT" -q -o "$WORK/out" "$WORK/long.mp4"
  fi
done
measure short2 "$CONVERT" -q --jobs 2 -o "$WORK/out" "$WORK/short.mp4"
if ((CORES == 2)); then
  cp "$WORK/jobs2.runs" "$WORK/jobsall.runs"
fi

FF=$(column_median ffmpeg 1)
J1=$(column_median jobs1 1)
echo
echo "${MINUTES}-minute file to MP3 (128 kbps), median wall time of $RUNS runs, $CORES processors:"
printf "  ffmpeg libmp3lame   %7.2f s  (cpu %6.2f s, %5s MiB)\n" "$FF" "$(column_median ffmpeg 2)" \
  "$(mib "$(column_max ffmpeg 3)")"
for c in jobs1 jobs2 jobsall; do
  W=$(column_median $c 1)
  printf "  klangor %-11s %7.2f s  (cpu %6.2f s, %5s MiB)  --jobs 1 / this %s   ffmpeg / this %s\n" "$c" "$W" \
    "$(column_median $c 2)" "$(mib "$(column_max $c 3)")" "$(ratio "$J1" "$W")" "$(ratio "$FF" "$W")"
done
echo "Peak memory in parts (--jobs 2): $(mib "$(column_max short2 3)") MiB for $((MINUTES * 12 / 60)) min," \
  "$(mib "$(column_max jobs2 3)") MiB for ${MINUTES} min"
if [[ "$HOUR" != 0 ]]; then
  echo "Making a one-hour film-like file ..."
  ffmpeg -nostdin -v error -y -f lavfi -i "testsrc2=size=320x180:rate=10" \
    -f lavfi -i "aevalsrc=exprs=0.3*sin(440*2*PI*t+2*sin(0.3*t))+0.05*random(0)|0.3*sin(554*2*PI*t):s=$RATE" \
    -t 3600 -map 0:v -map 1:a -c:v libx264 -preset ultrafast -crf 40 -c:a aac -b:a 160k "$WORK/hour.mp4"
  ffmpeg -nostdin -v error -y -i "$WORK/hour.mp4" -c copy -f matroska "$WORK/hour.mkv"
  measure hour2 "$CONVERT" -q --jobs 2 -o "$WORK/out" "$WORK/hour.mp4"
  measure hourmkv "$CONVERT" -q --jobs 2 -o "$WORK/out" "$WORK/hour.mkv"
  measure hourff ffmpeg -nostdin -v error -i "$WORK/hour.mp4" -vn -f null -
  echo "Peak memory in parts (--jobs 2) for one hour: $(mib "$(column_max hour2 3)") MiB from MP4," \
    "$(mib "$(column_max hourmkv 3)") MiB from Matroska; ffmpeg only decoding the MP4: $(mib "$(column_max hourff 3)") MiB"
fi
