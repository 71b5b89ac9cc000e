#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need; does nothing when all are present.
set -euo pipefail

PACKAGES=(
  build-essential cmake pkg-config ninja-build ccache
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libmpv-dev
  libavformat-dev libavcodec-dev libswresample-dev libavutil-dev
  libmp3lame-dev libjpeg62-turbo-dev libgif-dev
  libfluidsynth-dev timgm6mb-soundfont libtag1-dev
  libebur128-dev libuchardet-dev
  libgtest-dev googletest
  qt6-svg-dev scdoc
  desktop-file-utils appstream man-db bash-completion dpkg-dev fakeroot file binutils lintian
  ffmpeg xvfb xauth time
  clang libclang-rt-14-dev clang-format clang-tidy passwd util-linux mount
  xdotool x11-utils
  mp3val flac
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done

if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
