#!/usr/bin/env bash
# The timeline's waveform summary and the cost of --normalize, on a film-like file (small H.264 video,
# AAC stereo 48 kHz): prints the summary's time as a multiple of real time against ffmpeg decoding the
# same audio, the time a later session takes to show it from the disk cache, and a normalised conversion
# against a plain one.
#
#   bench/waveform/run.sh            (BUILD_DIR=build MINUTES=20 by default)
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD_DIR=${BUILD_DIR:-$ROOT/build}
MINUTES=${MINUTES:-20}
cmake --build "$BUILD_DIR" --target waveform_bench klangor-convert >/dev/null

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
echo "Making a ${MINUTES}-minute film-like file ..."
ffmpeg -nostdin -v error -y -f lavfi -i "testsrc2=size=320x180:rate=10" \
  -f lavfi -i "aevalsrc=exprs=0.3*sin(440*2*PI*t+2*sin(0.3*t))+0.05*random(0)|0.3*sin(554*2*PI*t):s=48000" \
  -t $((MINUTES * 60)) -map 0:v -map 1:a -c:v libx264 -preset ultrafast -crf 40 -c:a aac -b:a 160k "$WORK/film.mp4"

seconds() { /usr/bin/time -f "%e" -o "$WORK/t" "$@" >/dev/null 2>&1; cat "$WORK/t"; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0) ? a / b : 0 }'; }

read -r ours_s audio_s speed kept_ms < <("$BUILD_DIR/bench/waveform/waveform_bench" "$WORK/film.mp4" "$WORK/cache")
ff_s=$(seconds ffmpeg -nostdin -v error -i "$WORK/film.mp4" -vn -f null -)
echo "Summary of ${audio_s} s of audio: ${ours_s} s, ${speed}x real time; ffmpeg decode ${ff_s} s;" \
  "ratio $(ratio "$ours_s" "$ff_s")"
echo "  a 2-hour film at this speed: $(awk -v s="$speed" 'BEGIN { printf "%.1f", 7200 / s }') s"
echo "  the same waveform in a later session, from the disk cache: ${kept_ms} ms"

mkdir -p "$WORK/out"
plain_s=$(seconds "$BUILD_DIR/src/klangor-convert" -q -o "$WORK/out" "$WORK/film.mp4")
norm_s=$(seconds "$BUILD_DIR/src/klangor-convert" -q --normalize -o "$WORK/out" "$WORK/film.mp4")
# With our default encoder settings (quality 2, joint stereo): ffmpeg's own default quality is faster.
ffmp3_s=$(seconds ffmpeg -nostdin -v error -y -i "$WORK/film.mp4" -vn -c:a libmp3lame -b:a 128k \
  -compression_level 2 -joint_stereo 1 "$WORK/ff.mp3")
echo "MP3: plain ${plain_s} s, --normalize ${norm_s} s (x$(ratio "$norm_s" "$plain_s")); ffmpeg ${ffmp3_s} s;" \
  "ratios to ffmpeg $(ratio "$plain_s" "$ffmp3_s") and $(ratio "$norm_s" "$ffmp3_s")"
wplain_s=$(seconds "$BUILD_DIR/src/klangor-convert" -q --wav -o "$WORK/out" "$WORK/film.mp4")
wnorm_s=$(seconds "$BUILD_DIR/src/klangor-convert" -q --wav --normalize -o "$WORK/out" "$WORK/film.mp4")
ffwav_s=$(seconds ffmpeg -nostdin -v error -y -i "$WORK/film.mp4" -vn "$WORK/ff.wav")
echo "WAV: plain ${wplain_s} s, --normalize ${wnorm_s} s (x$(ratio "$wnorm_s" "$wplain_s")); ffmpeg ${ffwav_s} s"
