#!/usr/bin/env bash
# Remakes main-window.png, the screenshot the AppStream metadata names, with klangor-screenshots:
#   dist/screenshots/make.sh [BUILD_DIR]
# A 12-second clip is made with ffmpeg and a selection from 2.5 s to 9 s is saved beside it, so the
# picture shows a loaded clip with a selection. Publish the file at the address in the metadata.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../../build}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
clip="$work/Holiday talk.mp4"
ffmpeg -loglevel error -f lavfi -i testsrc2=size=320x240:rate=25 -f lavfi -i sine=frequency=440 \
  -t 12 -c:v libx264 -pix_fmt yuv420p -c:a aac -shortest "$clip"
printf 'Owner=Vellumar\r\nCutInfo=1200,250,900,0;' >"$clip.clipinfo"
(cd "$work" && QT_QPA_PLATFORM=offscreen "$build/src/klangor-screenshots" "$work/out" "$clip" >/dev/null)
cp "$work/out/main-window.png" "$here/main-window.png"
echo "wrote $here/main-window.png"
