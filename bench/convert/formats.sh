#!/usr/bin/env bash
# Times klangor-convert against ffmpeg for every output format, in the same run: one 10-minute 44.1 kHz
# stereo file to each format, by the converter on every processor (its default: a long file is encoded
# in pieces where its format joins them) and on one (--jobs 1), against ffmpeg's same encoder (ratio of
# wall times), a batch of four files with --jobs 2 against ffmpeg one after the other (speed-up), and
# the peak resident memory of one job per format. Prints figures
# only. A format the binary does not accept (probed with `-f FMT` on a one-second file) is noted and
# skipped; where `-f` itself is unknown, MP3 and WAV are asked for with --mp3 and --wav.
#
#   bench/convert/formats.sh        (BUILD_DIR=build RUNS=3 MINUTES=10 BATCH_SECONDS=120 by default;
#                                    FORMATS="mp3 wav flac opus aac alac vorbis" to choose)
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD_DIR=${BUILD_DIR:-$ROOT/build}
RUNS=${RUNS:-3}
MINUTES=${MINUTES:-10}
BATCH_SECONDS=${BATCH_SECONDS:-120}
FORMATS=${FORMATS:-mp3 wav flac opus aac alac vorbis}
CONVERT=$BUILD_DIR/src/klangor-convert

. "$ROOT/bench/convert/common.sh"

# ffmpeg's encoder and settings for each format, and the extension of its output. MP3 as run.sh has
# it: LAME's quality 2 and joint stereo are the converter's defaults.
ffmpeg_args() {
  case $1 in
    mp3) echo "-c:a libmp3lame -b:a 128k -compression_level 2 -joint_stereo 1" ;;
    wav) echo "-c:a pcm_s16le" ;;
    flac) echo "-c:a flac -compression_level 5" ;;
    opus) echo "-c:a libopus -b:a 128k" ;;
    aac) echo "-c:a aac -b:a 192k" ;;
    alac) echo "-c:a alac" ;;
    vorbis) echo "-c:a libvorbis -q:a 5" ;;
  esac
}
ffmpeg_ext() {
  case $1 in
    aac | alac) echo m4a ;;
    vorbis) echo ogg ;;
    *) echo "$1" ;;
  esac
}

make_audio() {  # seconds, tone, path
  ffmpeg -nostdin -v error -y \
    -f lavfi -i "aevalsrc=exprs=0.3*sin($2*2*PI*t+2*sin(0.3*t))+0.05*random(0)|0.3*sin(554*2*PI*t)+0.05*random(1):s=44100" \
    -t "$1" -c:a aac -b:a 160k "$3"
}

echo "Making a ${MINUTES}-minute and four ${BATCH_SECONDS}-second 44.1 kHz stereo AAC files ..."
make_audio $((MINUTES * 60)) 440 "$WORK/long.m4a"
make_audio 1 440 "$WORK/tiny.m4a"
BATCH_FILES=()
for ((i = 0; i < 4; i++)); do
  make_audio "$BATCH_SECONDS" $((440 + i * 50)) "$WORK/batch$i.m4a"
  BATCH_FILES+=("$WORK/batch$i.m4a")
done

# The converter's options for each format it accepts, in OURS_ARGS_<fmt>.
mkdir -p "$WORK/probe"
ENCODERS=$(ffmpeg -hide_banner -encoders 2>/dev/null)
TAKEN=()
for fmt in $FORMATS; do
  if [ -z "$(ffmpeg_args "$fmt")" ]; then
    echo "  $fmt: skipped, not a format this script knows"
    continue
  fi
  encoder=$(ffmpeg_args "$fmt" | awk '{ print $2 }')
  if ! grep -qw -- "$encoder" <<<"$ENCODERS"; then
    echo "  $fmt: skipped, this ffmpeg has no $encoder encoder"
    continue
  fi
  args=""
  if "$CONVERT" -q -f "$fmt" -o "$WORK/probe" "$WORK/tiny.m4a" >/dev/null 2>&1; then
    args="-f $fmt"
  elif [ "$fmt" = mp3 ] || [ "$fmt" = wav ]; then
    "$CONVERT" -q "--$fmt" -o "$WORK/probe" "$WORK/tiny.m4a" >/dev/null 2>&1 && args="--$fmt"
  fi
  if [ -z "$args" ]; then
    echo "  $fmt: skipped, klangor-convert does not accept -f $fmt"
    continue
  fi
  [ "$args" = "-f $fmt" ] || echo "  $fmt: klangor-convert has no -f; asked for with $args"
  printf -v "OURS_ARGS_$fmt" '%s' "$args"
  TAKEN+=("$fmt")
