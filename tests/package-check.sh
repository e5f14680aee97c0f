#!/usr/bin/env bash
# Builds the Debian package of a build folder, unpacks it into a scratch root
# and runs the three commands from there.
set -euo pipefail
build=${1:?build folder}
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT

(cd "$build" && rm -f ./*.deb && cpack -G DEB >/dev/null)
dpkg -x "$build"/*.deb "$root"
bin=$root/usr/bin
printf 'ABCDEFG' > "$root/a"
printf 'AXCDEFG' > "$root/b"

check() {
  local want=$1; shift
  local got
  got=$("$@")
  if [ "$got" != "$want" ]; then
    echo "package check failed: $*: got '$got', want '$want'" >&2
    exit 1
  fi
}
check '1 42 43' "$bin/varnock" "$root/a" 1 2
check '2 43 44' "$bin/varnock-search" "$root/a" '43 .'
check $'< 1 58\n> 1 42' "$bin/varnock-cmp" "$root/a" "$root/b"
for page in varnock varnock-search varnock-cmp; do
  test -s "$root/usr/share/man/man1/$page.1"
done
echo "package $(basename "$build"/*.deb): unpacked and ran"
