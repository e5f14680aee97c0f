#!/usr/bin/env bash
# Boots Debian's own 32-bit ARM kernel (armmp) under full-system emulation and
# runs the kit on it: the codec and command-line suites against the armhf
# board build's musl tools, and the device cases of tests/guest/devices.sh on
# simulated NAND flash, virtio disks, device-mapper disks with a bad stretch
# and that drop writes,
# /dev/mem, procfs and pipes, with the armhf tools and (those that only read)
# the armel ones; then a power cut right after two patches. Fails unless the
# guest reports its end with no failed case, within the time allowed, and
# the disk images hold both patches after the cut.
#
# Needs both ARM board builds (presets armhf-static and armel-static), and from
# Debian: qemu-system-arm, cpio, mtools, dosfstools and the armhf cross
# compiler on the host, and the armhf architecture added to dpkg
# (.ci/install-deps does all of it). Nothing is installed into
# the host: the kernel and busybox packages are only unpacked.
# Usage: tests/guest/run.sh [work folder] [bench [base build folder]]
# With "bench", bench/guest.sh times patches of flash after the cases, and
# where a base build folder is given (another armhf-static build, an older
# release for one), the flash checks of this build against that one's.
set -euo pipefail
cd "$(dirname "$0")/../.."
src=$PWD
work=$(realpath -m "${1:-build-guest}")
bench=${2:-}
base=${3:-}
hf=$src/build-armhf-static el=$src/build-armel-static
for f in "$hf/varnock" "$hf/tests/cli_tests" "$hf/tests/codec_tests" "$el/varnock"; do
  [ -x "$f" ] || { echo "missing $f: build the armhf-static and armel-static presets" >&2; exit 1; }
done
rm -rf "$work/root" "$work/debs" "$work/unpacked"
mkdir -p "$work/root" "$work/debs"
started=$(date +%s)