done
[ ${#TAKEN[@]} -gt 0 ] || { echo "no format to measure" >&2; exit 1; }
ours_args() { local name="OURS_ARGS_$1"; echo "${!name}"; }

for fmt in "${TAKEN[@]}"; do
  cat >"$WORK/ffmpeg-batch-$fmt.sh" <<EOS
#!/bin/sh
for f in "\$@"; do
  ffmpeg -nostdin -v error -y -i "\$f" -vn $(ffmpeg_args "$fmt") "$WORK/ff/\$(basename "\$f").$(ffmpeg_ext "$fmt")" || exit 1
done
EOS
  chmod +x "$WORK/ffmpeg-batch-$fmt.sh"
done
mkdir -p "$WORK/ours" "$WORK/ff"

# Every round runs every case once, so a change in the machine's load hits all of them alike.
echo "Measuring ${TAKEN[*]}, $RUNS rounds ..."
for ((r = 0; r < RUNS; r++)); do
  for fmt in "${TAKEN[@]}"; do
    # shellcheck disable=SC2046  # the options are words
    measure "ours_$fmt" "$CONVERT" -q $(ours_args "$fmt") -o "$WORK/ours" "$WORK/long.m4a"
    # shellcheck disable=SC2046
    measure "ours_one_$fmt" "$CONVERT" -q $(ours_args "$fmt") --jobs 1 -o "$WORK/ours" "$WORK/long.m4a"
    # shellcheck disable=SC2046
    measure "ffmpeg_$fmt" ffmpeg -nostdin -v error -y -i "$WORK/long.m4a" -vn $(ffmpeg_args "$fmt") \
      "$WORK/ff/long.$(ffmpeg_ext "$fmt")"
    # shellcheck disable=SC2046
    measure "ours_batch_$fmt" "$CONVERT" -q $(ours_args "$fmt") --jobs 2 -o "$WORK/ours" "${BATCH_FILES[@]}"
    measure "ffmpeg_batch_$fmt" "$WORK/ffmpeg-batch-$fmt.sh" "${BATCH_FILES[@]}"
  done
done

echo
echo "Load: $(uptime | sed 's/.*load average/load average/'), $(nproc) processors; median of $RUNS runs"
echo "One ${MINUTES}-minute file (klangor-convert on every processor and with --jobs 1, against ffmpeg;"
echo "ratios of wall times, below 1 is faster):"
for fmt in "${TAKEN[@]}"; do
  ours=$(column_median "ours_$fmt" 1)
  one=$(column_median "ours_one_$fmt" 1)
  ff=$(column_median "ffmpeg_$fmt" 1)
  printf "  %-6s klangor-convert %6.2f s (cpu %6.2f s), one processor %6.2f s  ffmpeg %6.2f s  ratio %s (one %s)\n" \
    "$fmt" "$ours" "$(column_median "ours_$fmt" 2)" "$one" "$ff" "$(ratio "$ours" "$ff")" "$(ratio "$one" "$ff")"
done
echo "Four ${BATCH_SECONDS}-second files (klangor-convert --jobs 2 against ffmpeg one after the other):"
for fmt in "${TAKEN[@]}"; do
  ours=$(column_median "ours_batch_$fmt" 1)
  ff=$(column_median "ffmpeg_batch_$fmt" 1)
  printf "  %-6s klangor-convert %7.2f s  ffmpeg %7.2f s  speed-up %sx\n" "$fmt" "$ours" "$ff" "$(ratio "$ff" "$ours")"
done
echo "Peak resident memory of one job (the ${MINUTES}-minute file):"
for fmt in "${TAKEN[@]}"; do
  printf "  %-6s klangor-convert %6s MiB  ffmpeg %6s MiB\n" "$fmt" "$(mib "$(column_max "ours_$fmt" 3)")" \
    "$(mib "$(column_max "ffmpeg_$fmt" 3)")"
done
