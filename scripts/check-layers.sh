#!/usr/bin/env bash
# Folders under src/ are layers, listed here from the bottom up. A file may include headers of its own
# folder and of folders listed before it, never of one after it; every folder must be listed. Fails on
# any include against that direction, naming the file and the include, and on any include cycle between
# folders. Usage: scripts/check-layers.sh
set -euo pipefail
cd "$(dirname "$0")/.."

LAYERS=(common media clips settings convert cli waveform player skin gui app)

declare -A rank
for i in "${!LAYERS[@]}"; do rank[${LAYERS[$i]}]=$i; done
status=0
for dir in src/*/; do
  name=$(basename "$dir")
  if [[ -z "${rank[$name]+set}" ]]; then
    echo "layers: src/$name is not in the list of layers in $0" >&2
    status=1
  fi
done

while IFS=: read -r file include; do
  from=$(cut -d/ -f2 <<<"$file")
  to=$(sed -E 's/^#include "([a-z]+)\/.*/\1/' <<<"$include")
  [[ "$from" == "$to" ]] && continue
  if [[ -z "${rank[$to]+set}" || -z "${rank[$from]+set}" || ${rank[$to]} -gt ${rank[$from]} ]]; then
    echo "layers: $file includes $to/, which is above $from/ ($include)" >&2
    status=1
  fi
done < <(grep -rHoE '^#include "[a-z]+/[^"]*"' src --include='*.cpp' --include='*.h')

# A cycle is impossible once every include points down, but say so plainly if the list itself is wrong.
edges=$(grep -rHoE '^#include "[a-z]+/' src --include='*.cpp' --include='*.h' |
  sed -E 's#^src/([a-z]+)/[^:]*:\#include "([a-z]+)/#\1 \2#' | awk '$1 != $2' | sort -u)
if ! tsort <<<"$edges" >/dev/null 2>&1; then
  echo "layers: the folders under src/ include each other in a cycle:" >&2
  tsort <<<"$edges" 2>&1 >/dev/null | grep -v 'input contains a loop' | sed 's/^tsort: /  /' >&2 || true
  status=1
fi

if [[ $status == 0 ]]; then
  echo "layers: ${LAYERS[*]} (each includes only those before it)"
fi
exit $status
