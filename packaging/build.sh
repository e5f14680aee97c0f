#!/usr/bin/env bash
# Makes every package the kit ships, into one folder (dist/ by default): the
# amd64, armhf and armel Debian packages, the static armel and armhf tarballs
# for boards, the source tarball of the commit they are built from, and
# SHA256SUMS. Usage: packaging/build.sh [folder]
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-dist}")
rm -rf "$out"
mkdir -p "$out"

for preset in release arm armel armel-static armhf-static; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  build=build-$preset
  find "$build" -maxdepth 1 \( -name '*.deb' -o -name '*.tar.gz' \) -delete
  (cd "$build" && cpack >/dev/null)
  find "$build" -maxdepth 1 \( -name '*.deb' -o -name '*.tar.gz' \) -exec mv -t "$out" {} +
done

# The static tarballs link the C library in; its license (LGPL 2.1) asks that
# the kit's source be available beside them, from the same commit.
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build-release/CMakeCache.txt)
git archive --format=tar.gz --prefix="varnock-$version/" -o "$out/varnock-$version-source.tar.gz" HEAD
if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
  echo "note: the working tree has changes that the source tarball (made from HEAD) lacks" >&2
fi
(cd "$out" && sha256sum -- *.deb *.tar.gz > SHA256SUMS)
ls -l "$out"
