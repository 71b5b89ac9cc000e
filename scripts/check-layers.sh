#!/usr/bin/env bash
# Folders under src/ are layers: a file includes headers of its own folder and of folders below it,
# never of one above. Fails on any include cycle between folders (two folders that include each other
# among them) and names the includes that make it. Usage: scripts/check-layers.sh
set -euo pipefail
cd "$(dirname "$0")/.."

edges=$(grep -rHoE '^#include "[a-z]+/' src --include='*.cpp' --include='*.h' |
  sed -E 's#^src/([a-z]+)/[^:]*:\#include "([a-z]+)/#\1 \2#' | awk '$1 != $2' | sort -u)
if sorted=$(tsort <<<"$edges" 2>/dev/null); then
  echo "layers: $(tac <<<"$sorted" | tr '\n' ' ')(each includes only those before it)"
  exit 0
fi
echo "layers: the folders under src/ include each other in a cycle:" >&2
tsort <<<"$edges" 2>&1 >/dev/null | grep -v 'input contains a loop' | sed 's/^tsort: /  /' >&2 || true
while read -r from to; do
  if grep -qx "$to $from" <<<"$edges"; then
    grep -rlE "^#include \"$to/" "src/$from" | sed "s#^#  $from -> $to: #" >&2
  fi
done <<<"$edges"
exit 1
