#!/usr/bin/env bash
# Times a batch of 40-second 720p H.264 + AAC clips to MP3: klangor-convert one file at a time and with
# every processor, against ffmpeg run one clip after the other and ffmpeg run `xargs -P<cores>`. Prints
# medians, ratios of the same run, and peak memory per running job.
#
#   bench/convert/batch.sh          (BUILD_DIR=build RUNS=5 CLIPS=4 SECONDS_PER_CLIP=40 by default)
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD_DIR=${BUILD_DIR:-$ROOT/build}
RUNS=${RUNS:-5}
CLIPS=${CLIPS:-4}
SECONDS_PER_CLIP=${SECONDS_PER_CLIP:-40}
CONVERT=$BUILD_DIR/src/klangor-convert
CORES=$(nproc)

. "$ROOT/bench/convert/common.sh"

make_clips

# The same ffmpeg command for one clip as in run.sh.
cat >"$WORK/ffmpeg-one.sh" <<'EOS'
#!/bin/sh
exec ffmpeg -nostdin -v error -y -i "$1" -vn -c:a libmp3lame -b:a 128k -compression_level 2 -joint_stereo 1 "$2/$(basename "$1").mp3"
EOS
chmod +x "$WORK/ffmpeg-one.sh"
cat >"$WORK/ffmpeg-sequential.sh" <<EOS
#!/bin/sh
for f in "\$@"; do "$WORK/ffmpeg-one.sh" "\$f" "$WORK/ff" || exit 1; done
EOS
chmod +x "$WORK/ffmpeg-sequential.sh"
cat >"$WORK/ffmpeg-parallel.sh" <<EOS
#!/bin/sh
printf '%s\n' "\$@" | xargs -P$CORES -I{} "$WORK/ffmpeg-one.sh" {} "$WORK/ff"
EOS
chmod +x "$WORK/ffmpeg-parallel.sh"
mkdir -p "$WORK/ours" "$WORK/ff"

wall() { column_median "$1" 1; }
cpu() { column_median "$1" 2; }
peak_mib() { mib "$(column_max "$1" 3)"; }

# The cases take turns in every round, so a change in the machine's load hits all of them alike.
for ((r = 0; r < RUNS; r++)); do
  measure ours_j1 "$CONVERT" -q --jobs 1 -o "$WORK/ours" "${CLIP_FILES[@]}"
  measure ffmpeg_seq "$WORK/ffmpeg-sequential.sh" "${CLIP_FILES[@]}"
  measure ours_all "$CONVERT" -q -o "$WORK/ours" "${CLIP_FILES[@]}"
  measure ffmpeg_par "$WORK/ffmpeg-parallel.sh" "${CLIP_FILES[@]}"
done

J1=$(wall ours_j1)
ALL=$(wall ours_all)
SEQ=$(wall ffmpeg_seq)
PAR=$(wall ffmpeg_par)
JOBS_ALL=$(( CLIPS < CORES ? CLIPS : CORES ))
echo
echo "$CLIPS clips of ${SECONDS_PER_CLIP} s to MP3, $CORES processors, median of $RUNS runs (wall time):"
printf "  klangor-convert --jobs 1 %7.2f s   ffmpeg one after the other %7.2f s   ratio %s\n" "$J1" "$SEQ" "$(ratio "$J1" "$SEQ")"
printf "  klangor-convert (%d jobs) %7.2f s   ffmpeg xargs -P%d           %7.2f s   ratio %s\n" "$JOBS_ALL" "$ALL" "$CORES" "$PAR" "$(ratio "$ALL" "$PAR")"
printf "  speed-up of klangor-convert (%d jobs) over sequential ffmpeg: %sx (over its own --jobs 1: %sx)\n" \
  "$JOBS_ALL" "$(ratio "$SEQ" "$ALL")" "$(ratio "$J1" "$ALL")"
printf "  cpu time: --jobs 1 %s s, %d jobs %s s; ffmpeg one after the other %s s, xargs %s s\n" "$(cpu ours_j1)" \
  "$JOBS_ALL" "$(cpu ours_all)" "$(cpu ffmpeg_seq)" "$(cpu ffmpeg_par)"
printf "  peak memory: --jobs 1 %s MiB; %d jobs %s MiB, %s MiB per running job\n" "$(peak_mib ours_j1)" \
  "$JOBS_ALL" "$(peak_mib ours_all)" "$(awk -v m="$(peak_mib ours_all)" -v n="$JOBS_ALL" 'BEGIN { printf "%.1f", m / n }')"
