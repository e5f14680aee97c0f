# Timings on the emulated ARM system, sourced by tests/guest/devices.sh after
# its cases when tests/guest/run.sh is given "bench": a patch of a few bytes of
# a UBI volume next to the same patch through the mtdblock device of a NAND
# partition (each erases and programs one erase block), then a dump of the
# same bytes of each, the floor: starting the tool and opening the device.
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
