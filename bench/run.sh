#!/usr/bin/env bash
# Builds a release with the benchmarks, makes its own data and prints each
# tool's time as a ratio against a baseline measured side by side in the same
# run; then the musl board build for amd64 against that glibc release. --quick
# uses small data and one run, only to keep the script working. Usage:
# bench/run.sh [--quick] [BASE], where BASE is the build folder of an earlier
# release, for what the read back after a patch's sync costs against it.
set -euo pipefail
cd "$(dirname "$0")/.."

quick=0
[ "${1:-}" = --quick ] && quick=1 && shift
# A build folder of an earlier release, for the cost of the read back.
basebuild=${1:-}
basename=$([ -z "$basebuild" ] || strings "$basebuild/varnock" | grep -m1 '^varnock version' || true)
if ((quick)); then
  mib=1 dumpmib=4 cmpmib=1 countmib=1 runs=1 syncruns=3 gbtime=0.01
else
  mib=8 dumpmib=64 cmpmib=4 countmib=16 runs=7 syncruns=101 gbtime=0.5
fi

cmake --preset bench >/dev/null
cmake --build --preset bench >/dev/null
bin=build-bench
cmake --preset amd64-static >/dev/null
cmake --build --preset amd64-static --target varnock >/dev/null
musl=build-amd64-static
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Data: random bytes; the copy differs in ten single bytes spread over the file.
head -c $((mib << 20)) /dev/urandom > "$work/a"
cp "$work/a" "$work/modb"
for i in 1 2 3 4 5 6 7 8 9 10; do
  "$bin/varnock" "$work/modb" $((i * (mib << 20) / 11)) '.' >/dev/null
  printf 'Z' | dd of="$work/modb" bs=1 seek=$((i * (mib << 20) / 11)) conv=notrunc status=none
done
head -c $((dumpmib << 20)) /dev/urandom > "$work/dump"
# Two files that differ in every byte: one difference run as long as the file.
head -c $((cmpmib << 20)) "$work/a" > "$work/c"
tr '\000-\377' '\001-\377\000' < "$work/c" > "$work/cflip"

now() { date +%s%N; }
# Runs two commands (named shell functions) in turn, `runs` times each, and
# prints the smallest wall time of each in seconds. Alternating them spreads
# the machine's noise over both.
best2() {
  local t0 t1 r min1= min2=
  for ((r = 0; r < runs; r++)); do
    t0=$(now); "$1" >/dev/null; t1=$(now)
    if [ -z "$min1" ] || ((t1 - t0 < min1)); then min1=$((t1 - t0)); fi
    t0=$(now); "$2" >/dev/null; t1=$(now)
    if [ -z "$min2" ] || ((t1 - t0 < min2)); then min2=$((t1 - t0)); fi
  done
  awk -v a="$min1" -v b="$min2" 'BEGIN { printf "%.4f %.4f\n", a / 1e9, b / 1e9 }'
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }
row() { printf '%-44s %10s s %10s s %8s  %s\n' "$@"; }

floor1() { "$bin/readloop" "$work/a"; }
floor2() { "$bin/readloop" "$work/a" "$work/modb"; }
search() { "$bin/varnock-search" "$work/a" 'de ad be ef 01 02'; }
compare() { "$bin/varnock-cmp" "$work/a" "$work/modb"; }
everybyte() { "$bin/varnock-search" "$work/a" '.'; }
dump() { "$bin/varnock" "$work/dump" 0 $((dumpmib << 20)); }
xxdp() { xxd -p "$work/dump"; }
odx() { od -An -tx1 -v "$work/dump"; }

printf '%s\n' "data: ${mib} MiB search/compare files, ${dumpmib} MiB dump file; best of $runs runs"
row "measure" "tool" "baseline" "ratio" "target"

read -r tool floor < <(best2 search floor1)
row "1 search, few hits / one-byte read loop" "$tool" "$floor" "$(ratio "$tool" "$floor")" "<= 1.05"
read -r tool floor < <(best2 compare floor2)
row "2 compare, few differences / two-file loop" "$tool" "$floor" "$(ratio "$tool" "$floor")" "<= 1.05"
read -r tool floor < <(best2 everybyte floor1)
row "3 search '.', a line per byte / read loop" "$tool" "$floor" "$(ratio "$tool" "$floor")" "<= 1.3"
# Whether the dump's buffer gets huge pages depends on the kernel's setting.
thp=$(sed -n 's/.*\[\(.*\)\].*/\1/p' /sys/kernel/mm/transparent_hugepage/enabled 2>/dev/null)
if command -v xxd >/dev/null; then
  read -r tool base < <(best2 dump xxdp)
  row "4 dump: xxd -p time / varnock time" "$tool" "$base" "$(ratio "$base" "$tool")" \
    ">= 5 (aim 10); transparent huge pages: ${thp:-none}"
