// Throughput of the hex codec, in bytes of input per second.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "hexcodec.h"

namespace {

std::vector<unsigned char> somebytes(size_t n) {
  std::vector<unsigned char> v(n);
  unsigned x = 12345;
  for (auto &b : v) b = static_cast<unsigned char>((x = x * 1103515245 + 12345) >> 16);
  return v;
}

void tohex_bench(benchmark::State &state) {
  auto bytes = somebytes(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    const char *text = tohex(bytes.data(), static_cast<long>(bytes.size()));
    benchmark::DoNotOptimize(text);
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

// The input is the text a dump prints, with a wildcard every eighth byte.
void fromhex_bench(benchmark::State &state) {
  auto bytes = somebytes(static_cast<size_t>(state.range(0)) / 3);
  std::string text = tohex(bytes.data(), static_cast<long>(bytes.size()));
  for (size_t i = 1; i < text.size(); i += 24) text[i] = '.', text[i + 1] = ' ';
  for (auto _ : state) {
    long count;
    unsigned char *set;
    benchmark::DoNotOptimize(fromhex(text.c_str(), count, set));
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}

} // namespace

BENCHMARK(tohex_bench)->Arg(4096)->Arg(1 << 20)->Arg(64 << 20);
BENCHMARK(fromhex_bench)->Arg(4096)->Arg(1 << 20);
BENCHMARK_MAIN();
