#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in a folder of their own and runs each for a bounded time,
# seeded with small real files made here (ffmpeg) and the tiny seeds kept in tests/fuzz/seeds. Fails on
# any crash, leak, hang (per-input time limit) or sanitizer report, naming the input it kept.
#
#   tests/fuzz/run.sh                    every target, FUZZ_SECONDS (default 20) each, the media decoder
#                                        twice that: the CI stage
#   tests/fuzz/run.sh fuzz_gif 3600      one target for an hour, its corpus kept in the build folder
#
# FUZZ_BUILD_DIR (default build-fuzz) names the build folder.
set -euo pipefail
cd "$(dirname "$0")/../.."
ROOT=$PWD
BUILD=$(realpath -m "${FUZZ_BUILD_DIR:-build-fuzz}")
ALL_TARGETS=(fuzz_cutinfo fuzz_skin_layout fuzz_jpeg fuzz_gif fuzz_media_decoder fuzz_convert_cmdline fuzz_midi fuzz_cuesheet)
if (($#)); then
  TARGETS=("$1")
  SECONDS_EACH=${2:-600}
  KEEP_CORPUS=1
else
  TARGETS=("${ALL_TARGETS[@]}")
  SECONDS_EACH=${FUZZ_SECONDS:-20}
  KEEP_CORPUS=0
fi
start=$SECONDS

# Only the core library and the targets: no desktop program, no test programs.
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DKLANGOR_FUZZ=ON -DKLANGOR_BUILD_GUI=OFF -DKLANGOR_BUILD_TESTS=OFF >/dev/null
cmake --build "$BUILD" -j"${JOBS:-2}" --target "${TARGETS[@]}"
built=$SECONDS
echo "fuzz targets built in $((built - start)) s"

work=$(mktemp -d "${TMPDIR:-/tmp}/klangor-fuzz-run-XXXXXX")
trap 'rm -rf "$work"' EXIT

# Seeds: one small file of every kind the tests make, well under each target's input limit.
make_seeds() {
  local target=$1 dir=$2 ff=(ffmpeg -nostdin -v error -y)
  mkdir -p "$dir"
  # Inputs that once crashed a target seed it again.
  case $target in
    fuzz_media_decoder) cp "$ROOT"/tests/fuzz/regressions/media/* "$dir/" ;;
    fuzz_convert_cmdline) cp "$ROOT"/tests/fuzz/regressions/cmdline/* "$dir/" ;;
    fuzz_cuesheet) cp "$ROOT"/tests/fuzz/regressions/cuesheet/* "$dir/" ;;
  esac
  case $target in
    fuzz_cutinfo) cp "$ROOT"/tests/fuzz/seeds/cutinfo/* "$dir/" ;;
    fuzz_cuesheet) cp "$ROOT"/tests/fuzz/seeds/cuesheet/* "$dir/" ;;
    fuzz_convert_cmdline) cp "$ROOT"/tests/fuzz/seeds/cmdline/* "$dir/" ;;
    fuzz_skin_layout)
      cp "$ROOT/UI/position.txt" "$dir/"
      printf 'SLIDER_VIDEO_SEEK=-2147483648,2147483647,2147483647,-1;RegionHeightAndCursorWidth=2147483647,-2147483648,9,9;VIDEO_PREVIEW_OFFSET=2147483647,2147483647,0,0;' >"$dir/extremes"
      ;;
    fuzz_jpeg)
      "${ff[@]}" -f lavfi -i testsrc=size=24x12 -frames:v 1 "$dir/colour.jpg"
      "${ff[@]}" -f lavfi -i testsrc=size=17x9 -frames:v 1 -pix_fmt gray "$dir/grey.jpg"
      "${ff[@]}" -f lavfi -i testsrc=size=16x16 -frames:v 1 -pix_fmt yuvj444p "$dir/full.jpg"
      cp "$ROOT/UI/minbutton.jpg" "$dir/"
      ;;
    fuzz_gif)
      "${ff[@]}" -f lavfi -i testsrc=size=16x8 -frames:v 1 "$dir/still.gif"
      "${ff[@]}" -f lavfi -i testsrc=size=12x12:rate=4 -t 0.75 "$dir/moving.gif"
      cp "$ROOT/UI/cursor.gif" "$dir/"
      ;;
    fuzz_midi)
      # A type-0 song of one note; a type-1 song with a tempo change, running status, a controller
      # and a system exclusive message; the same song wrapped as RIFF "RMID".
      printf 'MThd\0\0\0\6\0\0\0\1\0\140MTrk\0\0\0\14\0\220\74\100\140\200\74\0\0\377\57\0' >"$dir/note.mid"
      printf 'MThd\0\0\0\6\0\1\0\2\0\140MTrk\0\0\0\13\0\377\121\3\7\241\40\0\377\57\0MTrk\0\0\0\31\0\260\7\144\0\360\3\101\20\367\0\220\74\100\60\76\100\140\200\74\0\0\377\57\0' >"$dir/two.mid"
      { printf 'RIFF\56\0\0\0RMIDdata\42\0\0\0'; cat "$dir/note.mid"; } >"$dir/note.rmi"
      ;;
    fuzz_media_decoder)
      local tone=(-f lavfi -i "sine=frequency=440:sample_rate=8000:duration=0.4")
      "${ff[@]}" "${tone[@]}" -c:a pcm_s16le "$dir/tone.wav"
      "${ff[@]}" "${tone[@]}" -c:a pcm_u8 "$dir/tone8.wav"
      "${ff[@]}" "${tone[@]}" -c:a libmp3lame -b:a 16k "$dir/tone.mp3"
      "${ff[@]}" "${tone[@]}" -c:a libvorbis "$dir/tone.ogg"
      "${ff[@]}" "${tone[@]}" -c:a flac "$dir/tone.flac"
      "${ff[@]}" "${tone[@]}" -c:a aac -b:a 16k "$dir/tone.m4a"
      "${ff[@]}" "${tone[@]}" -c:a pcm_s16be "$dir/tone.aiff"
      "${ff[@]}" "${tone[@]}" -c:a pcm_mulaw "$dir/tone.au"
      "${ff[@]}" -f lavfi -i "sine=sample_rate=48000:duration=0.3" -c:a libopus -b:a 8k "$dir/tone.opus"
      "${ff[@]}" -f lavfi -i "sine=sample_rate=8000:duration=0.3" -f lavfi -i testsrc=size=16x16:rate=5 \
        -t 0.3 -c:v mpeg4 -c:a libmp3lame -b:a 16k "$dir/movie.avi"
      "${ff[@]}" -f lavfi -i "sine=sample_rate=8000:duration=0.3" -f lavfi -i testsrc=size=16x16:rate=5 \
        -t 0.3 -c:v mpeg4 -c:a aac -b:a 16k "$dir/movie.mkv"
      ;;
  esac
}

max_len() {
  case $1 in
    fuzz_media_decoder | fuzz_jpeg | fuzz_gif) echo 16384 ;;
    fuzz_skin_layout | fuzz_midi) echo 4096 ;;
    *) echo 1024 ;;
  esac
}

# ASan's and UBSan's reports end the run; leaks are looked for after every input.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:allocator_may_return_null=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
# Targets that read files write each input to their own folder; memory-backed when there is such a
# folder, since the cut-info write syncs every file.
if [[ -d /dev/shm && -w /dev/shm ]]; then export TMPDIR=/dev/shm; fi

failed=0
summary=()
for target in "${TARGETS[@]}"; do
  seeds=$work/seeds-$target
  make_seeds "$target" "$seeds"
  if ((KEEP_CORPUS)); then corpus=$BUILD/corpus/$target; else corpus=$work/corpus-$target; fi
  artifacts=$BUILD/artifacts/$target
  mkdir -p "$corpus" "$artifacts"
  log=$work/$target.log
  seconds=$SECONDS_EACH
  # Every media input goes through FFmpeg's probing of all formats: a hundred inputs a second, not
  # tens of thousands, so the decoder gets twice the time.
  if [[ $target == fuzz_media_decoder ]] && ((!KEEP_CORPUS)); then seconds=$((SECONDS_EACH * 2)); fi
  if (cd "$work" && "$BUILD/tests/fuzz/$target" -max_total_time="$seconds" -timeout=10 \
        -rss_limit_mb=2048 -malloc_limit_mb=1024 -max_len="$(max_len "$target")" -print_final_stats=1 \
        -artifact_prefix="$artifacts/" "$corpus" "$seeds") >"$log" 2>&1; then
    status=ok
  else
    status=FAILED
    failed=1
    echo "=== $target failed; the input is kept in $artifacts ==="
    tail -n 60 "$log"
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  summary+=("$target: ${runs:-?} inputs, $status")
done

printf '%s\n' "${summary[@]}"
echo "fuzz stage: $((SECONDS - start)) s"
exit $failed
