# Timings on the emulated ARM system, sourced by tests/guest/devices.sh after
# its cases when tests/guest/run.sh is given "bench": a patch of a few bytes of
# a UBI volume next to the same patch through the mtdblock device of a NAND
# partition (each erases and programs one erase block), then a dump of the
# same bytes of each, the floor: starting the tool and opening the device.
# Where run.sh was given a base build, the cost of the raw NAND checks: this
# build against the base on mtd4, the 128 KiB partition with a bad block; and
# of the read back of a patch of a virtio disk.
# Medians of runs taken in turn (bench/medians.cpp). The times are emulated;
# only the ratios carry over.
runs=101
bench() { echo "@@VNK bench $*"; }
# The sum of the erase counters of the UBI device's physical blocks.
erased() { awk 'NR > 1 { n += $2 } END { print n }' /sys/kernel/debug/ubi/ubi0/detailed_erase_block_info; }
before=$(erased)
bench "patch '55 . aa', volume / mtdblock: $(medians $runs /kit/armhf/varnock modvol $((leb + 200)) '55 . aa' \
  -- /kit/armhf/varnock modblock 20000 '55 . aa')"
# UBI erases the blocks that changes freed in the background.
sleep 2
bench "erases of the volume's flash per patch: $(awk -v n=$(($(erased) - before)) -v r=$runs 'BEGIN { print n / r }')"
bench "dump of the same 3 bytes, volume / mtdblock: $(medians $runs /kit/armhf/varnock /dev/ubi0_0 $((leb + 200)) 3 \
  -- /kit/armhf/varnock /dev/mtdblock1 20000 3)"

# A search of the whole partition (the bad block makes this build's status
# 2), a patch of a whole erased page, a fresh one for each run, and the
# floor, a dump of a page: the checks ask the ECC twice per pair or pass,
# the bad block table once per erase block, and a patch reads its page.
if [ -x /kit/base/varnock ]; then
  bench "search of mtd4, this build / base: $(medians 5 /kit/armhf/varnock-search /dev/mtd4 'de ad be ef' \
    -- /kit/base/varnock-search /dev/mtd4 'de ad be ef')"
  rep 5a 512 > /tmp/page5a
  echo 0 > /tmp/pages
  cat > /tmp/nextpage <<'EOF'
n=$(cat /tmp/pages)
echo $((n + 1)) > /tmp/pages
exec "$1" modbad $((16384 + 512 * n)) "$(cat /tmp/page5a)"
EOF
  bench "patch of an erased page of mtd4, this build / base: $(medians 5 /bin/sh /tmp/nextpage \
    /kit/armhf/varnock -- /bin/sh /tmp/nextpage /kit/base/varnock)"
  bench "floor, a dump of a page of mtd4, this build / base: $(medians 5 /kit/armhf/varnock /dev/mtd4 0 512 \
    -- /kit/base/varnock /dev/mtd4 0 512)"
  # A patch of three bytes of a virtio disk, synced; this build then reads
  # them back with O_DIRECT, the base does not.
  ln -sf "$small" /tmp/dev/modbenchdisk
  bench "patch of 3 bytes of a virtio disk, this build / base: $(medians $runs \
    /kit/armhf/varnock modbenchdisk 1000 'c1 c2 c3' -- /kit/base/varnock modbenchdisk 1000 'c1 c2 c3')"
fi
