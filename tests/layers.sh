#!/usr/bin/env bash
# The tools' units stand in layers: each may use only the units of the
# layers below its own, never one beside or above it. This is the one place
# that states the order; the check fails where an #include of src/, or (given
# the objects and nm) a symbol one object takes from another, reaches up or
# sideways, and where a unit is in no layer.
# Usage: tests/layers.sh SRC [NM OBJECT...] (objects may also come joined by ";")
set -euo pipefail

# Bottom first; units on one line form one layer.
layers=(
  "alloc"                       # a board binary's memory, in place of the C library's allocator
  "hexcodec"                    # the codec: bytes to hex text, hex patterns to bytes
  "types"                       # plain types: kinds, what was learned, a patch's target, refusals
  "rawio"                       # reads, writes, positioning, the stretch walk; no kind of file
  "view"                        # what a read sees: the file, with an explanation's patterns laid over
  "kind"                        # the one place that learns what a file is
  "regular flash ubi"           # one unit per kind of storage with rules of its own
  "patch"                       # a pattern planned and written, by kind
  "args output scan walk"       # arguments; output lines and a run's end; the search's and comparison's rules
  "dump"                        # the dump of a pair, and its buffer
  "explain"                     # varnock-explain
  "varnock"                     # the entries: main, search_main, varnock_main
)
declare -A rank
for i in "${!layers[@]}"; do
  for unit in ${layers[$i]}; do rank[$unit]=$i; done
done

failed=0
complain() {
  echo "layers: $*" >&2
  failed=1
}
# Whether unit $1 may use unit $2.
uses() {
  [ "$1" = "$2" ] && return 0
  local unit
  for unit in "$1" "$2"; do
    [ -n "${rank[$unit]:-}" ] || { complain "$unit is in no layer"; return 0; }
  done
  ((${rank[$2]} < ${rank[$1]}))
}

src=$1
shift
while IFS= read -r file; do
  unit=$(basename "${file%.*}")
  [ -n "${rank[$unit]:-}" ] || { complain "$file: $unit is in no layer"; continue; }
  while IFS= read -r used; do
    uses "$unit" "${used%.h}" || complain "$file includes $used, which is not below it"
  done < <(sed -n 's/^#include "\([^"]*\)".*/\1/p' "$file")
done < <(find "$src" -name '*.cpp' -o -name '*.h')

# What each object defines, then what each takes from another.
if (($# > 1)); then
  nm=$1
  shift
  # ctest hands a target's objects over as one list, joined by ";".
  IFS=';' read -ra objects <<<"$(IFS=';'; echo "$*")"
  set -- "${objects[@]}"
  declare -A owner
  for obj in "$@"; do
    unit=$(basename "$obj")
    unit=${unit%%.*}
    while read -r sym; do owner[$sym]=$unit; done < <("$nm" --defined-only -g "$obj" | awk 'NF == 3 { print $3 }')
  done
  for obj in "$@"; do
    unit=$(basename "$obj")
    unit=${unit%%.*}
    while read -r sym; do
      from=${owner[$sym]:-}
      [ -z "$from" ] || uses "$unit" "$from" || complain "$unit calls $sym of $from, which is not below it"
    done < <("$nm" --undefined-only "$obj" | awk '{ print $NF }')
  done
fi
exit $failed
