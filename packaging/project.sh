#!/bin/sh
# Facts about the kit that scripts need, each read from its one source.
#   project.sh version   the version, from the project() line of CMakeLists.txt
#                        (never from a build's cache)
#   project.sh boards    the board presets (NAME-static) of CMakePresets.json
top=$(dirname "$0")/..
case $1 in
  version) sed -n 's/^project(varnock VERSION \([0-9.]*\) .*/\1/p' "$top/CMakeLists.txt" ;;
  boards) grep -o '"name": "[a-z0-9]*-static"' "$top/CMakePresets.json" | cut -d'"' -f4 | awk '!seen[$0]++' ;;
  *) echo "usage: project.sh version|boards" >&2; exit 2 ;;
esac
