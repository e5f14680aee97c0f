#!/usr/bin/env bash
# Runs every console example of the documentation, so that none can drift
# from the kit: each "$ " line of a console block of a Markdown file (a
# ```console fence), or of an example of a manual page (.EX to .EE), is run
# with bash in a scratch folder of that document, with the tools under test
# first on PATH, and what it prints on standard output and standard error
# must be the lines under it, up to the next "$ " line or the block's end.
# The commands of one document run in turn in one folder, each seeing the
# files of those before it. A block marked on the line before it with
# "<!-- needs: REASON -->" (Markdown) or '.\" needs: REASON' (a page) is not
# run, and its commands are listed as skipped with the reason.
# With --source DIR, every Markdown file that DIR's git tracks is read too,
# and a tracked file with console examples that is neither Markdown nor a
# page's source (man/*.1.in, read as its built page) fails the run: no
# example can hide where nothing runs it.
# Usage: tests/examples.sh BINDIR [--source DIR] DOCUMENT...
set -uo pipefail
bindir=$(realpath "$1")
shift
source=
if [ "${1:-}" = --source ]; then
  source=$(realpath "$2")
  shift 2
fi
passed=0 failed=0 skipped=0

# The image that the manual pages' examples describe: 512 bytes, zero but for
# de ad be ef at 16 and the boot signature 55 aa at 510.
fixtures() {
  head -c 512 /dev/zero > firmware.bin
  printf '\336\255\276\357' | dd of=firmware.bin bs=1 seek=16 conv=notrunc status=none
  printf '\125\252' | dd of=firmware.bin bs=1 seek=510 conv=notrunc status=none
}

# The text a page's example shows for roff's escapes.
unroff() {
  local s=$1
  s=${s//\\(aq/\'}
  s=${s//\\(dq/\"}
  s=${s//\\-/-}
  s=${s//\\%/}
  s=${s//\\e/\\}
  printf '%s' "$s"
}

# Runs the command gathered so far, if any, against the output under it.
check() {
  [ -n "$cmd" ] || return 0
  if [ -n "$skip" ]; then
    echo "skipped ($skip): $doc: $cmd"
    skipped=$((skipped + 1))
  else
    local got
    got=$(cd "$scratch" && PATH="$bindir:$PATH" bash -c "$cmd" 2>&1 < /dev/null)
    if [ "$got" = "${want%$'\n'}" ]; then
      passed=$((passed + 1))
    else
      printf 'FAILED %s: $ %s\n--- shown\n%s--- printed\n%s\n' "$doc" "$cmd" "$want" "$got"
      failed=$((failed + 1))
    fi
  fi
  cmd= want=
}

document() {
  local kind=$1 open close marker line inblock=0 mark=
  doc=$2 cmd= want= skip=
  case $kind in
    md) open='```console' close='```' marker='<!-- needs: ' ;;
    man) open='.EX' close='.EE' marker='.\" needs: ' ;;
  esac
  scratch=$(mktemp -d)
  (cd "$scratch" && fixtures)
  while IFS= read -r line || [ -n "$line" ]; do
    if ((!inblock)); then
      # A mark counts for the block that opens on the next line only.
      if [ "$line" = "$open" ]; then inblock=1 skip=$mark; fi
      mark=
      if [[ $line == "$marker"* ]]; then mark=${line#"$marker"} mark=${mark% -->}; fi
      continue
    fi
    if [ "$line" = "$close" ]; then
      check
      inblock=0
      continue
    fi
    [ "$kind" = man ] && line=$(unroff "$line")
    if [[ $line == '$ '* ]]; then
      check
      cmd=${line#'$ '}
    elif [ -n "$cmd" ]; then
      want+=$line$'\n'
    else
      echo "FAILED $doc: output without a command before it: $line"
      failed=$((failed + 1))
    fi
  done < "$doc"
  rm -rf "$scratch"
}

# The tracked files of the source, or all of it outside a git checkout.
tracked() {
  git -C "$source" ls-files 2>/dev/null ||
    (cd "$source" && find . -type f -not -path './build*' -not -path './.git/*' | sed 's|^\./||')
}
docs=("$@")
if [ -n "$source" ]; then
  while IFS= read -r file; do
    case $file in
      *.md) docs+=("$source/$file") ;;
      man/*.1.in) ;;
      *)
        if grep -q -e '^```console' -e '^\.EX' "$source/$file" 2>/dev/null; then
          echo "FAILED $file: console examples that no run reads"
          failed=$((failed + 1))
        fi
        ;;
    esac
  done < <(tracked)
fi

for doc in "${docs[@]}"; do
  case $doc in
    *.md) document md "$doc" ;;
    *.1 | *.1.in) document man "$doc" ;;
    *) echo "not a document: $doc" >&2; exit 2 ;;
  esac
done
echo "examples: $passed passed, $failed failed, $skipped skipped"
((failed == 0 && passed > 0))
