#!/usr/bin/env bash
# Puts each fault of the table below into a scratch copy of the sources, one
# at a time, builds it and runs the native suite, or for a row marked "guest"
# the emulated ARM system's stage (faults only real flash or a bad sector
# shows); every fault must make its suite fail. Usage: tests/mutants.sh
# (as root, for the loop devices and file system images; takes about an hour,
# most of it in the guest rows)
set -euo pipefail
cd "$(dirname "$0")/.."

# file | text as it stands | the fault put in its place [| guest]
faults=$(cat <<'TABLE'
src/tools/output.cpp|std::exit(finish(exit_trouble));|std::exit(finish(exit_done));
src/tools/output.cpp|for (long done = 0; done < n; done += slice)|for (long done = 0; done <= n; done += slice)
src/tools/args.cpp|  if (c >= 'A' && c <= 'Z') return c - 'A' + 10;|
src/tools/args.cpp|if (v > (limit - d) / base)|if (v > limit / base)
src/tools/dump.cpp|if (need <= b.room) return true;|if (b.bytes) return true;
src/tools/varnock.cpp|if (!data) outofmemory();\n  if (skipped(off, count))|if (!data \|\| count == 0) outofmemory();\n  if (skipped(off, count))
src/tools/args.cpp|return c == ' ' \|\| (c >= '\t' && c <= '\r');|return c == ' ' \|\| (c >= '\t' && c < '\r');
src/tools/dump.cpp|return f.st.st_size > 0 ? f.st.st_size : -1;|return f.st.st_size;
src/tools/dump.cpp|  if (refusal == ESPIPE) return false;\n|
src/tools/dump.cpp|return end >= 0 && off >= end;|return off >= end;
src/tools/varnock.cpp|  if (run.count == 0) return;\n|  if (run.count == 0) return;\n  std::fputs("run", stderr);\n
src/tools/dump.cpp|  putline(prefix, off, nullptr, 0);\n  return exit_trouble;|  putline(prefix, off, nullptr, 0);\n  return exit_done;
src/tools/patch.cpp|  if (t.end >= 0 && off >= t.end - (j - 1)) return Refusal::end;\n|
src/tools/patch.cpp|  if (t.r < 0 \|\| samefile(t.r, t.file.st)) return true;|  return true;
src/tools/varnock.cpp|  if (modify && syncpatch(patch) != exit_done) status = exit_trouble;\n|
src/tools/varnock.cpp|std::signal(SIGXFSZ, SIG_IGN);|
src/tools/dump.cpp|std::min<unsigned long long>(readmax(), LLONG_MAX - off)|readmax()
src/tools/rawio.cpp|  if (r >= 0 && !samefile(r, st)) {|  if (r < 0) {
src/tools/rawio.cpp|now.st_dev == st.st_dev && |
src/tools/patch.cpp|t.known[i] = got == 1;|t.known[i] = got != 0;
src/tools/patch.cpp|bool closed = close(t.w) == 0;|bool closed = (close(t.w), true);
src/tools/dump.cpp|end > off ? end - off : 0|end - off
src/tools/regular.cpp|  if (!reservespan(t.w, from, to, size)) return exit_trouble;\n|
src/tools/regular.cpp|return got == 0 \|\| errno == EOPNOTSUPP \|\| errno == ENOSYS;|return true;
src/tools/regular.cpp|  if (!reservespan(t.w, from, to, size))|  if (!reservespan(t.w, off, off + j - i, size))
src/tools/regular.cpp|  if (to <= size && alldata(w, from, to)) return true;\n|
src/tools/regular.cpp|  if (roomerror(errno)) restore(t, off, count, upto, size, haveold);\n|
src/tools/regular.cpp|  if (st.st_size > size && ftruncate(t.w, size) != 0) ok = false;\n|
src/tools/regular.cpp|    failed = got < 0;\n|
src/tools/patch.cpp|    if (got < 0) good = false;\n|
src/tools/dump.cpp|  return INT_MAX & ~(page - 1);|  return INT_MAX;
src/tools/dump.cpp|    if (more <= 0) return more < 0;|    if (more <= 0) return false;
src/tools/varnock.cpp|  if (!modify && r >= 0 && !learnkind(r, file)) status = exit_trouble;|  if (!modify && r >= 0) learnkind(r, file);
src/tools/kind.cpp|  return f.end >= 0;\n}|  return true;\n}
src/tools/patch.cpp|if (getrlimit(RLIMIT_FSIZE, &lim) != 0) return false;|if (getrlimit(RLIMIT_FSIZE, &lim) != 0) return true;
src/tools/flash.cpp|return t.r < 0 ? Refusal::unread : pagesclean(t, off, count);|return t.r < 0 ? Refusal::unread : Refusal::none;|guest
src/tools/flash.cpp|return eccsince(fd, w) == Refusal::none && blocksgood|return blocksgood|guest
src/tools/flash.cpp|eccsince(fd, w) == Refusal::none && blocksgood(fd, f, from, to) == Refusal::none;|eccsince(fd, w) == Refusal::none;|guest
src/tools/flash.cpp|b <= (0ULL + to - 1) / size|b <= (0ULL + to) / size|guest
src/tools/flash.cpp|  if (why == Refusal::none && t.r >= 0) why = eccsince(t.r, w);\n||guest
src/tools/flash.cpp|Refusal why = blocksgood(t.r >= 0 ? t.r : t.w, t.file, off + i, off + j);|Refusal why = Refusal::none;|guest
src/tools/flash.cpp|return t.r < 0 ? Refusal::unread : pagesclean|return t.r < 0 ? Refusal::none : pagesclean|guest
src/tools/flash.cpp|return holds && eccsince(t.r, w) == Refusal::none ? exit_done|return holds ? exit_done|guest
src/tools/varnock.cpp|if (!scan(fd, data, set, count) \|\| !passwell(fd, file, watch))|if (!scan(fd, data, set, count))|guest
src/tools/varnock.cpp|bool well = passwell(fa, ka, wa) && passwell(fb, kb, wb);|bool well = true;|guest
src/tools/explain.cpp|bool well = passwell(a.r, a.file, wa) && passwell(b.r, b.file, wb);|bool well = true;|guest
src/tools/dump.cpp|    return f.end >= 0 && n < want;|    return false;|guest
src/tools/ubi.cpp|ok = changeleb(t.w, first + k, lebs + k * leb, leb);|ok = changeleb(t.w, first + k, lebs + k * leb, std::min<long long>(leb, off + j - (first + k) * leb));|guest
src/tools/ubi.cpp|    close(t.r);\n    t.wrote = true;|    t.wrote = true;|guest
src/tools/ubi.cpp|last = (0ULL + off + j - 1) / leb|last = (0ULL + off + j) / leb|guest
src/tools/patch.cpp|  if (!regularend(fd, t.file, t.end)) return false;\n||guest
src/tools/ubi.cpp|  return f.kind == Kind::fixedvolume ? Refusal::fixed : Refusal::none;|  return Refusal::none;|guest
src/tools/patch.cpp|  if (t.fsize >= 0 && off >= t.fsize - (j - 1)) return Refusal::fsize;|  if (t.fsize >= 0 && off > t.fsize - (j - 1)) return Refusal::fsize;
src/tools/view.cpp|  std::memcpy(copy + n, known, n);|  std::memset(copy + n, 1, n);
src/tools/explain.cpp|    if (p.readfailed) status = say("trouble", "a wildcard's read fails", exit_trouble);\n|
src/tools/dump.cpp|    return f.end;\n  case Kind::missing:|    return f.st.st_size;\n  case Kind::missing:
src/tools/scan.h|    s.matched = 0;\n    return false;|    bool again = s.matched > 0;\n    s.matched = 0;\n    if (!again \|\| (set[0] && data[0] != b)) return false;
src/tools/explain.cpp|  for (int k = f.pairs; k-- > 0;) {|  for (int k = 0; k < f.pairs; k++) {
src/tools/explain.cpp|*c == '\'' ? put("'\\''") : (void)std::putchar(*c);|(void)std::putchar(*c);
src/tools/regular.cpp|return e == ENOSPC \|\| e == EDQUOT \|\| e == EFBIG;|return e == ENOSPC \|\| e == EFBIG;
src/tools/regular.cpp|return data >= to \|\| (data < 0 && errno == ENXIO);|return data >= to;
src/tools/regular.cpp|return lseek(fd, from, SEEK_HOLE) >= to;|return lseek(fd, from, SEEK_HOLE) > to;
src/tools/regular.cpp|    return got == static_cast<ssize_t>(n);|    return got >= 0;
src/tools/rawio.cpp|  bool whole = got >= end - from;|  bool whole = got > 0;
src/tools/rawio.cpp|  if (!direct) {|  if (false) {
src/tools/patch.cpp|  bool held = how == Back::none \|\| holdswritten(t, how);|  bool held = true;
src/tools/flash.cpp|    if (first <= checked) why = Refusal::page;\n||guest
src/tools/ubi.cpp|      if (t.known[k]) lebs[off + k - first * leb] = data[k];|      lebs[off + k - first * leb] = data[k];|guest
TABLE
)

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
git ls-files -z --cached --others --exclude-standard | xargs -0 cp --parents -t "$scratch"
native() {
  cmake -S "$scratch" -B "$scratch/build" >/dev/null &&
    cmake --build "$scratch/build" -j2 >/dev/null 2>&1 &&
    ctest --test-dir "$scratch/build" -j2 >/dev/null 2>&1
}
guest() {
  (cd "$scratch" && for preset in armhf-static armel-static; do
    cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset" >/dev/null 2>&1 || exit 1
  done && bash tests/guest/run.sh build-guest >/dev/null 2>&1)
}
# Without a fault each suite must pass, or no verdict below means anything.
native || { echo "the native suite fails without any fault" >&2; exit 1; }
guest || { echo "the guest stage fails without any fault" >&2; exit 1; }

missed=0
while IFS= read -r row; do
  # "\|" stands for a "|" inside a field.
  IFS=$'\x1f' read -r file from to where <<<"$(sed 's/\\|/\x02/g; s/|/\x1f/g; s/\x02/|/g' <<<"$row")"
  cp "$scratch/$file" "$scratch/$file.orig"
  if ! FROM=$from TO=$to perl -0pi -e '
      my ($f, $t) = ($ENV{FROM}, $ENV{TO}); s/\\n/\n/g for $f, $t;
      $n = s/\Q$f\E/$t/; END { exit($n ? 0 : 1) }' "$scratch/$file"; then
    echo "does not apply any more: $row" >&2
    exit 1
  fi
  if ${where:-native}; then
    echo "MISSED  $row"
    missed=$((missed + 1))
  else
    echo "caught  $row"
  fi
  mv "$scratch/$file.orig" "$scratch/$file"
done <<<"$faults"
((missed == 0))
