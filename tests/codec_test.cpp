#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "hexcodec.h"

namespace {

std::string render(const std::vector<unsigned> &bytes, long count) {
  std::vector<unsigned char> b(bytes.begin(), bytes.end());
  return tohex(b.data(), count);
}

// Rendering: one space and two lowercase digits per byte, nothing else.
TEST(Tohex, RendersRuns) {
  struct Case {
    std::vector<unsigned> bytes;
    long count;
    std::string text;
  } cases[] = {
      {{0xde, 0xad, 0x0b}, 3, " de ad 0b"},
      {{0x00}, 1, " 00"},
      {{0xff}, 1, " ff"},
      {{0x80, 0x7f, 0x81}, 3, " 80 7f 81"},
      {{0xde, 0xad, 0xbe, 0xef, 0x01}, 5, " de ad be ef 01"},
      {{0, 1, 2, 3, 4, 5, 6, 0xf7}, 8, " 00 01 02 03 04 05 06 f7"},
      {{0, 1, 2, 3, 4, 5, 6, 0xf7}, 7, " 00 01 02 03 04 05 06"},
      {{0x41, 0x42}, 1, " 41"},
      {{0x41}, 0, ""},
      {{0x41}, -1, ""},
  };
  for (const auto &c : cases) EXPECT_EQ(render(c.bytes, c.count), c.text) << c.text;
}

// Bytes at and above 0x80 must never come out as negative values.
TEST(Tohex, EveryByteValue) {
  std::vector<unsigned char> all(256);
  for (unsigned b = 0; b < 256; b++) all[b] = static_cast<unsigned char>(b);
  std::string text = tohex(all.data(), 256);
  ASSERT_EQ(text.size(), 768u);
  const char *digits = "0123456789abcdef";
  for (unsigned b = 0; b < 256; b++) {
    std::string want = {' ', digits[b >> 4], digits[b & 15]};
    EXPECT_EQ(text.substr(3 * b, 3), want) << b;
  }
}

// The text of one call is usable until the next call, which replaces it.
TEST(Tohex, EachCallReplacesTheText) {
  const unsigned char one[] = {1}, two[] = {2, 3};
  std::string first = tohex(one, 1);
  std::string second = tohex(two, 2);
  EXPECT_EQ(first, " 01");
  EXPECT_EQ(second, " 02 03");
  EXPECT_NE(tohex(one, 0), nullptr);
  // A shorter text after a longer one ends at its own length.
  EXPECT_STREQ(tohex(one, 1), " 01");
}

TEST(Hexc, DigitsAndMasking) {
  EXPECT_EQ(hexc(0), '0');
  EXPECT_EQ(hexc(9), '9');
  EXPECT_EQ(hexc(10), 'a');
  EXPECT_EQ(hexc(15), 'f');
  EXPECT_EQ(hexc(0x1f), 'f'); // stays inside the alphabet
}

struct Parsed {
  std::vector<unsigned> data, set;
};

Parsed parse(const char *text) {
  long count = -1;
  unsigned char *set = nullptr;
  unsigned char *data = fromhex(text, count, set);
  Parsed p;
  for (long i = 0; i < count; i++) {
    p.set.push_back(set[i]);
    p.data.push_back(set[i] ? data[i] : 0x100); // 0x100 marks a wildcard
  }
  return p;
}

constexpr unsigned W = 0x100;

// Pattern syntax: separators anywhere, wildcards where met, lone digits dropped.
TEST(Fromhex, PatternSyntax) {
  struct Case {
    const char *text;
    std::vector<unsigned> data;
  } cases[] = {
      {"", {}},
      {", ,", {}},
      {"a", {}},
      {"deadbeef", {0xde, 0xad, 0xbe, 0xef}},
      {"de ad be ef", {0xde, 0xad, 0xbe, 0xef}},
      {"de,ad,be,ef", {0xde, 0xad, 0xbe, 0xef}},
      {"d e a d b e e f", {0xde, 0xad, 0xbe, 0xef}},
      {"de.ad", {0xde, W, 0xad}},
      {"a.b", {W, 0xab}},
      {"...", {W, W, W}},
      {"abc", {0xab}},
      {"AB", {0xab}},
      {"80 ff 7f", {0x80, 0xff, 0x7f}},
      {"5.z", {W, 0x05}}, // a stop inside a pair is a position of its own
  };
  for (const auto &c : cases) {
    Parsed p = parse(c.text);
    EXPECT_EQ(p.data, c.data) << "'" << c.text << "'";
    for (size_t i = 0; i < p.set.size(); i++) EXPECT_EQ(p.set[i], c.data[i] == W ? 0u : 1u);
  }
}

// A pair converts as strtol with base 16 on its two characters, low eight bits kept.
TEST(Fromhex, PairConversion) {
  struct Case {
    const char *text;
    unsigned value;
  } cases[] = {
      {"zz", 0x00},
      {"5z", 0x05},
      {"z5", 0x00},
      {"0x", 0x00},
      {"0X", 0x00},
      {"-1", 0xff},
      {"-f", 0xf1},
      {"+7", 0x07},
      {"\t5", 0x05},
      {"\n\t", 0x00},
      {"Ff", 0xff},
      {"fF", 0xff},
      {"g1", 0x00},
      {"1g", 0x01},
      // Characters above 0x7f are no digits whether char is signed or not.
      {"\3515", 0x00},
      {"5\351", 0x05},
      {"\2405", 0x00},
      {"\377\377", 0x00},
  };
  for (const auto &c : cases) {
    Parsed p = parse(c.text);
    EXPECT_EQ(p.data, std::vector<unsigned>{c.value}) << "'" << c.text << "'";
  }
  // Every pair of characters that are not separators, against the C library's own strtol.
  for (int a = 1; a < 256; a++)
    for (int b = 1; b < 256; b++) {
      const char text[3] = {static_cast<char>(a), static_cast<char>(b), 0};
      if (std::strpbrk(text, " ,.")) continue;
      Parsed p = parse(text);
      auto want = static_cast<unsigned char>(std::strtol(text, nullptr, 16));
      ASSERT_EQ(p.data, std::vector<unsigned>{want}) << a << " " << b;
    }
}

// A second call replaces the first call's buffers; callers may write into the data.
TEST(Fromhex, EachCallReplacesTheResult) {
  long count;
  unsigned char *set;
  unsigned char *data = fromhex("aa.", count, set);
  ASSERT_EQ(count, 2);
  data[1] = 0x42;
  EXPECT_STREQ(tohex(data, count), " aa 42");
  data = fromhex("bb", count, set);
  ASSERT_EQ(count, 1);
  EXPECT_EQ(data[0], 0xbb);
  EXPECT_EQ(set[0], 1);
}

// Patterns of any length, and the round trip through the text a dump prints.
TEST(Fromhex, LongPatternRoundTrip) {
  std::vector<unsigned char> bytes(400000); // a pattern of 1.2 million characters
  for (size_t i = 0; i < bytes.size(); i++) bytes[i] = static_cast<unsigned char>(i * 7);
  std::string text = tohex(bytes.data(), static_cast<long>(bytes.size()));
  long count;
  unsigned char *set;
  unsigned char *data = fromhex(text.c_str(), count, set);
  ASSERT_EQ(count, static_cast<long>(bytes.size()));
  EXPECT_EQ(std::vector<unsigned char>(data, data + count), bytes);
  EXPECT_EQ(std::vector<unsigned char>(set, set + count), std::vector<unsigned char>(count, 1));
}

} // namespace
