#!/usr/bin/env bash
# .ci/apt-update against an apt-get that fails as a mirror in mid-sync does:
# a failing first update must not end the set-up, and one that keeps failing
# must end in time with status 0, so that the install says what is missing.
set -euo pipefail
script=$(realpath "$(dirname "$0")/../.ci/apt-update")
fake=$(mktemp -d)
trap 'rm -rf "$fake"' EXIT
# The fake apt-get counts its calls and fails the first FAILS of them.
cat > "$fake/apt-get" <<'FAKE'
#!/bin/sh
n=$(($(cat "$FAKE_DIR/calls") + 1))
echo "$n" > "$FAKE_DIR/calls"
[ "$n" -gt "$FAILS" ]
FAKE
chmod +x "$fake/apt-get"
failed=0
for row in "1 2" "3 4" "9 4"; do
  read -r fails calls <<<"$row"
  echo 0 > "$fake/calls"
  status=0
  FAKE_DIR=$fake FAILS=$fails VARNOCK_APT_PAUSE=0 PATH="$fake:$PATH" bash "$script" 2>/dev/null || status=$?
  got=$(cat "$fake/calls")
  if [ "$status" != 0 ] || [ "$got" != "$calls" ]; then
    echo "FAILED: $fails failing updates: status $status after $got calls, want 0 after $calls"
    failed=1
  fi
done
exit $failed
