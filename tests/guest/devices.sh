# Cases on the device files the kit exists for, run by the emulated ARM
# system's /init as root. A `run` line names a case and gives the exit status
# and the exact standard output (printf escapes) that its command must have,
# with nothing on standard error. A `has` line reads a device's bytes
# afterwards with dd and od, apart from the kit.

run() {
  name=$1 want_status=$2
  printf "$3" > /tmp/want
  shift 3
  "$@" > /tmp/got 2> /tmp/stderr
  got_status=$?
  if [ "$got_status" = "$want_status" ] && cmp -s /tmp/got /tmp/want && [ ! -s /tmp/stderr ]; then
    ok "$name"
  else
    fail "$name: status $got_status, output '$(head -c 300 /tmp/got)', stderr '$(head -c 300 /tmp/stderr)'"
  fi
}

# Runs a command under strace, which fails the Nth call of one kind (EIO) on
# one path: the failures that no device gives at will.
fails() {
  path=$1 call=$2 n=$3
  shift 3
  /usr/bin/strace -f -qq --seccomp-bpf -o /dev/null -P "$path" -e trace="$call" \
    -e inject="$call":error=EIO:when="$n" "$@"
}

# Runs varnock-explain of a command line: its refused and trouble lines, and
# its status.
explains() {
  "$@" > /tmp/explained
  status=$?
  grep '^refused\|^trouble' /tmp/explained
  return $status
}

hexat() { dd if="$1" bs=1 skip="$2" count="$3" 2>/dev/null | od -An -tx1 -v | tr -d ' \n'; }

has() {
  got=$(hexat "$2" "$3" $((${#4} / 2)))
  if [ "$got" = "$4" ]; then ok "$1"; else fail "$1: holds $(echo "$got" | head -c 300)"; fi
}

# The hex text of a byte repeated n times, without separators.
rep() { printf "$1%.0s" $(seq "$2"); }

# The dump's line for n bytes of a file at an offset, as run wants it.
line() { printf '%s%s\\n' "$2" "$(hexat "$1" "$2" "$3" | sed 's/../ &/g')"; }

# Writes bytes, given as hex text, into a file at an offset, apart from the kit.
poke() { printf "$(echo "$3" | sed 's/../\\x&/g')" | dd of="$1" bs=1 seek="$2" conv=notrunc 2>/dev/null; }

# A device holds exactly the bytes of a file.
holds() {
  if cmp -s "$2" "$3"; then ok "$1"; else fail "$1: $(cmp "$2" "$3" 2>&1 | head -c 300)"; fi
}

settle() { sync; echo 3 > /proc/sys/vm/drop_caches; }

# Fills a mounted file system with small files, in rounds until a round adds
# none: JFFS2 frees room in the background (its garbage collection), and
# UBIFS once what it budgeted is written back.
fillup() {
  n=0 added=1
  while [ $added = 1 ]; do
    added=0
    sync
    sleep 1
    while dd if=/dev/urandom of="$1/fill$n" bs=256 count=1 2>/dev/null; do n=$((n + 1)) added=1; done
  done
}

# The cases of a full file system mounted on $2 (named $1), patched by $3: a
# pattern within a page, one across pages and one across the file's end.
full() {
  fs=$1 dir=$2
  seq 100000 101999 | tr -d '\n' | head -c 8192 > "$dir/modf"
  cp "$dir/modf" /tmp/modf
  fillup "$dir"
  cd "$dir" || return
  run "$fs, full: a pattern within a page" 2 '' $3/varnock modf 100 '61 62 63 64'
  run "$fs, full: a pattern across pages" 2 '' $3/varnock modf 1000 "$(rep 41 6000)"
  run "$fs, full: a pattern across the file's end" 2 '' $3/varnock modf 8190 '71 72 73 74'
  cd /tmp/dev
  holds "$fs, full: ... the file keeps its bytes and its size" "$dir/modf" /tmp/modf
}

# The 6 GiB disk, the 16 KiB one, the 1 MiB FAT one and the 8 MiB one for
# dropped writes, told apart by size in 512-byte sectors.
for d in vda vdb vdc vdd; do
  case $(cat /sys/block/$d/size) in
    12582912) big=/dev/$d ;;
    32) small=/dev/$d ;;
    2048) fat=/dev/$d ;;
    16384) drop=/dev/$d ;;
  esac