fi
if command -v od >/dev/null; then
  read -r tool base < <(best2 dump odx)
  row "4 dump: od -An -tx1 -v time / varnock time" "$tool" "$base" "$(ratio "$base" "$tool")" "(for reference)"
fi
# What one read request per byte costs against a tool that reads in blocks.
cmpl() { cmp -l "$work/a" "$work/modb" || true; }
read -r tool base < <(best2 compare cmpl)
row "10 compare, few differences / cmp -l" "$tool" "$base" "$(ratio "$tool" "$base")" "(for reference)"

echo
echo "musl board build (amd64-static) against the glibc release build, same data"
row "measure" "musl" "glibc" "ratio" "target"
# Each measure runs the same command with either build's tools.
measure() {
  local name=$1 cmd=$2 m g
  shift 2
  with_musl() { "$musl/$cmd" "${args[@]}"; }
  with_glibc() { "$bin/$cmd" "${args[@]}"; }
  args=("$@")
  read -r m g < <(best2 with_musl with_glibc)
  row "$name" "$m" "$g" "$(ratio "$m" "$g")" "<= 1.25"
}
measure "6 dump of ${dumpmib} MiB" varnock "$work/dump" 0 $((dumpmib << 20))
measure "7 search, few hits" varnock-search "$work/a" 'de ad be ef 01 02'
measure "8 search '.', a line per byte" varnock-search "$work/a" '.'
measure "9 compare ${cmpmib} MiB, every byte differs" varnock-cmp "$work/c" "$work/cflip"

echo
echo "11 the patch's sync: three bytes written with dd, without and with"
echo "   conv=fdatasync (the pair differs in the sync alone), and one patch by"
echo "   varnock; median wall time in ms of $syncruns runs each, alternating"
# Medians, in ms, of the named commands run in turn.
medians() {
  local r c t0 t1
  declare -A times
  for ((r = 0; r < syncruns; r++)); do
    for c in "$@"; do
      t0=$(now); "$c" >/dev/null; t1=$(now)
      times[$c]+="$((t1 - t0)) "
    done
  done
  for c in "$@"; do
    tr ' ' '\n' <<<"${times[$c]}" | grep . | sort -n |
      awk '{ v[NR] = $1 } END { printf " %8.3f", (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) / 1e6 }'
  done
  echo
}
printf abc > "$work/abc"
target=
ddplain() { dd if="$work/abc" of="$target" bs=3 seek=1000 oflag=seek_bytes conv=notrunc status=none; }
ddsync() { dd if="$work/abc" of="$target" bs=3 seek=1000 oflag=seek_bytes conv=notrunc,fdatasync status=none; }
kitpatch() { "$bin/varnock" "$work/modtarget" 1000 '61 62 63'; }
printf '  %-34s %8s %8s %8s\n' "file" "dd" "dd sync" "varnock"
head -c $((1 << 20)) /dev/urandom > "$work/target"
target=$work/target
ln -sf "$target" "$work/modtarget"
printf '  %-34s' "regular file (1 MiB, $(df --output=fstype "$work" | tail -n 1))"
medians ddplain ddsync kitpatch
if loopdev=$(losetup -f --show "$work/target" 2>/dev/null); then
  target=$loopdev
  ln -sf "$target" "$work/modtarget"
  printf '  %-34s' "loop device over that file"
  medians ddplain ddsync kitpatch
  losetup -d "$loopdev"
else
  echo "  loop device: skipped (losetup needs root)"
fi

echo
echo "14 varnock-explain's counts of a search and a comparison, ${countmib} MiB, against tools"
echo "   made for speed counting the same: at most 10 times their time"
row "measure" "explain" "baseline" "ratio" "target"
head -c $((countmib << 20)) /dev/urandom > "$work/r"
cp "$work/r" "$work/r2"
for i in 1 2 3 4 5 6 7 8 9 10; do
  printf 'Z' | dd of="$work/r2" bs=1 seek=$((i * (countmib << 20) / 11)) conv=notrunc status=none
