#!/bin/sh
# Every manual page must format without a single warning.
status=0
for page in "$@"; do
  out=$(groff -man -ww -z -Tutf8 "$page" 2>&1)
  if command -v mandoc >/dev/null; then
    out="$out$(mandoc -T lint -W warning "$page" 2>&1)"
  fi
  if [ -n "$out" ]; then
    printf '%s\n' "$out"
    status=1
  fi
done
exit $status
