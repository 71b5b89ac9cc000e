#!/usr/bin/env bash
# Folders under src/ are layers, listed here from the bottom up. A file may include headers of its own
# folder and of folders listed before it, never of one after it; every folder must be listed. A file's
# layer is its first folder under src/, so src/convert/batch/ is convert. Fails on any include against
# that direction, naming the file and the include, and on any include cycle between folders.
# Each include is found where the compiler finds it: quoted ones first beside the including file, then,
# like angle-bracket ones, under src/ (and for tests under tests/, then src/). So "../gui/Foo.h",
# <gui/Foo.h>, a bare "Foo.h" beside the file and an indented "#  include" all count. src/ never includes
# anything of tests/, tools/ or bench/, nor anything out of src/. tests/, tools/ and bench/ may include
# any layer, except that tests/<layer>/ includes only that layer and those below it, of src/ and of the
# tests' own helpers; tests/support/ and the other test folders that are no layer (display, fuzz ...)
# are helpers any test may include. Usage: scripts/check-layers.sh
set -euo pipefail
cd "$(dirname "$0")/.."

LAYERS=(common media clips settings convert cli waveform player skin gui app)
# Test folders that hold a higher layer's tests too: the command line has no folder of its own.
declare -A TESTS_REACH=([convert]=cli)

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

# Sets $resolved to the path $1 without its "." and ".." steps; one that climbs above the top of the
# tree keeps its leading "../".
normalise() {
  resolved=$1
  [[ "/$1/" == */./* || "/$1/" == */../* || $1 == *//* ]] || return 0
  local rest=$1 part
  local -a kept=()
  while [[ -n $rest ]]; do
    part=${rest%%/*}
    if [[ $rest == */* ]]; then rest=${rest#*/}; else rest=; fi
    case $part in
      '' | .) ;;
      ..)
        if ((${#kept[@]})) && [[ ${kept[-1]} != .. ]]; then unset 'kept[-1]'; else kept+=(..); fi
        ;;
      *) kept+=("$part") ;;
    esac
  done
  local IFS=/
  resolved="${kept[*]}"
}

listed() { [[ -n $1 && -n "${rank[$1]+set}" ]]; }
# Whether layer $1 may include layer $2: both listed, and $2 no higher than $1.
below() { listed "$1" && listed "$2" && ((rank[$2] <= rank[$1])); }

declare -A edges

while IFS= read -r line; do
  file=${line%%:*}
  directive=${line#*:}
  directive=${directive#"${directive%%[![:space:]]*}"}
  [[ $directive =~ include[[:space:]]*([<\"])([^\">]*) ]] || continue
  delimiter=${BASH_REMATCH[1]}
  path=${BASH_REMATCH[2]}

  case $file in
    src/*) roots=(src) ;;
    tests/*) roots=(tests src) ;;
  esac
  [[ $delimiter == '"' ]] && roots=("${file%/*}" "${roots[@]}")
  target=
  if [[ $path == /* ]]; then
    normalise "${path#/}"
    target=/$resolved
    [[ $target == "$PWD"/* ]] && target=${target#"$PWD"/}
    roots=()
  fi
  for root in "${roots[@]}"; do
    normalise "$root/$path"
    if [[ -f $resolved ]]; then
      target=$resolved
      break
    fi
  done
  if [[ -z $target ]]; then
    # Not there (yet): a path naming a layer is that layer's, one naming a top folder is that folder's,
    # and a relative one still lands somewhere; anything else is a library's or a generated header.
    first=${path%%/*}
    if [[ $path == */* ]] && listed "$first"; then
      normalise "src/$path"
    elif [[ $path == */* && $first =~ ^(src|tests|tools|bench)$ ]]; then
      normalise "$path"
    elif [[ "/$path/" == */../* ]]; then
      normalise "${roots[0]}/$path"
    else
      continue
    fi
    target=$resolved
  fi

  case $target in
    src/*/* | tests/*/*) top=${target%%/*} to=${target#*/} to=${to%%/*} ;;
    src/* | tests/* | tools/* | bench/*) top=${target%%/*} to='' ;;
    *) top='' to='' ;;
  esac
  from=${file#*/}
  [[ $from == */* ]] && from=${from%%/*} || from=

  if [[ $file == src/* ]]; then
    if [[ $top == src && -n $to ]]; then
      [[ "$from" == "$to" ]] && continue
      edges["$from $to"]=1
      if ! below "$from" "$to"; then
        echo "layers: $file includes $to/, which is above $from/ ($directive)" >&2
        status=1
      fi
    elif [[ $top == src ]]; then
      echo "layers: $file includes $target, which is in no layer ($directive)" >&2
      status=1
    elif [[ -n $top ]]; then
      echo "layers: $file includes $target, and src/ never includes $top/ ($directive)" >&2
      status=1
    else
      echo "layers: $file includes $target, which climbs out of src/ ($directive)" >&2
      status=1
    fi
  elif listed "$from"; then
    # tests/<layer>/: src/ and the tests' own folders of that layer or below, and the helper folders.
    if [[ $top != src && $top != tests ]] || ! listed "$to"; then
      continue
    fi
    if ! below "${TESTS_REACH[$from]:-$from}" "$to"; then
      echo "layers: $file includes $top/$to/, which is above $from/ ($directive)" >&2
      status=1
    fi
  fi
done < <(grep -rHoE '^[[:space:]]*#[[:space:]]*include[[:space:]]*("[^"]*"|<[^>]*>)' src tests \
  --include='*.cpp' --include='*.cc' --include='*.h' --include='*.hpp' --include='*.inl')

# A cycle is impossible once every include points down, but say so plainly if the list itself is wrong.
pairs=$(printf '%s\n' "${!edges[@]}" | sort)
if ! tsort <<<"$pairs" >/dev/null 2>&1; then
  echo "layers: the folders under src/ include each other in a cycle:" >&2
  tsort <<<"$pairs" 2>&1 >/dev/null | grep -v 'input contains a loop' | sed 's/^tsort: /  /' >&2 || true
  status=1
fi

if [[ $status == 0 ]]; then
  echo "layers: ${LAYERS[*]} (each includes only those before it)"
fi
exit $status