done
head -c $((countmib << 20)) /dev/zero > "$work/z"
zeros64=$(printf '00%.0s' $(seq 64))
# The explanation ends 1 where a pattern misses occurrences: a result here.
countsearch() { "$bin/varnock-explain" varnock-search "$work/r" 'de . be ef' || true; }
grepsearch() { { grep -obUaP '(?s)\xde.\xbe\xef' "$work/r" || true; } | wc -l; }
countzeros() { "$bin/varnock-explain" varnock-search "$work/z" "$zeros64" || true; }
grepzeros() { { grep -obUaP '\x00{64}' "$work/z" || true; } | wc -l; }
countcmp() { "$bin/varnock-explain" varnock-cmp "$work/r" "$work/r2"; }
cmpfile() { cmp -l "$work/r" "$work/r2" > "$work/cmpout" || true; }
read -r tool base < <(best2 countsearch grepsearch)
row "search, 4 bytes, one wildcard / grep -obUaP" "$tool" "$base" "$(ratio "$tool" "$base")" "<= 10"
# grep takes time that grows with the square of a run of zeros: one run.
read -r tool base < <(runs=1 best2 countzeros grepzeros)
row "search, 64 zero bytes in zeros / grep" "$tool" "$base" "$(ratio "$tool" "$base")" "<= 10"
read -r tool base < <(best2 countcmp cmpfile)
row "compare, ten differences / cmp -l > file" "$tool" "$base" "$(ratio "$tool" "$base")" "<= 10"

echo
echo "15 the read back after the sync: one patch of three bytes, this build against"
echo "   ${basename:-no base build}; median wall time in ms of $syncruns runs each, alternating"
if [ -n "$basebuild" ]; then
  thispatch() { "$bin/varnock" "$work/modtarget" 1000 '61 62 63'; }
  basepatch() { "$basebuild/varnock" "$work/modtarget" 1000 '61 62 63'; }
  printf '  %-34s %8s %8s\n' "file" "this" "base"
  target=$work/target
  ln -sf "$target" "$work/modtarget"
  printf '  %-34s' "regular file (1 MiB, $(df --output=fstype "$work" | tail -n 1))"
  medians thispatch basepatch
  if loopdev=$(losetup -f --show "$work/target" 2>/dev/null); then
    ln -sf "$loopdev" "$work/modtarget"
    printf '  %-34s' "loop device over that file"
    medians thispatch basepatch
    losetup -d "$loopdev"
  fi
  # Figure 3 side by side with the base: what a line per byte costs each.
  thisdots() { "$bin/varnock-search" "$work/a" '.'; }
  basedots() { "$basebuild/varnock-search" "$work/a" '.'; }
  read -r tool base < <(best2 thisdots basedots)
  echo "  figure 3's search '.', this build / base: $tool s / $base s = $(ratio "$tool" "$base")"
else
  echo "  skipped: give a base build folder (bench/run.sh BASE), as of release 0.5.0"
fi

echo
echo "5 codec throughput (Google Benchmark; bytes of input per second; tohex target >= 1 GB/s)"
"$bin/codec_bench" --benchmark_min_time="$gbtime" 2>/dev/null |
  awk '/_bench\// { print "  " $1, $NF }'

echo
echo "peak memory (maximum resident set, KiB)"
if [ -x /usr/bin/time ]; then
  peak() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -1; }
  # A difference run as long as the file: every byte of b differs from a.
  tr '\000-\377' '\001-\377\000' < "$work/a" > "$work/flip"
  base=$(peak "$bin/readloop" "$work/a" "$work/flip")
  run=$(peak "$bin/varnock-cmp" "$work/a" "$work/flip")
  echo "  compare, one run of ${mib} MiB: $run (read loop: $base); growth $(ratio $((run - base)) $((mib << 10))) x the run"
  base=$(peak "$bin/readloop" "$work/a")
  run=$(peak "$bin/varnock-search" "$work/a" 'de ad be ef 01 02')
  echo "  search: $run (read loop: $base)"
  run=$(peak "$bin/varnock" "$work/dump" 0 $((dumpmib << 20)))
  echo "  dump of ${dumpmib} MiB: $run; $(ratio "$run" $((dumpmib << 10))) x the range"
else
  echo "  /usr/bin/time not installed; skipped"
fi
