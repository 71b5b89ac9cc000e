#!/usr/bin/env bash
# Times a library of FILES small files in a tree of folders: the first conversion with --jobs 2 against
# ffmpeg run on every file by xargs -P2, and a rerun with --skip-existing, which has nothing to do, against
# the same with --dry-run. Uses -r when the converter walks folders, else --files-from. Prints figures only.
#
#   bench/convert/library.sh        (BUILD_DIR=build FILES=1000 SECONDS_EACH=0.5 by default)
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD_DIR=${BUILD_DIR:-$ROOT/build}
FILES=${FILES:-1000}
SECONDS_EACH=${SECONDS_EACH:-0.5}
CONVERT=$BUILD_DIR/src/klangor-convert

. "$ROOT/bench/convert/common.sh"

echo "Making $FILES files of $SECONDS_EACH s in $((FILES / 50 + 1)) folders ..."
ffmpeg -nostdin -v error -y -f lavfi -i "sine=d=$SECONDS_EACH:r=44100" -ac 2 -c:a flac "$WORK/one.flac"
for ((i = 0; i < FILES; i++)); do
  folder=$WORK/library/disc$((i / 50))
  mkdir -p "$folder"
  cp "$WORK/one.flac" "$folder/track$i.flac"
done
(cd "$WORK" && find library -type f | LC_ALL=C sort >"$WORK/list")
if "$CONVERT" -r --dry-run "$WORK/library" >/dev/null 2>&1; then
  sources=(-r "$WORK/library")
else
  sources=(--files-from "$WORK/list")
fi

cd "$WORK"
measure ours "$CONVERT" -q --jobs 2 -f mp3 -o "$WORK/ours" "${sources[@]}"
measure ffmpeg sh -c "mkdir -p ffmpeg && LC_ALL=C sort list | xargs -P2 -I{} sh -c 'ffmpeg -nostdin -v error -y -i \"\$1\" -c:a libmp3lame -b:a 128k \"ffmpeg/\$(basename \"\$1\").mp3\"' _ {}"
measure skip "$CONVERT" -q --jobs 2 -f mp3 --skip-existing -o "$WORK/ours" "${sources[@]}"
measure dry "$CONVERT" --jobs 2 -f mp3 --dry-run -o "$WORK/ours" "${sources[@]}"

echo "load: $(cut -d' ' -f1-3 /proc/loadavg), $(nproc) processors; sources given by ${sources[0]}"
echo "first run: ours $(column_median ours 1) s, ffmpeg by xargs -P2 $(column_median ffmpeg 1) s," \
  "ratio $(ratio "$(column_median ours 1)" "$(column_median ffmpeg 1)"), peak $(mib "$(column_max ours 3)") MiB"
echo "rerun with --skip-existing (nothing to do): $(column_median skip 1) s for $FILES files;" \
  "--dry-run $(column_median dry 1) s"