done

# The /dev/dm-N of a device-mapper device, by its name.
dmdev() {
  for d in /sys/block/dm-*; do
    [ "$(cat $d/dm/name)" = "$1" ] && echo /dev/${d##*/}
  done
}
# A disk with a bad stretch: the first 64 KiB of the big disk, then 64 KiB
# that fail every read.
dmtable vnkbad "0 128 linear $big 0" "128 128 error" 2> /tmp/stderr || fail "dmtable: $(cat /tmp/stderr)"
bad=/dev/dm-0

mkdir -p /tmp/dev
cd /tmp/dev
# The mode follows the argument's text, so patches go through "mod" links.
ln -s /dev/mtd0 modnand
ln -s /dev/mtdblock1 modblock
ln -s /dev/mtdblock0 modblock0
ln -s "$big" modbig
printf ABC > /tmp/abc

# Partition mtd2 and the small disk hold marks to search for.
dd if=/dev/zero bs=16384 count=1 2>/dev/null | tr '\000' '\377' > /tmp/part
printf VNK1 | dd of=/tmp/part bs=1 seek=1000 conv=notrunc 2>/dev/null
printf VNK2 | dd of=/tmp/part bs=1 seek=9000 conv=notrunc 2>/dev/null
cat /tmp/part > /dev/mtdblock2
cp /tmp/part /tmp/part2
printf Z | dd of=/tmp/part2 bs=1 seek=5000 conv=notrunc 2>/dev/null
dd if=/dev/zero of=/tmp/zeros bs=16384 count=1 2>/dev/null

# Raw NAND of their own for the cases of reads that the ECC could not
# correct and of bad blocks. mtd6: page 0 holds text ("1000000\n", ...), page
# 2 the same with two bits flipped in its first ECC step, which the ECC
# cannot correct, page 3 with one, which it corrects, and page 4 reads all
# ff but has its ECC bytes programmed to 00 (OOB bytes 0-3 and 6-7 of a
# small page). /tmp/img6 is mtd6 as it reads, the failed pages too. mtd4 is
# erased, and its fourth erase block, at 49152, is marked bad.
seq 1000000 1000063 > /tmp/page
dd if=/tmp/page of=/dev/mtd6 bs=512 2>/dev/null
{ nandraw copy /dev/mtd6 0 1024 0:11 && nandraw copy /dev/mtd6 0 1536 0:01 &&
  nandraw lay /dev/mtd6 2048 ff 00000000ffff0000ffffffffffffffff; } 2> /tmp/stderr ||
  fail "nandraw: $(cat /tmp/stderr)"
dd if=/dev/mtd6 of=/tmp/img6 bs=512 2>/dev/null
ln -s /dev/mtd6 modecc
ln -s /dev/mtd4 modbad
# mtd4's own node, writable but not readable by an ordinary user.
mknod /tmp/dev/wonand c 90 8
chown 1000 /tmp/dev/wonand
chmod 0200 /tmp/dev/wonand
ln -s /tmp/dev/wonand modwo
# The configuration space of the emulated PCIe host bridge: a sysfs binary
# attribute of a fixed size (256 bytes), bytes from 64 on free to write.
cfg=/sys/bus/pci/devices/0000:00:00.0/config
ln -s $cfg modpci
settle

# UBI on partition mtd3: a dynamic volume of four logical erase blocks (LEBs)
# and a static one of two, holding digits. /tmp/vol is what the dynamic one
# must hold, kept apart from the kit.
mount -t debugfs debugfs /sys/kernel/debug
leb=$(cat /sys/class/ubi/ubi0/eraseblock_size)
seq 100000 199999 | tr -d '\n' | head -c $((4 * leb)) > /tmp/vol
head -c $((leb + 1000)) /tmp/vol > /tmp/svol
{ ubivol mkvol /dev/ubi0 dyn $((4 * leb)) dynamic && ubivol mkvol /dev/ubi0 stat $((2 * leb)) static &&
  ubivol update /dev/ubi0_0 /tmp/vol && ubivol update /dev/ubi0_1 /tmp/svol; } 2> /tmp/stderr ||
  fail "ubivol: $(cat /tmp/stderr)"
ln -s /dev/ubi0_0 modvol
ln -s /dev/ubi0_1 modstatic

# Cases that change the devices, with the armhf build.
writes() {
  kit=$1

  # Raw NAND flash through its character device: the driver takes whole pages
  # only, and programming clears bits without setting any: a page must be
  # erased before it is written again, and a patch that would have to set a
  # bit is not written.
  run "nand: less than a page is refused" 2 '' $kit/varnock modnand 16 'de ad'
  has "nand: ... and the flash stays as it was" /dev/mtd0 16 ffff
  run "nand: a whole erased page" 0 '' $kit/varnock modnand 512 "$(rep 0f 512)"
  has "nand: ... is written" /dev/mtd0 512 "$(rep 0f 512)"
  run "nand: the same page again, not erased" 2 '' $kit/varnock modnand 512 "$(rep 3c 512)"
  has "nand: ... keeps its bytes" /dev/mtd0 512 "$(rep 0f 512)"

  # A pattern that would run past the end of flash writes nothing at all; one
  # that ends on its last byte is written whole. Partition mtd0 ends at 65536.
  run "nand: the last page and one byte more is refused whole" 2 '' \
    $kit/varnock modnand 65024 "$(rep 5a 513)"
  has "nand: ... and the last page stays erased" /dev/mtd0 65024 ffff
  run "nand: the last page, ending on the last byte" 0 '' $kit/varnock modnand 65024 "$(rep 5a 512)"
  has "nand: ... is written" /dev/mtd0 65534 5a5a
  run "mtdblock: past the end is refused whole" 2 '' $kit/varnock modblock0 65534 '. 61 62'
  run "mtdblock: ending on the last byte" 0 '' $kit/varnock modblock0 65534 '61 .'
  settle
  has "mtdblock: ... only the whole pattern went in" /dev/mtd0 65533 5a615a

  # NAND takes one program per page between erases: a page must read all ff
  # before it is written, even by a patch that only clears bits. Reads
  # before the write that the ECC cannot correct, and bad blocks, refuse
  # the pair; the run's other pairs go on.
  run "nand: a whole page into an erased page" 0 '' $kit/varnock modbad 512 "$(rep 0f 512)"
  has "nand: ... is written" /dev/mtd4 512 "$(rep 0f 512)"
  run "nand: the page again, only clearing bits" 2 '' $kit/varnock modbad 512 "$(rep 0e 512)"
  has "nand: ... keeps its bytes" /dev/mtd4 512 "$(rep 0f 512)"
  run "nand: a page whose ECC bytes were programmed" 2 '' $kit/varnock modecc 2048 "$(rep 00 512)"
  has "nand: ... keeps its bytes" /dev/mtd6 2048 "$(rep ff 512)"
  run "nand: a page in a bad block, then one in a good block" 2 '' \
    $kit/varnock modbad 49152 "$(rep 00 512)" 1024 "$(rep 22 512)"
  has "nand: ... the bad block is not written" /dev/mtd4 49152 "$(rep ff 512)"
  has "nand: ... the good one is" /dev/mtd4 1024 "$(rep 22 512)"
  run "nand: the last page before the bad block" 0 '' $kit/varnock modbad 48640 "$(rep 11 512)"
  has "nand: ... is written" /dev/mtd4 48640 "$(rep 11 512)"
  run "nand: flash that cannot be read is not written" 2 '' \
    asuser 1000 $kit/varnock modwo 1536 "$(rep 33 512)"
  has "nand: ... and stays erased" /dev/mtd4 1536 "$(rep ff 512)"

  # The explanation foresees what the patches above met, and writes nothing.
  run "explain: a NAND page not erased" 2 'refused a NAND page it falls in is not erased\n' \
    explains $kit/varnock-explain varnock modbad 512 '0f 0f'
  run "explain: a bad block" 2 'refused it touches an erase block that the flash marks bad\n' \
    explains $kit/varnock-explain varnock modbad 49152 00
  run "explain: a read that fails its ECC" 2 'refused a read of the flash failed its ECC\n' \
    explains $kit/varnock-explain varnock modecc 2048 00
  # Raw flash sets no bit back without an erase: no undo line, a warn.
  run "explain: an erased page" 1 '' explains $kit/varnock-explain varnock modbad 4096 00
  # Two stretches in one page, where a wildcard's read fails: a second
  # program of the page, refused.
  run "explain: two stretches in one NAND page" 2 'refused a NAND page it falls in is not erased\n' \
    explains fails /dev/mtd4 read 2 $kit/varnock-explain varnock modbad 4608 'aa . bb'
  has "explain: ... stays erased" /dev/mtd4 4096 ffff

  # Where the flash does not answer, fail closed: a dump or a search prints
  # its lines, a patch writes nothing, and the status is 2. A patch asks mtd4
  # what it is (1), the ECC's count (2), the bad block table (3) and the count
  # again (4) before it writes, and the count before (5) and after (6) it
  # reads the page back; a dump or a search asks what it is (1), the count
  # before (2) and after (3) its reads, and the bad block table (4).
  for n in 1 2 3 4 5 6; do
    at=$((32768 + 512 * n)) want=$(rep 44 512)
    [ $n -le 4 ] && want=$(rep ff 512)
    run "nand: ioctl $n of a patch fails" 2 '' fails /dev/mtd4 ioctl $n $kit/varnock modbad $at "$(rep 44 512)"
    has "nand: ... and the page holds what it held before the failed call" /dev/mtd4 $at "$want"
  done
  for n in 1 2 3 4; do
    run "nand: ioctl $n of a dump fails" 2 '0 31 30\n' fails /dev/mtd6 ioctl $n $kit/varnock /dev/mtd6 0 2
    run "nand: ioctl $n of a search fails" 2 '1000 56 4e 4b 31\n9000 56 4e 4b 32\n' \
      fails /dev/mtd2 ioctl $n $kit/varnock-search /dev/mtd2 '56 4e 4b .'
  done

  # A sysfs binary attribute cannot grow: the kernel shortens a write that
  # crosses its end and fails the next. Its size is its end.
  size=$(stat -c %s $cfg)
  run "sysfs: a pattern inside a binary attribute" 0 '' $kit/varnock modpci 64 '11 22 33 44'
  has "sysfs: ... reads back" $cfg 64 11223344
  run "sysfs: a pattern that would end past its size" 2 '' $kit/varnock modpci $((size - 1)) '55 66'
  has "sysfs: ... writes nothing" $cfg $((size - 2)) 0000
  run "sysfs: a pattern that ends on its last byte" 0 '' $kit/varnock modpci $((size - 2)) '55 66'
  has "sysfs: ... is written" $cfg $((size - 2)) 5566
  run "explain: past a sysfs attribute's end" 2 \
    'refused it would end past the end of the device or attribute\n' \
    explains $kit/varnock-explain varnock modpci $((size - 1)) '77 88'

  # JFFS2 on NAND of its own, mtd5, full. Log-structured: every write takes
  # new room, an overwrite too. It reserves room for a write before it takes
  # any of it, so a pattern that does not fit is refused whole.
  mkdir -p /mnt/jffs2
  mount -t jffs2 /dev/mtdblock5 /mnt/jffs2 || fail "mount JFFS2"
  full jffs2 /mnt/jffs2 $kit
  umount /mnt/jffs2

  # The mtdblock device erases and rewrites whole blocks for a patch.
  run "mtdblock: a patch" 0 '' $kit/varnock modblock 4095 '41 42 43'
  run "mtdblock: a patch with a wildcard at 4096" 0 '' $kit/varnock modblock 4095 '78 . 7a'
  settle
  has "mtdblock: ... read back through the block device" /dev/mtdblock1 4095 78427a
  has "mtdblock: ... and through the character device" /dev/mtd1 4095 78427a

  # A 6 GiB disk on a 32-bit kernel: positions across 2^31 and 2^32 and past 4 GiB.
  run "disk: patch across 2^31" 0 '' $kit/varnock modbig 2147483646 'a1 a2 a3 a4'
  run "disk: patch across 2^32" 0 '' $kit/varnock modbig 4294967294 'b1 b2 b3 b4'
  run "disk: patch past 4 GiB" 0 '' $kit/varnock modbig 5000000000 '58 . 5a'
  settle
  has "disk: across 2^31, read back" "$big" 2147483646 a1a2a3a4
  has "disk: across 2^32, read back" "$big" 4294967294 b1b2b3b4
  has "disk: past 4 GiB, read back" "$big" 5000000000 58005a
  run "disk: a patch past its end is refused" 2 '' $kit/varnock modbig 6442450945 61
}

# A medium that takes writes and keeps its old bytes, as an SD card at the
# end of its life does: dm-flakey's drop_writes over the 8 MiB disk. A patch
# reads its bytes back from past the page cache after its sync: 2, and the
# medium keeps the old bytes; on the same stretch of disk as it keeps its
# writes, 0, and the new bytes are there once the caches are dropped. Then a
# file on ext4 and one on FAT, whose device starts dropping writes while they
# are mounted.
dropped() {
  kit=$1
  flakey="0 1 1 drop_writes"
  dmtable vnkraw "0 4096 flakey $drop 12288 $flakey" 2> /tmp/stderr || fail "dmtable: $(cat /tmp/stderr)"
  ln -s "$(dmdev vnkraw)" modraw
  run "dropped writes: a patch of the raw device" 2 '' $kit/varnock modraw 100 '61 62 63'
  settle
  has "dropped writes: ... the medium keeps its bytes" "$drop" $((6 * 1048576 + 100)) 564e4b36
  dmtable vnkraw "0 4096 linear $drop 12288" 2> /tmp/stderr || fail "dmtable: $(cat /tmp/stderr)"
  run "kept writes: the same patch" 0 '' $kit/varnock modraw 100 '61 62 63'
  settle
  has "kept writes: ... the medium holds the new bytes" "$drop" $((6 * 1048576 + 100)) 616263
  for fs in ext4:0:8192 vfat:8192:4096; do
    type=${fs%%:*} at=${fs#*:}
    start=${at%%:*} length=${at#*:}
    dmtable vnk$type "0 $length linear $drop $start" 2> /tmp/stderr || fail "dmtable: $(cat /tmp/stderr)"
    mkdir -p /mnt/$type
    mount -t $type "$(dmdev vnk$type)" /mnt/$type || fail "mount $type"
    ln -s /mnt/$type/modf mod$type
    run "kept writes: a file on $type" 0 '' $kit/varnock mod$type 100 '61 62 63'
    settle
    has "kept writes: ... holds the new bytes" /mnt/$type/modf 100 616263
    dmtable vnk$type "0 $length flakey $drop $start $flakey" 2> /tmp/stderr ||
      fail "dmtable: $(cat /tmp/stderr)"
    run "dropped writes: a file on $type" 2 '' $kit/varnock mod$type 200 '61 62 63'
    settle
    has "dropped writes: ... the medium keeps its bytes" /mnt/$type/modf 200 303033333130
    umount /mnt/$type
  done
}

# A UBI volume takes no plain writes: a patch changes each LEB that it
# touches atomically, submitting the whole LEB, the rest of it as it was.
volumes() {
  kit=$1
  run "ubi: a patch with a wildcard inside one LEB" 0 '' $kit/varnock modvol $((leb + 100)) '55 . aa'
  poke /tmp/vol $((leb + 100)) 55
  poke /tmp/vol $((leb + 102)) aa
  holds "ubi: ... read back, the rest of the volume as it was" /dev/ubi0_0 /tmp/vol
  run "ubi: a pattern across a LEB boundary, two changes" 0 '' \
    $kit/varnock modvol $((2 * leb - 2)) '11 22 33 44'
  poke /tmp/vol $((2 * leb - 2)) 11223344
  holds "ubi: ... both parts read back, nothing else changed" /dev/ubi0_0 /tmp/vol

  # A wildcard whose read fails keeps the LEB's own byte.
  run "ubi: a wildcard whose read fails" 2 '' fails /dev/ubi0_0 read 1 $kit/varnock modvol $((leb + 300)) '61 . 62'
  poke /tmp/vol $((leb + 300)) 61
  poke /tmp/vol $((leb + 302)) 62
  holds "ubi: ... the wildcard's byte is the LEB's own" /dev/ubi0_0 /tmp/vol

  run "ubi: a pattern that ends on the volume's last byte" 0 '' \
    $kit/varnock modvol $((4 * leb - 2)) '61 62'
  poke /tmp/vol $((4 * leb - 2)) 6162
  holds "ubi: ... both bytes written, nothing else changed" /dev/ubi0_0 /tmp/vol

  # UBIFS on a volume of its own, full. It budgets room for a write before
  # it takes any of it, so a pattern that does not fit is refused whole. It
  # is unmounted before the power cut below attaches UBI again.
  ubivol mkvol /dev/ubi0 fs $((26 * leb)) dynamic 2> /tmp/stderr || fail "ubivol: $(cat /tmp/stderr)"
  mkdir -p /mnt/ubifs
  mount -t ubifs ubi0:fs /mnt/ubifs || fail "mount UBIFS"
  full ubifs /mnt/ubifs $kit
  umount /mnt/ubifs

  # Refused whole: past the end, a static volume (a volume update replaces
  # its data), a volume that another process holds open.
  run "ubi: a pattern that would end past the volume's end" 2 '' \
    $kit/varnock modvol $((4 * leb - 1)) '61 62'
  run "ubi: a static volume" 2 '' $kit/varnock modstatic 10 61
  exec 8< /dev/ubi0_0
  run "ubi: a volume held open by the shell" 2 '' $kit/varnock modvol 5 61
  exec 8<&-
  holds "ubi: ... none of them changed the dynamic volume" /dev/ubi0_0 /tmp/vol
  holds "ubi: ... nor the static one" /dev/ubi0_1 /tmp/svol
  run "explain: a static volume" 2 'refused a static UBI volume\n' \
    explains $kit/varnock-explain varnock modstatic 10 61
  run "explain: past a volume's end" 2 'refused it would end past the end of the device or attribute\n' \
    explains $kit/varnock-explain varnock modvol $((4 * leb - 1)) '61 62'
  run "explain: a dynamic volume, with no write open and no LEB change" 0 '0\n' sh -c \
    "/usr/bin/strace -f -o /tmp/trace -e trace=openat,ioctl $kit/varnock-explain varnock modvol 5 61 \
      > /dev/null; s=\$?; grep -c 'UBI_IOCEBCH\|O_WRONLY\|O_RDWR' /tmp/trace; exit \$s"
  run "ubi: the same patch once the shell has closed it" 0 '' $kit/varnock modvol 5 61
  poke /tmp/vol 5 61
  holds "ubi: ... read back" /dev/ubi0_0 /tmp/vol
  run "ubi: ... and the same traced, which shows its LEB change" 0 '1\n' sh -c \
    "/usr/bin/strace -f -o /tmp/trace -e trace=ioctl $kit/varnock modvol 5 61; s=\$?; \
      grep -c UBI_IOCEBCH /tmp/trace; exit \$s"

  # UBI's emulation of a power cut, set to stop writing at the second
  # volume header written, which is where the pattern's second change
  # begins. After the device is attached again, each LEB holds all of its
  # new bytes or all of its old ones.
  debug=/sys/kernel/debug/ubi/ubi0
  echo 1 > $debug/tst_emulate_power_cut_min
  echo 1 > $debug/tst_emulate_power_cut_max
  echo 2 > $debug/tst_emulate_power_cut
  run "ubi: a power cut during the second change of a pattern" 2 '' \
    $kit/varnock modvol $((leb - 2)) 'c1 c2 c3 c4'
  # UBIFS holds the UBI module: it goes first, and is not needed again.
  rmmod ubifs && rmmod ubi && insmod /modules/ubi.ko mtd=3 || fail "ubi: attach the device again"
  poke /tmp/vol $((leb - 2)) c1c2
  holds "ubi: ... after attaching again, the first LEB new, the second old" /dev/ubi0_0 /tmp/vol
  run "ubi: ... and without the emulation the patch goes through" 0 '' \
    $kit/varnock modvol $((leb - 2)) 'c1 c2 c3 c4'
  poke /tmp/vol $((leb - 2)) c1c2c3c4
  holds "ubi: ... read back" /dev/ubi0_0 /tmp/vol
}

# Cases that only read, after the writes above; run with each build.
reads() {
  kit=$1 tag=$2
  run "$tag: nand: erased flash" 0 '0 ff ff ff ff\n' $kit/varnock /dev/mtd0 0 4
  run "$tag: nand: at its end" 0 '' $kit/varnock /dev/mtd0 65536 1
  run "$tag: nand: past its end, where the driver refuses the position" 0 '' \
    $kit/varnock /dev/mtd0 65537 1 17592186040321 1
  run "$tag: nand: search a partition" 0 '1000 56 4e 4b 31\n9000 56 4e 4b 32\n' \
    $kit/varnock-search /dev/mtd2 '56 4e 4b .'
  run "$tag: nand: compare a partition with a file" 0 '< 5000 5a\n> 5000 ff\n' \
    $kit/varnock-cmp /dev/mtd2 /tmp/part2
  run "$tag: disk: dumps across 2^31, 2^32 and past 4 GiB" 0 \
    '2147483646 a1 a2 a3 a4\n4294967294 b1 b2 b3 b4\n5000000000 58 00 5a\n' \
    $kit/varnock "$big" 2147483646 4 4294967294 4 5000000000 3
  run "$tag: disk: at and past its end" 0 '6442450943 00\n' \
    $kit/varnock "$big" 6442450943 9 6442450944 1 6442450945 1 17592186040321 1
  # A device reports a size of 0 to fstat; its end, not a huge length, sizes
  # the buffer, which a 512 MiB system could not give.
  run "$tag: disk: a huge length before its end" 0 '6442450940 00 00 00 00\n' \
    $kit/varnock "$big" 6442450940 99999999999
  run "$tag: nand: a huge length before its end" 0 '65532 5a 5a 61 5a\n' \
    $kit/varnock /dev/mtd0 65532 99999999999
  # Raw NAND returns the bytes of a page that its ECC could not correct, and of
  # a bad block, without an error: the lines show them, the status is 2.
  run "$tag: nand ecc: a page the ECC corrects" 0 '1536 31 30 30 30 30 30 30 0a\n' \
    $kit/varnock /dev/mtd6 1536 8
  run "$tag: nand ecc: a page it cannot correct, shown as read" 2 \
    '0 31 30\n1024 20 30 30 30 30 30 30 0a\n1536 31 30\n' \
    $kit/varnock /dev/mtd6 0 2 1024 8 1536 2
  run "$tag: nand ecc: a search" 2 '0 31 30 30 30 30 30 30 0a\n1536 31 30 30 30 30 30 30 0a\n' \
    $kit/varnock-search /dev/mtd6 '31 30 30 30 30 30 30 0a'
  run "$tag: nand ecc: compare the flash with its image" 2 '' $kit/varnock-cmp /dev/mtd6 /tmp/img6
  run "$tag: nand ecc: ... and the image with the flash" 2 '' $kit/varnock-cmp /tmp/img6 /dev/mtd6
  # The explanation's counts read the flash as the tools read it, and say the same.
  run "$tag: nand ecc: explain a search" 2 'trouble a read of the file fails or is not whole\n' \
    explains $kit/varnock-explain varnock-search /dev/mtd6 '31 30'
  run "$tag: nand ecc: explain a compare" 2 'trouble a read of the file fails or is not whole\n' \
    explains $kit/varnock-explain varnock-cmp /tmp/img6 /dev/mtd6
  run "$tag: nand bad block: a dump that ends before it" 0 '49148 11 11 11 11\n' \
    $kit/varnock /dev/mtd4 49148 4
  run "$tag: nand bad block: a dump into it" 2 '49150 11 11 ff ff\n' $kit/varnock /dev/mtd4 49150 4
  run "$tag: nand bad block: a search" 2 '' $kit/varnock-search /dev/mtd4 'de ad be ef'
  run "$tag: nand bad block: a compare" 2 '' $kit/varnock-cmp /dev/mtd4 /dev/mtd4
  run "$tag: nand bad block: explain a compare" 2 'trouble a read of the file fails or is not whole\n' \
    explains $kit/varnock-explain varnock-cmp /dev/mtd4 /dev/mtd4
  run "$tag: mtdblock: a bad block reads as its bytes" 0 '49152 ff ff ff ff\n' \
    $kit/varnock /dev/mtdblock4 49152 4
  # A read that meets the bad stretch returns the bytes before it, and no error.
  run "$tag: dm: a dump across a bad stretch shows what it read, status 2" 2 \
    '65532 56 4e 4b 35\n' $kit/varnock "$bad" 65532 8
  run "$tag: dm: a dump wholly before it" 0 '65528 00 00 00 00 56 4e 4b 35\n' \
    $kit/varnock "$bad" 65528 8
  # A volume reports a size of 0; its end caps the read, as a device's does.
  run "$tag: ubi: a huge length before the volume's end" 0 "$(line /tmp/vol $((4 * leb - 4)) 4)" \
    $kit/varnock /dev/ubi0_0 $((4 * leb - 4)) 99999999999
  run "$tag: ubi: search a volume" 0 "$((2 * leb - 2)) 11 22 33 44\n" \
    $kit/varnock-search /dev/ubi0_0 '11 22 33 44'
  run "$tag: ubi: compare a volume with its image" 0 '' $kit/varnock-cmp /dev/ubi0_0 /tmp/vol
  run "$tag: disk: search a small disk" 0 '3000 56 4e 4b 33\n12000 56 4e 4b 34\n' \
    $kit/varnock-search "$small" '56 4e 4b .'
  run "$tag: disk: compare a small disk with a file" 0 \
    '< 3000 00 00 00 00\n> 3000 56 4e 4b 33\n< 12000 00 00 00 00\n> 12000 56 4e 4b 34\n' \
    $kit/varnock-cmp "$small" /tmp/zeros

  # The kernel refuses to read RAM through /dev/mem.
  run "$tag: /dev/mem: RAM is refused" 2 '1073741824\n' $kit/varnock /dev/mem 0x40000000 16
  run "$tag: procfs: a file that reports a size of 0" 0 '0 4c 69 6e 75 78 0a\n' \
    $kit/varnock /proc/sys/kernel/ostype 0 16
  run "$tag: pipe: search" 0 '0 41\n2 41\n' \
    sh -c "printf ABAB | $kit/varnock-search /proc/self/fd/0 41"
  run "$tag: pipe: compare" 0 '< 1 58\n> 1 42\n' \
    sh -c "printf AXC | $kit/varnock-cmp /tmp/abc /proc/self/fd/0"
  # This kernel has no transparent huge pages (checked below), so the advice
  # for a large buffer is refused; a 4 MiB dump must come out whole all the same.
  run "$tag: a 4 MiB dump without huge pages" 0 '12582914\n0\n' sh -c \
    "$kit/varnock /dev/zero 0 4194304 > /tmp/z; wc -c < /tmp/z; tr -d ' 0\n' < /tmp/z | wc -c"
  cp /tmp/abc mod$tag
  run "$tag: patch a file" 0 '' $kit/varnock mod$tag 1 '. 78'
  run "$tag: ... and dump it" 0 '0 41 42 78\n' $kit/varnock ./mod$tag 0 9
}

# The last act, before init cuts the power: two patches, with nothing that
# syncs after them and the kernel's periodic write-back an hour away, so that
# only the tool's own sync can bring them to the disks. The host reads the
# images afterwards. (With an interval of 0, "off", this kernel wrote the raw
# disk back at once all the same, and the cut proved nothing for it.) The raw
# disk is held open by the shell, as a board's disk is while a partition of
# it is mounted: the tool's close is then not the last one, which would write
# the device back.
cut() {
  echo 360000 > /proc/sys/vm/dirty_writeback_centisecs
  mkdir -p /mnt/boot
  mount -t vfat "$fat" /mnt/boot || fail "mount the FAT disk"
  ln -s /mnt/boot/CONFIG.TXT modcfg
  ln -s "$small" modsmall
  exec 7< "$small"
  run "power cut: patch a raw disk held open" 0 '' /kit/armhf/varnock modsmall 8000 'c0 ff ee'
  run "power cut: patch a file on a FAT disk" 0 '' /kit/armhf/varnock modcfg 10 31
}

run "no transparent huge pages here" 1 '' test -e /sys/kernel/mm/transparent_hugepage
writes /kit/armhf
dropped /kit/armhf
volumes /kit/armhf
reads /kit/armhf armhf
# The ARMv5TE build on this ARMv7 kernel.
reads /kit/armel armel
# Timings, where the host asked for them.
if [ -f /kit/bench.sh ]; then . /kit/bench.sh; fi
cut
cd /
