#!/usr/bin/env bash
# Checks that the folders of src/ stay layered: every #include of a src/ file
# names a folder of its own layer or of one below it, and CMake links each
# folder's library only to libraries of lower layers. The order is the one the
# README's Layout states ("The layers of `src/`, lowest first: ...").
# Exits 1 and lists each offending line when the order is broken.
set -euo pipefail
cd "$(dirname "$0")/.."

order_line=$(grep -m1 '^The layers of `src/`, lowest first:' README.md || true)
if [ -z "$order_line" ]; then
  echo "check-layers: README.md states no layer order" >&2
  exit 1
fi
read -r -a layers <<<"$(sed -e 's/^[^:]*://' -e 's/[`.,]/ /g' <<<"$order_line")"
declare -A rank=()
for i in "${!layers[@]}"; do rank[${layers[$i]}]=$i; done
top=${#layers[@]}  # files directly in src/ (main.cpp) stand above every layer

failures=0
fail() { echo "$1" >&2; failures=$((failures + 1)); }

# Every folder of src/ has its place in the order.
for dir in src/*/; do
  name=$(basename "$dir")
  [ -n "${rank[$name]+x}" ] || fail "$dir: folder not in the README's layer order"
done

# Every include of a src/ folder goes down (or stays in its own layer). A
# quoted include names a src/ folder; one in angle brackets may be a system
# header, and counts only when it names a layer.
include_re='^[[:space:]]*#[[:space:]]*include[[:space:]]*(["<])([^/">]+)/'
while IFS= read -r hit; do
  file=${hit%%:*}
  rest=${hit#*:}
  line=${rest%%:*}
  text=${rest#*:}
  [[ $text =~ $include_re ]] || continue
  quote=${BASH_REMATCH[1]}
  target=${BASH_REMATCH[2]}
  rel=${file#src/}
  if [[ $rel == */* ]]; then
    own=${rel%%/*}
    [ -n "${rank[$own]+x}" ] || continue  # reported above
  else
    own="src"  # main.cpp stands above every layer
  fi
  own_rank=${rank[$own]:-$top}
  if [ -z "${rank[$target]+x}" ]; then
    [ "$quote" = "<" ] || fail "$file:$line: includes \"$target/...\", a folder not in the layer order"
  elif [ "${rank[$target]}" -gt "$own_rank" ]; then
    fail "$file:$line: $own includes $target, a higher layer"
  fi
done < <(grep -rnE --include='*.h' --include='*.cpp' "$include_re" src | sort)

# CMake links each layer's library only to lower layers' libraries, and builds
# it from its own folder.
while IFS= read -r call; do
  read -r -a words <<<"$(sed -e 's/^vortely_library(//' -e 's/)$//' -e 's/"//g' <<<"$call")"
  lib=${words[0]#vortely_}
  if [ -z "${rank[$lib]+x}" ]; then
    fail "CMakeLists.txt: library ${words[0]} is not a layer of the README's order"
    continue
  fi
  [ "${words[1]}" = "src/$lib" ] || fail "CMakeLists.txt: ${words[0]} is built from ${words[1]}, not src/$lib"
  for dep in "${words[@]:2}"; do
    [[ $dep == vortely_* ]] || continue
    d=${dep#vortely_}
    if [ -z "${rank[$d]+x}" ]; then
      fail "CMakeLists.txt: ${words[0]} links $dep, not a layer of the README's order"
    elif [ "${rank[$d]}" -ge "${rank[$lib]}" ]; then
      fail "CMakeLists.txt: ${words[0]} links $dep, which is not a lower layer"
    fi
  done
done < <(tr '\n' ' ' <CMakeLists.txt | grep -oE 'vortely_library\([^)]*\)' | tr -s ' ')

if [ "$failures" -gt 0 ]; then
  echo "check-layers: $failures include(s) or link(s) break the layer order (${layers[*]})" >&2
  exit 1
fi
echo "check-layers: src/ follows the layer order (${layers[*]})"
