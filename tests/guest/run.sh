#!/usr/bin/env bash
# Boots Debian's own 32-bit ARM kernel (armmp) under full-system emulation and
# runs the kit on it: the codec and command-line suites against the armhf
# board build's musl tools, and the device cases of tests/guest/devices.sh on
# simulated NAND flash, virtio disks, /dev/mem, procfs and pipes, with the
# armhf tools and (those that only read) the armel ones. Fails unless the
# guest reports its end with no failed case, within the time allowed.
#
# Needs both ARM board builds (presets armhf-static and armel-static), and from
# Debian: qemu-system-arm and cpio on the host, and the armhf architecture
# added to dpkg (.ci/install-deps does all of it). Nothing is installed into
# the host: the kernel and busybox packages are only unpacked.
# Usage: tests/guest/run.sh [work folder]
set -euo pipefail
cd "$(dirname "$0")/../.."
src=$PWD
work=$(realpath -m "${1:-build-guest}")
hf=$src/build-armhf-static el=$src/build-armel-static
for f in "$hf/varnock" "$hf/tests/cli_tests" "$hf/tests/codec_tests" "$el/varnock"; do
  [ -x "$f" ] || { echo "missing $f: build the armhf-static and armel-static presets" >&2; exit 1; }
done
rm -rf "$work/root" "$work/debs" "$work/unpacked"
mkdir -p "$work/root" "$work/debs"
started=$(date +%s)

# Debian's current armmp kernel, through its metapackage, and busybox.
kernel=$(apt-cache depends linux-image-armmp:armhf | sed -n 's/^ *Depends: \(linux-image-[0-9].*\)$/\1/p')
[ -n "$kernel" ] || { echo "cannot resolve linux-image-armmp:armhf" >&2; exit 1; }
(cd "$work/debs" && apt-get download -q "$kernel" busybox-static:armhf 2>&1 | grep -v '^W: Download is performed unsandboxed' || true)
for deb in "$work"/debs/*.deb; do dpkg-deb -x "$deb" "$work/unpacked"; done
vmlinuz=$(ls "$work"/unpacked/boot/vmlinuz-*)

# The initramfs: busybox, the modules for the devices, the kit and its tests.
root=$work/root
mkdir -p "$root"/{bin,proc,sys,dev,tmp,modules,kit/armhf,kit/armel}
cp "$work/unpacked/bin/busybox" "$root/bin/"
ln -s busybox "$root/bin/sh"
for module in virtio_mmio virtio_blk loop nandsim mtd_blkdevs mtdblock; do
  find "$work/unpacked/lib/modules" -name "$module.ko" -exec cp {} "$root/modules/" \;
  [ -f "$root/modules/$module.ko" ] || { echo "kernel module $module not found" >&2; exit 1; }
done
cp -a "$hf"/varnock{,-search,-cmp} "$hf/tests/cli_tests" "$hf/tests/codec_tests" "$root/kit/armhf/"
cp -a "$el"/varnock{,-search,-cmp} "$root/kit/armel/"
cp tests/guest/devices.sh "$root/kit/"
cp tests/guest/init "$root/init"
chmod +x "$root/init"
(cd "$root" && find . | cpio -o -H newc --quiet) | gzip -1 > "$work/initrd.gz"

# A sparse 6 GiB disk, and a 16 KiB one with marks at 3000 and 12000.
rm -f "$work/big.img" "$work/small.img"
truncate -s 6G "$work/big.img"
truncate -s 16K "$work/small.img"
printf VNK3 | dd of="$work/small.img" bs=1 seek=3000 conv=notrunc status=none
printf VNK4 | dd of="$work/small.img" bs=1 seek=12000 conv=notrunc status=none

log=$work/console.log
status=0
# No network: the default one needs a boot ROM that qemu-system-arm without its
# recommended packages lacks, and no case uses it.
timeout 900 qemu-system-arm -M virt -m 512 -nographic -no-reboot -nic none \
  -kernel "$vmlinuz" -initrd "$work/initrd.gz" \
  -append "console=ttyAMA0 quiet loglevel=1 panic=-1" \
  -drive if=none,file="$work/big.img",format=raw,id=d0 -device virtio-blk-device,drive=d0 \
  -drive if=none,file="$work/small.img",format=raw,id=d1 -device virtio-blk-device,drive=d1 \
  < /dev/null 2>&1 | tr -d '\r' > "$log" || status=$?

grep '^@@VNK' "$log" | sed 's/^@@VNK //'
end=$(grep '^@@VNK end ' "$log" || true)
echo "guest stage: $(($(date +%s) - started)) s"
why=
if ((status == 124)); then why="timed out"
elif ((status != 0)); then why="qemu ended with status $status"
elif grep -q 'Kernel panic' "$log"; then why="kernel panic"
elif [ -z "$end" ]; then why="the guest did not report its end"
elif grep -q '^@@VNK FAIL' "$log" || [[ $end != *" failed=0" ]]; then why="cases failed"
fi
if [ -n "$why" ]; then
  echo "guest stage failed: $why; the console said:" >&2
  grep -v '^@@VNK' "$log" | tail -n 60 >&2
  exit 1
fi
