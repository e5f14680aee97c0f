#!/usr/bin/env bash
# Runs the native suite as an ordinary user, in a copy of this checkout that
# the user owns, as a new contributor would: it must pass, with the tests
# that need root or a device skipped with a reason. Run as root, which makes
# the user (not uid 65534, which the tests themselves use as another user).
set -euo pipefail
cd "$(dirname "$0")/.."
user=varnock-tester
id "$user" >/dev/null 2>&1 || useradd --create-home --shell /bin/bash "$user"
home=$(getent passwd "$user" | cut -d: -f6)
rm -rf "$home/varnock"
mkdir "$home/varnock"
git ls-files -z --cached --others --exclude-standard | xargs -0 cp --parents -t "$home/varnock"
chown -R "$user:" "$home/varnock"
runuser -u "$user" -- bash -c 'cd ~/varnock && cmake --preset default >/dev/null &&
  cmake --build --preset default && ctest --preset default'
