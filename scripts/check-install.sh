#!/usr/bin/env bash
# Checks what a user gets: installs a built tree into a temporary prefix and looks at every file an
# installation must hold, validates the desktop entry and the AppStream metadata, renders the manual
# pages, compares the manual pages and the bash completion with the programs' --help and value lists,
# runs an installed program from an unrelated folder, and builds the Debian package and runs lintian
# on it (errors and warnings fail).
#   scripts/check-install.sh [BUILD_DIR]     (after a full build of BUILD_DIR, default "build")
set -euo pipefail
cd "$(dirname "$0")/.."
SOURCE_DIR=$PWD
BUILD_DIR=$(cd "${1:-build}" && pwd)
ID=example.vellumar.Klangor

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
PREFIX=$WORK/prefix
failures=0
fail() {
  echo "check-install: $*" >&2
  failures=$((failures + 1))
}
# The options a program's --help names ("-o", "--out", ...), one per line.
options_of() {
  "$1" --help | grep -oE -- '(^|[ ,])--?[a-z][a-z0-9-]*' | tr -d ' ,' | sort -u
}

echo "=== install into a temporary prefix ==="
# Stripped as the package is: what remains is what the program itself carries.
cmake --install "$BUILD_DIR" --prefix "$PREFIX" --strip >/dev/null

expected=(
  bin/klangor bin/klangor-convert
  share/klangor/UI/position.txt share/klangor/UI/interface.jpg share/klangor/UI/videopreview.jpg
  share/klangor/help/klangor-help.html
  "share/applications/$ID.desktop" "share/metainfo/$ID.metainfo.xml"
  "share/icons/hicolor/scalable/apps/$ID.svg"
  share/man/man1/klangor.1.gz share/man/man1/klangor-convert.1.gz
  share/bash-completion/completions/klangor-convert
  share/doc/klangor/copyright share/doc/klangor/changelog.gz
)
for size in 16 22 24 32 48 64 128 256; do
  expected+=("share/icons/hicolor/${size}x${size}/apps/$ID.png")
done
for f in "${expected[@]}"; do
  [[ -f "$PREFIX/$f" ]] || fail "the installation lacks $f"
done
for f in bin/klangor bin/klangor-convert; do
  [[ -x "$PREFIX/$f" ]] || fail "$f is not executable"
done
# Every skin file the source tree has is installed.
while IFS= read -r f; do
  [[ -f "$PREFIX/share/klangor/UI/$f" ]] || fail "the installed skin lacks $f"
done < <(cd UI && find . -type f -printf '%P\n')
for size in 16 22 24 32 48 64 128 256; do
  png="$PREFIX/share/icons/hicolor/${size}x${size}/apps/$ID.png"
  [[ -f "$png" ]] && ! file "$png" | grep -q "PNG image data, $size x $size," &&
    fail "$png is not a $size x $size PNG: $(file -b "$png")"
done

echo "=== desktop entry and AppStream metadata ==="
desktop-file-validate "$PREFIX/share/applications/$ID.desktop" || fail "desktop-file-validate failed"
grep -qx 'Exec=klangor %F' "$PREFIX/share/applications/$ID.desktop" || fail "the desktop entry does not run 'klangor %F'"
appstreamcli validate --no-net "$PREFIX/share/metainfo/$ID.metainfo.xml" || fail "appstreamcli validate failed"
grep -q "<release version=\"$("$PREFIX/bin/klangor-convert" --version | sed 's/.* v//')\"" \
  "$PREFIX/share/metainfo/$ID.metainfo.xml" || fail "the metadata's release is not the program's version"

echo "=== manual pages ==="
for page in klangor klangor-convert; do
  src="$PREFIX/share/man/man1/$page.1.gz"
  if ! MANWIDTH=80 LC_ALL=C.UTF-8 man --warnings -l "$src" >"$WORK/$page.txt" 2>"$WORK/$page.err" ||
    [[ -s "$WORK/$page.err" ]]; then
    fail "man -l $page.1 did not render cleanly: $(cat "$WORK/$page.err")"
  fi
  for heading in NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" EXAMPLES; do
    grep -q "^$heading" "$WORK/$page.txt" || fail "$page(1) has no $heading section"
  done
  # Every option --help names is explained in the page.
  for option in $(options_of "$PREFIX/bin/$page"); do
    grep -qE -- "(^|[^a-z-])$option([^a-z-]|$)" "$WORK/$page.txt" ||
      fail "$page --help names $option, but $page(1) does not"
  done
done
grep -q "CutInfo=" "$WORK/klangor-convert.txt" || fail "klangor-convert(1) does not describe the cut-info file"
# The user guide covers the converter's options too.
for option in $(options_of "$PREFIX/bin/klangor-convert"); do
  grep -qF -- "<code>$option" "$PREFIX/share/klangor/help/klangor-help.html" ||
    fail "klangor-convert --help names $option, but the user guide does not"
done

