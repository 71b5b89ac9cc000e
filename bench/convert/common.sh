# What the converter benchmarks share; sourced after ROOT, BUILD_DIR and CONVERT are set. Makes the
# scratch folder $WORK (removed on exit) and defines the helpers for timed runs, medians and ratios.
if [ ! -x "$CONVERT" ]; then
  cmake -S "$ROOT" -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$BUILD_DIR" --target klangor-convert
fi
command -v /usr/bin/time >/dev/null || { echo "needs GNU time (Debian package 'time')" >&2; exit 1; }

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
mib() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0) ? a / b : 0 }'; }

# Appends "wall-seconds cpu-seconds peak-KiB" of one run of a command to $WORK/NAME.runs.
measure() {  # name, command...
  local name=$1
  shift
  /usr/bin/time -f "%e %U %S %M" -o "$WORK/time" "$@" >/dev/null 2>"$WORK/stderr" || {
    cat "$WORK/stderr" >&2
    exit 1
  }
  awk '{ printf "%s %.2f %s\n", $1, $2 + $3, $4 }' "$WORK/time" >>"$WORK/$name.runs"
}

column_median() { awk -v c="$2" '{ print $c }' "$WORK/$1.runs" | median; }
column_max() { awk -v c="$2" 'BEGIN { m = 0 } { if ($c > m) m = $c } END { print m }' "$WORK/$1.runs"; }

# A SECONDS-long H.264 + AAC file at PATH: a test picture of SIZE (default 1280x720) and a stereo tone
# with a little noise at RATE Hz (default 44100), the picture at constant quality CRF (default 32).
make_media() {  # seconds, path[, size[, rate[, crf[, first channel's pitch]]]]
  ffmpeg -nostdin -v error -y \
    -f lavfi -i "testsrc2=size=${3:-1280x720}:rate=25" \
    -f lavfi -i "aevalsrc=exprs=0.3*sin(${6:-440}*2*PI*t+2*sin(0.3*t))+0.05*random(0)|0.3*sin(554*2*PI*t)+0.05*random(1):s=${4:-44100}" \
    -t "$1" -map 0:v -map 1:a -c:v libx264 -preset ultrafast -crf "${5:-32}" -c:a aac -b:a 160k "$2"
}

# $CLIPS clips of $SECONDS_PER_CLIP s, 720p H.264 + AAC, each tone its own, into $WORK; their paths in
# CLIP_FILES.
make_clips() {
  echo "Making $CLIPS clips of ${SECONDS_PER_CLIP} s, 720p H.264 + AAC ..."
  for ((i = 0; i < CLIPS; i++)); do
    make_media "$SECONDS_PER_CLIP" "$WORK/clip$i.mp4" 1280x720 44100 32 $((440 + i * 50))
  done
  CLIP_FILES=("$WORK"/clip*.mp4)
}
