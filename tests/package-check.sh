#!/usr/bin/env bash
# Checks the packages that packaging/build.sh made: each is unpacked into a
# scratch folder and its three commands run from there (other processors'
# under user-mode qemu); each binary carries the version text; every package
# carries the license, and the board tarballs the notices of what is linked
# into them; each board binary is static, without glibc, and at most 64 KiB;
# lintian finds no error and no warning in any .deb.
# Usage: tests/package-check.sh PACKAGE|BUILD/varnock...
set -euo pipefail
cd "$(dirname "$0")/.."
version=$(sh packaging/project.sh version)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

failed=0
complain() {
  echo "package check failed: $*" >&2
  failed=1
}
expect() {
  local what=$1 want=$2 got
  shift 2
  got=$("$@" 2>&1) || true
  [ "$got" = "$want" ] || complain "$what: got '$got', want '$want'"
}

# Every binary carries its version text; one straight from a build folder is
# checked for nothing else. (Not grep -q: strings would die on a closed pipe,
# and pipefail would tell. Not grep -x: strings runs the text on from a table
# that has no terminating zero, as the fuzz build lays one right before it.)
binary() {
  strings "$1" | grep -E "varnock version ${version//./[.]}\$" >/dev/null ||
    complain "$1: no version text 'varnock version $version'"
}

# The four tools on files of the scratch folder; $runner starts other
# processors' binaries.
tools() {
  local bin=$1 name=$2
  printf 'ABCDEFG' > "$scratch/a"
  printf 'AXCDEFG' > "$scratch/b"
  expect "$name: dump" '1 42 43' $runner "$bin/varnock" "$scratch/a" 1 2
  expect "$name: search" '2 43 44' $runner "$bin/varnock-search" "$scratch/a" '43 .'
  expect "$name: compare" $'< 1 58\n> 1 42' $runner "$bin/varnock-cmp" "$scratch/a" "$scratch/b"
  expect "$name: explain" $'tool varnock-cmp compare the name varnock-cmp\nrefused two files are needed' \
    $runner "$bin/varnock-explain" varnock-cmp "$scratch/a"
  binary "$bin/varnock"
}

files() {
  local name=$1 dir=$2
  shift 2
  for f in "$@"; do
    [ -s "$dir/$f" ] || complain "$name: $f missing"
  done
}

deb() {
  local pkg=$1 name root arch
  name=$(basename "$pkg")
  root=$scratch/$name.root
  dpkg-deb -x "$pkg" "$root"
  arch=$(dpkg-deb -f "$pkg" Architecture)
  case $arch in
    armhf) runner="qemu-arm -L /usr/arm-linux-gnueabihf" ;;
    armel) runner="qemu-arm -cpu arm926 -L /usr/arm-linux-gnueabi" ;;
    arm64) runner="qemu-aarch64 -L /usr/aarch64-linux-gnu" ;;
    *) runner= ;;
  esac
  [ "$(dpkg-deb -f "$pkg" Version)" = "$version" ] || complain "$name: not version $version"
  tools "$root/usr/bin" "$name"
  files "$name" "$root/usr/share" doc/varnock/copyright doc/varnock/changelog.gz \
    man/man1/varnock.1.gz man/man1/varnock-search.1.gz man/man1/varnock-cmp.1.gz \
    man/man1/varnock-explain.1.gz
  # Tags below warning (info, pedantic) are shown but do not fail.
  lintian --fail-on error,warning "$pkg" > "$scratch/lintian" 2>&1 || complain "$name: lintian"
  grep -v 'running with root privileges' "$scratch/lintian" || true
}

# A board build's setting, from its toolchain file: the one place it is said.
setting() { sed -n "s/^set($1 \(.*\))$/\1/p" "cmake/$2-static.cmake"; }

static() {
  local pkg=$1 name root arch qemu cpus size
  name=$(basename "$pkg")
  root=$scratch/$name.root
  mkdir -p "$root"
  tar -xzf "$pkg" -C "$root"
  arch=${name#varnock-"$version"-}
  arch=${arch%-static.tar.gz}
  qemu=$(setting VARNOCK_QEMU "$arch")
  # shellcheck disable=SC2046 # word splitting joins the two lists
  cpus=$(echo $(setting VARNOCK_QEMU_CPU "$arch") $(setting VARNOCK_PACKAGE_CPUS "$arch"))
  for cpu in ${cpus:-default}; do
    runner=
    [ -n "$qemu" ] && runner="qemu-$qemu"
    [ -n "$qemu" ] && [ "$cpu" != default ] && runner="$runner -cpu $cpu"
    tools "$root/bin" "$name on $cpu"
  done
  # No dynamic section: nothing to load, so any C library or none will do;
  # and not glibc, which refuses kernels older than it was built for.
  if readelf -d "$root/bin/varnock" | grep -q NEEDED; then complain "$name: not static"; fi
  if strings "$root/bin/varnock" | grep -q 'kernel too old'; then complain "$name: glibc inside"; fi
  size=$(stat -c %s "$root/bin/varnock")
  ((size <= 65536)) || complain "$name: the binary has $size bytes, more than 64 KiB"
  echo "$name: $size bytes"
  files "$name" "$root/share" doc/varnock/copyright doc/varnock/changelog.gz \
    doc/varnock/THIRD-PARTY doc/varnock/copyright.musl doc/varnock/copyright.gcc \
    doc/varnock/GPL-3 man/man1/varnock.1.gz man/man1/varnock-explain.1.gz
}

source_tarball() {
  local pkg=$1 name
  name=$(basename "$pkg")
  tar -tzf "$pkg" > "$scratch/list"
  for f in LICENSE CMakeLists.txt src/tools/varnock.cpp; do
    grep -qx "varnock-$version/$f" "$scratch/list" || complain "$name: $f missing"
  done
}

for pkg in "$@"; do
  case $pkg in
    *.deb) deb "$pkg" ;;
    *-static.tar.gz) static "$pkg" ;;
    *-source.tar.gz) source_tarball "$pkg" ;;
    */varnock) binary "$pkg" ;;
    *) continue ;;
  esac
  echo "checked $pkg"
done
exit $failed
