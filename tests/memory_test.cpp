// Running out of memory is trouble in every tool, never a result: a run that
// cannot get its memory ends with status 2 and changes no file.
#include <gtest/gtest.h>

#include "cli.h"

namespace {

// A huge read is the dump's only large need; its pair shows as the offset alone.
TEST(OutOfMemory, Dump) {
  if (*cli::uncappable()) GTEST_SKIP() << cli::uncappable();
  cli::Folder dir;
  cli::put(dir.at("f"), "ABCDEFG");
  const cli::Options capped = {.memory = 256ULL << 20};
  cli::expect(cli::run({"varnock", "/dev/zero", "0", "0x7fffffff", "1", "1"}, dir.path, capped),
              "0\n1 00\n", 2);
  cli::expect(cli::run({"varnock", "f", "1", "0x7fffffffffffffff"}, dir.path, capped),
              "1 42 43 44 45 46 47\n", 0);
  cli::expect(cli::run({"varnock", "f", "9", "99999999999"}, dir.path, capped), "", 0);
}

// Search, patch and comparison grow their memory with a pattern or a run. Each
// case is capped a margin above what a twin run needs: the same tool, with
// arguments of the same size on the stack, but without the case's growth. The
// margin is less than that growth, so the case must run out.
TEST(OutOfMemory, GrowingTools) {
  if (*cli::uncappable()) GTEST_SKIP() << cli::uncappable();
  // Parsing it takes two buffers of 128 KiB; the twin's heap has room for one.
  const std::string longpattern(128 * 1024 - 1, 'a');
  const std::string pad = "PAD=" + std::string(longpattern.size() - 4, 'x');
  std::string mib(1 << 20, '\0'), flipped;
  for (std::size_t i = 0; i < mib.size(); i++) mib[i] = static_cast<char>(i * 7 % 256);
  for (char c : mib) flipped += static_cast<char>(~c);
  struct Starved {
    std::vector<std::string> twin, argv;
    std::string twinenv;
    unsigned long long margin;
  };
  const std::vector<Starved> cases = {
      // a difference run of 1 MiB in each file
      {{"varnock-cmp", "s", "s"}, {"varnock-cmp", "a", "flip"}, "", 512 << 10},
      {{"varnock-search", "empty", "41"}, {"varnock-search", "empty", longpattern}, pad, 64 << 10},
      {{"varnock", "modf", "-1", "61"}, {"varnock", "modf", "0", longpattern}, pad, 64 << 10},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(cli::joined(c.twin));
    cli::Folder dir;
    cli::putfiles(dir, {{"s", "AB"}, {"a", mib}, {"flip", flipped}, {"empty", ""}, {"modf", "AB"}});
    unsigned long long need = cli::smallest_cap(c.twin, dir.path, {.env = c.twinenv});
    ASSERT_GT(need, 0u) << "the twin run fails under any cap";
    cli::expect(cli::run(c.argv, dir.path, {.memory = need + c.margin}), "", 2);
    EXPECT_EQ(cli::get(dir.at("modf")), "AB");
  }
}

} // namespace