echo "=== bash completion ==="
# Asks the installed completion what it offers for a command line ending in a blank or a partial word.
cat >"$WORK/complete.sh" <<'EOF'
source /usr/share/bash-completion/bash_completion
source "$1"
COMP_LINE=$2
COMP_POINT=${#COMP_LINE}
read -ra COMP_WORDS <<<"$COMP_LINE"
[[ $COMP_LINE == *" " ]] && COMP_WORDS+=("")
COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
_klangor_convert
printf '%s\n' "${COMPREPLY[@]}"
EOF
complete_line() { (cd "$WORK" && bash "$WORK/complete.sh" "$PREFIX/share/bash-completion/completions/klangor-convert" "$1"); }
CONVERT=$PREFIX/bin/klangor-convert
offered=$(complete_line "klangor-convert -" | sort -u)
for option in $(options_of "$CONVERT"); do
  grep -qx -- "$option" <<<"$offered" || fail "klangor-convert --help names $option, but the completion does not offer it"
  # An option that takes a value: the completion offers exactly the converter's list, or, where the
  # converter names a range instead of a list, only values it accepts.
  usage=$("$CONVERT" x "$option" 2>&1 || true)
  if [[ "$usage" == *"needs a value"* ]]; then
    values=$(complete_line "klangor-convert $option " | sort -u)
    refusal=$("$CONVERT" "$option" bogus-value x 2>&1 || true)
    allowed=$(sed -n 's/.*(allowed: \(.*\))$/\1/p' <<<"$refusal" | head -1)
    if [[ -n "$allowed" && "$allowed" != *" to "* ]]; then
      # A value with a part of the user's own ("cue=FILE") is offered up to its "=".
      [[ "$(tr -d ' ' <<<"$allowed" | tr ',' '\n' | sed 's/=[A-Z]*$/=/' | sort -u)" == "$values" ]] ||
        fail "the completion offers '$(echo $values)' for $option, the converter allows '$allowed'"
    else
      for value in $values; do
        "$CONVERT" "$option" "$value" --help >/dev/null 2>&1 ||
          fail "the completion offers '$value' for $option, which the converter refuses"
      done
    fi
  fi
done

echo "=== no build machine's path in an installed program; data found from any folder ==="
for program in klangor klangor-convert; do
  for path in "$SOURCE_DIR" "$BUILD_DIR"; do
    strings -a "$PREFIX/bin/$program" | grep -qF "$path" && fail "bin/$program holds the path $path"
  done
done
[[ "$("$PREFIX/bin/klangor" --version)" == "Vellumar Klangor v2.31" ]] || fail "klangor --version is wrong"
# The screenshot tool is installed only here, beside klangor, and started from a folder without a skin;
# it reports what it found and pictures the windows with it.
cmake --install "$BUILD_DIR" --prefix "$PREFIX" --component screenshots >/dev/null
mkdir -p "$WORK/elsewhere"
if (cd "$WORK/elsewhere" && QT_QPA_PLATFORM=offscreen "$PREFIX/bin/klangor-screenshots" "$WORK/shots" \
  >"$WORK/shots.out" 2>"$WORK/shots.err"); then
  skin=$(sed -n 's/^skin //p' "$WORK/shots.out")
  guide=$(sed -n 's/^guide //p' "$WORK/shots.out")
  [[ -n "$skin" && "$(realpath -m "$skin")" == "$(realpath "$PREFIX/share/klangor/UI")" ]] ||
    fail "an installed program found the skin at '$skin'"
  [[ -n "$guide" && "$(realpath -m "$guide")" == "$(realpath "$PREFIX/share/klangor/help/klangor-help.html")" ]] ||
    fail "an installed program found the guide at '$guide'"
  grep -q "Initial UI error" "$WORK/shots.err" && fail "an installed program did not read its skin"
  [[ -s "$WORK/shots/main-window.png" ]] || fail "no picture of the installed program's window"
else
  fail "the installed klangor-screenshots failed: $(cat "$WORK/shots.err")"
fi

echo "=== Debian package ==="
(cd "$BUILD_DIR" && cpack -G DEB -B "$WORK/package" >"$WORK/cpack.log") || { cat "$WORK/cpack.log"; fail "cpack failed"; }
deb=$(ls "$WORK"/package/klangor_*.deb 2>/dev/null | head -1)
if [[ -n "$deb" ]]; then
  dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./||' >"$WORK/deb.list"
  for f in "${expected[@]}"; do
    grep -qx "usr/$f" "$WORK/deb.list" || fail "the package lacks /usr/$f"
  done
  grep -q klangor-screenshots "$WORK/deb.list" && fail "the package holds the screenshot tool"
  depends=$(dpkg-deb -f "$deb" Depends)
  for lib in libqt6widgets6 libavformat libmp3lame0 libmpv qt6-qpa-plugins; do
    grep -q "$lib" <<<"$depends" || fail "the package does not depend on $lib: $depends"
  done
  echo "package: $(basename "$deb"), $(stat -c %s "$deb") bytes"
  lintian --fail-on error,warning --tag-display-limit 0 "$deb" || fail "lintian reported errors or warnings"
else
  fail "cpack wrote no package"
fi

if ((failures)); then
  echo "check-install: $failures problem(s)" >&2
  exit 1
fi
echo "check-install: every installed file is in place and valid"