# Debian's current armmp kernel, through its metapackage, busybox, and strace
# for the calls that no device makes fail.
kernel=$(apt-cache depends linux-image-armmp:armhf | sed -n 's/^ *Depends: \(linux-image-[0-9].*\)$/\1/p')
[ -n "$kernel" ] || { echo "cannot resolve linux-image-armmp:armhf" >&2; exit 1; }
(cd "$work/debs" && apt-get download -q "$kernel" busybox-static:armhf strace:armhf 2>&1 | grep -v '^W: Download is performed unsandboxed' || true)
for deb in "$work"/debs/*.deb; do dpkg-deb -x "$deb" "$work/unpacked"; done
vmlinuz=$(ls "$work"/unpacked/boot/vmlinuz-*)

# The initramfs: busybox, the modules for the devices, the kit and its tests.
root=$work/root
mkdir -p "$root"/{bin,proc,sys,dev,tmp,modules,kit/armhf,kit/armel}
cp "$work/unpacked/bin/busybox" "$root/bin/"
ln -s busybox "$root/bin/sh"
# strace, with the armhf C library that it links against, off the PATH: the
# command-line suite is not to take it for the strace it runs its host rows
# under.
mkdir -p "$root/usr/bin" "$root/lib/arm-linux-gnueabihf"
cp "$work/unpacked/usr/bin/strace" "$root/usr/bin/"
cp /usr/arm-linux-gnueabihf/lib/ld-linux-armhf.so.3 "$root/lib/"
cp /usr/arm-linux-gnueabihf/lib/libc.so.6 "$root/lib/arm-linux-gnueabihf/"
# Each module goes into /modules/order after the modules it depends on: the
# package has no modules.dep, but each module names its own (depends=).
module() {
  local name=${1//-/_} file dep
  grep -qx "$name" "$root/modules/order" 2>/dev/null && return
  file=$(find "$work/unpacked/lib/modules" -name '*.ko' | grep -E "/${name//_/[-_]}\.ko$" | head -n 1)
  [ -n "$file" ] || { echo "kernel module $name not found" >&2; exit 1; }
  for dep in $(strings "$file" | sed -n 's/^depends=//p' | tr ',' ' '); do module "$dep"; done
  cp "$file" "$root/modules/$name.ko"
  echo "$name" >> "$root/modules/order"
}
for name in virtio_mmio virtio_blk loop nandsim mtdblock ubi dm_mod dm_flakey vfat nls_cp437 nls_ascii \
  jffs2 deflate zstd ubifs crc32c_generic ext4; do
  module "$name"
done
# The initramfs has no dmsetup, no UBI tools and no MTD tools, and its busybox
# cannot look users up: helpers of the kit's own speak to the device-mapper,
# to UBI and to raw NAND, and run a command as another user.
for helper in dmtable ubivol nandraw asuser; do
  arm-linux-gnueabihf-g++ -std=c++20 -Wall -Wextra -O2 -static -o "$root/bin/$helper" \
    "tests/guest/$helper.cpp"
done
cp -a "$hf"/varnock{,-search,-cmp,-explain} "$hf/tests/cli_tests" "$hf/tests/codec_tests" "$root/kit/armhf/"
cp -a "$el"/varnock{,-search,-cmp,-explain} "$root/kit/armel/"
cp tests/guest/devices.sh "$root/kit/"
if [ "$bench" = bench ]; then
  arm-linux-gnueabihf-g++ -std=c++20 -Wall -Wextra -O2 -static -o "$root/bin/medians" bench/medians.cpp
  cp bench/guest.sh "$root/kit/bench.sh"
  if [ -n "$base" ]; then
    mkdir -p "$root/kit/base"
    cp -a "$base"/varnock{,-search,-cmp} "$root/kit/base/"
  fi
fi
cp tests/guest/init "$root/init"
chmod +x "$root/init"
(cd "$root" && find . | cpio -o -H newc --quiet) | gzip -1 > "$work/initrd.gz"

# A sparse 6 GiB disk with a mark at 65532, a 16 KiB one with marks at 3000
# and 12000, and a 1 MiB FAT disk, a board's boot partition, with one file.
rm -f "$work/big.img" "$work/small.img" "$work/fat.img"
truncate -s 6G "$work/big.img"
printf VNK5 | dd of="$work/big.img" bs=1 seek=65532 conv=notrunc status=none
truncate -s 16K "$work/small.img"
printf VNK3 | dd of="$work/small.img" bs=1 seek=3000 conv=notrunc status=none
printf VNK4 | dd of="$work/small.img" bs=1 seek=12000 conv=notrunc status=none
mkfs.vfat -C "$work/fat.img" 1024 >/dev/null
printf 'arm_64bit=0\n' > "$work/config.txt"
mcopy -i "$work/fat.img" "$work/config.txt" ::CONFIG.TXT
# An 8 MiB disk for a medium that drops writes (dm-flakey, in the guest): an
# ext4 file system of 4 MiB, then a FAT one of 2 MiB, each holding modf, then
# 2 MiB raw with a mark at 100. Made here: busybox has no mkfs.ext4.
rm -rf "$work/drop.img" "$work/dropdir" "$work/dropfat.img"
mkdir "$work/dropdir"
seq 100000 101999 | tr -d '\n' | head -c 8192 > "$work/dropdir/modf"
mkfs.ext4 -q -F -d "$work/dropdir" "$work/drop.img" 4M
mkfs.vfat -C "$work/dropfat.img" 2048 >/dev/null
mcopy -i "$work/dropfat.img" "$work/dropdir/modf" ::MODF
dd if="$work/dropfat.img" of="$work/drop.img" bs=1M seek=4 conv=notrunc status=none
truncate -s 8M "$work/drop.img"
printf VNK6 | dd of="$work/drop.img" bs=1 seek=$((6 * 1048576 + 100)) conv=notrunc status=none

log=$work/console.log
status=0
# No network: the default one needs a boot ROM that qemu-system-arm without its
# recommended packages lacks, and no case uses it. Without highmem the PCIe
# host's configuration space lies where a 32-bit kernel without LPAE reaches
# it: its host bridge's config space is a writable sysfs binary attribute.
timeout 900 qemu-system-arm -M virt,highmem=off -m 512 -nographic -no-reboot -nic none \
  -kernel "$vmlinuz" -initrd "$work/initrd.gz" \
  -append "console=ttyAMA0 quiet loglevel=1 panic=-1" \
  -drive if=none,file="$work/big.img",format=raw,id=d0 -device virtio-blk-device,drive=d0 \
  -drive if=none,file="$work/small.img",format=raw,id=d1 -device virtio-blk-device,drive=d1 \
  -drive if=none,file="$work/fat.img",format=raw,id=d2 -device virtio-blk-device,drive=d2 \
  -drive if=none,file="$work/drop.img",format=raw,id=d3 -device virtio-blk-device,drive=d3 \
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
# The guest's last act was a power cut right after two patches; only the
# images can tell whether the patches reached them.
elif [ "$(od -An -tx1 -j 8000 -N 3 "$work/small.img" | tr -d ' ')" != c0ffee ]; then
  why="the power cut lost the patch of the raw disk"
elif [ "$(mtype -i "$work/fat.img" ::CONFIG.TXT)" != arm_64bit=1 ]; then
  why="the power cut lost the patch of the file on the FAT disk"
fi
if [ -n "$why" ]; then
  echo "guest stage failed: $why; the console said:" >&2
  grep -v '^@@VNK' "$log" | tail -n 60 >&2
  exit 1
fi
