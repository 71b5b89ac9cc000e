#!/usr/bin/env bash
# Runs the cases that only an ordinary user meets (files and folders the user may not write, media the
# user may not read) as an unprivileged user, and the full-disk cases on a small filesystem of their own.
# Needs root to create the user and mount the filesystem; anyone else gets a notice and nothing runs.
# Usage: tests/hostile/unprivileged.sh [BUILD_DIR]   (the normal build, already built)
set -euo pipefail
cd "$(dirname "$0")/../.."
BUILD_DIR=$(realpath "${1:-build}")
CI_USER=${KLANGOR_CI_USER:-klangor-ci}

if [[ $(id -u) -ne 0 ]]; then
  echo "unprivileged-user stage skipped: it needs root to create its user and mount a small filesystem"
  exit 0
fi
start=$SECONDS

id "$CI_USER" >/dev/null 2>&1 || useradd --system --no-create-home --shell /usr/sbin/nologin "$CI_USER"
uid=$(id -u "$CI_USER")
gid=$(id -g "$CI_USER")

work=$(mktemp -d /tmp/klangor-unprivileged-XXXXXX)
chmod 0755 "$work"
opened=()
cleanup() {
  mountpoint -q "$work/full" && umount "$work/full"
  rm -rf "$work"
  # Give back what was opened for the user to pass through.
  for dir in "${opened[@]}"; do chmod o-x "$dir"; done
}
trap cleanup EXIT

# The user must reach the build and the sources (a CI clone often sits below a folder only root may
# enter): every folder on the way that others may not pass gets o+x for the run, and loses it after.
for top in "$BUILD_DIR" "$PWD"; do
  dir=$top
  while [[ "$dir" != / ]]; do
    if ! setpriv --reuid="$uid" --regid="$gid" --clear-groups test -x "$dir"; then
      chmod o+x "$dir"
      opened+=("$dir")
    fi
    dir=$(dirname "$dir")
  done
  if ! setpriv --reuid="$uid" --regid="$gid" --clear-groups test -r "$top/CMakeLists.txt" -o -r "$top/CMakeCache.txt"; then
    echo "unprivileged-user stage: $CI_USER cannot read $top" >&2
    exit 1
  fi
done

mkdir -p "$work/home" "$work/tmp" "$work/full"
# Small enough to fill in a moment, large enough for a few real files.
mount -t tmpfs -o size=512k,mode=0755 klangor-full "$work/full"
chown "$uid:$gid" "$work/home" "$work/tmp" "$work/full"

# A sticky folder anyone may write, owned by root as the system's temporary folder is. Another user
# (nobody's id: no account is needed for it) planted links in it, named as the user's next output and
# cut-info record, to a file of the user's own.
mkdir -p "$work/shared" "$work/victim"
chmod 1777 "$work/shared"
printf 'notes the user keeps\n' >"$work/victim/notes.txt"
chown -R "$uid:$gid" "$work/victim"
for name in talk.wav.mp3 talk.wav.clipinfo; do
  ln -s "$work/victim/notes.txt" "$work/shared/$name"
  chown -h 65534:65534 "$work/shared/$name"
done

failed=0
run_as_user() {
  local program=$1 filter=$2 log
  log=$(mktemp "$work/log-XXXXXX")
  chown "$uid:$gid" "$log"
  if ! setpriv --reuid="$uid" --regid="$gid" --clear-groups \
      env -i PATH="$PATH" HOME="$work/home" TMPDIR="$work/tmp" XDG_RUNTIME_DIR="$work/tmp" \
      QT_QPA_PLATFORM=offscreen KLANGOR_FULL_DISK_DIR="$work/full" KLANGOR_SHARED_DIR="$work/shared" \
      "$BUILD_DIR/$program" --gtest_filter="$filter" >"$log" 2>&1; then
    failed=1
  fi
  # Here nothing may be skipped: this is the place these cases run.
  if grep -q '^\[  SKIPPED \]' "$log"; then
    echo "unprivileged-user stage: cases were skipped in $program" >&2
    failed=1
  fi
  grep -E '^\[ *(OK|FAILED|SKIPPED) *\]|Failure|Expected|Which is|actual' "$log" || true
  if [[ $failed -ne 0 ]]; then cat "$log"; fi
}

run_as_user tests/clips/clips_core_tests 'CutInfoFiles.*:CutInfoFullDisk.*:-CutInfoFiles.OwnerIsKept'
run_as_user tests/convert/convert_cli_tests 'ConvertHostile.*'
run_as_user tests/player/player_tests 'ScriptedPlayerTest.UnwritableCutInfo*'

echo "unprivileged-user stage: $((SECONDS - start)) s"
exit $failed
