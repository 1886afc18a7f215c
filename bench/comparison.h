#ifndef BENCH_COMPARISON_H_
#define BENCH_COMPARISON_H_

// Runs one benchmark case and reports it against a plain memcpy of its
// message bytes (counter "x_memcpy": our time over the copy's, so 1 would be
// as fast as copying the message) and against the peer doing the same work
// on the same content (counter "x_peer": our throughput over the peer's, so
// above 1 is faster).

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace bench {

// Processor time of this process, so that other load on the machine counts
// as little as it can; the benchmarks are single-threaded.
inline double CpuSeconds() {
  return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

// Seconds per run of `run` over one batch of at least 20 ms.
template <typename Run>
double BatchSecondsPerRun(Run& run) {
  size_t runs = 0;
  const double start = CpuSeconds();
  double elapsed = 0;
  do {
    for (int i = 0; i < 16; ++i) {
      benchmark::DoNotOptimize(run());
      benchmark::ClobberMemory();
    }
    runs += 16;
    elapsed = CpuSeconds() - start;
  } while (elapsed < 0.02);
  return elapsed / static_cast<double>(runs);
}

struct Timings {
  double ours = 1e9;
  double peer = 1e9;
  double copy = 1e9;
};

// The best seconds per run of each, from ten rounds of one batch each: the
// three take turns, so that a disturbance on the machine meets all alike
// and only undisturbed batches count.
template <typename Ours, typename Peer>
Timings Compare(Ours& ours, Peer& peer, size_t message_size) {
  std::vector<uint8_t> source(message_size, 0x5A), target(message_size);
  auto copy = [&] {
    std::memcpy(target.data(), source.data(), message_size);
    return target.data();
  };
  Timings best;
  for (int round = 0; round < 10; ++round) {
    best.ours = std::min(best.ours, BatchSecondsPerRun(ours));
    best.peer = std::min(best.peer, BatchSecondsPerRun(peer));
    best.copy = std::min(best.copy, BatchSecondsPerRun(copy));
  }
  return best;
}

// Runs `ours` in the library's loop and adds the two ratios. They are
// measured once per case, although the library calls a case several times:
// each case's own closures make its own instantiation, with its own static.
template <typename Ours, typename Peer>
void RunCase(benchmark::State& state, size_t message_size, Ours ours,
             Peer peer) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(ours());
    benchmark::ClobberMemory();
  }
  static const Timings timings = Compare(ours, peer, message_size);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(message_size));
  state.counters["x_memcpy"] = timings.ours / timings.copy;
  state.counters["x_peer"] = timings.peer / timings.ours;
  state.counters["message_bytes"] = static_cast<double>(message_size);
}

}  // namespace bench

#endif  // BENCH_COMPARISON_H_
