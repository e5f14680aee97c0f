#!/usr/bin/env bash
# Makes every package the kit ships, into one folder (dist/ by default): the
# amd64, armhf, armel and arm64 Debian packages, a static tarball for each board
# processor (every preset NAME-static), the source tarball of the commit they
# are built from, and SHA256SUMS. Usage: packaging/build.sh [folder]
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-dist}")
rm -rf "$out"
mkdir -p "$out"

boards=$(sh packaging/project.sh boards)
for preset in release arm armel arm64 $boards; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  build=build-$preset
  find "$build" -maxdepth 1 \( -name '*.deb' -o -name '*.tar.gz' \) -delete
  (cd "$build" && cpack >/dev/null)
  find "$build" -maxdepth 1 \( -name '*.deb' -o -name '*.tar.gz' \) -exec mv -t "$out" {} +
done

# The kit's source from the same commit as the binaries, beside them.
version=$(sh packaging/project.sh version)
git archive --format=tar.gz --prefix="varnock-$version/" -o "$out/varnock-$version-source.tar.gz" HEAD
if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
  echo "note: the working tree has changes that the source tarball (made from HEAD) lacks" >&2
fi
(cd "$out" && sha256sum -- *.deb *.tar.gz > SHA256SUMS)
ls -l "$out"
