#ifndef BENCH_COMPARISON_H_
#define BENCH_COMPARISON_H_

// Runs one benchmark case and reports it against a plain memcpy of its
// message bytes (counter "x_memcpy": our time over the copy's, so 1 would be
// as fast as copying the message) and against the peer doing the same work
// on the same content (counter "x_peer": our throughput over the peer's, so
// above 1 is faster).

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <ctime>
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

// The best seconds per run of each, from ten rounds of one batch each: they
// take turns, so that a disturbance on the machine meets all alike and only
// undisturbed batches count.
template <typename... Runs>
std::array<double, sizeof...(Runs)> BestSecondsPerRun(Runs&... runs) {
  std::array<double, sizeof...(Runs)> best;
  best.fill(1e9);
  for (int round = 0; round < 10; ++round) {
    size_t index = 0;
    ((best[index] = std::min(best[index], BatchSecondsPerRun(runs)), ++index),
     ...);
  }
  return best;
}

// A plain copy of `size` bytes between two buffers that stay in place.
class Copy {
 public:
  explicit Copy(size_t size) : source_(size, 0x5A), target_(size) {}
  uint8_t* operator()() {
    std::memcpy(target_.data(), source_.data(), source_.size());
    return target_.data();
  }

 private:
  std::vector<uint8_t> source_, target_;
};

// Runs `ours` in the library's loop, for the library's own columns.
template <typename Ours>
void RunLoop(benchmark::State& state, size_t message_size, Ours& ours) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(ours());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(message_size));
  state.counters["message_bytes"] = static_cast<double>(message_size);
}

// The ratios are measured once per case, although the library calls a case
// several times: each case's own closures make its own instantiation, with
// its own static.
template <typename Ours, typename Peer>
void RunCase(benchmark::State& state, size_t message_size, Ours ours,
             Peer peer) {
  RunLoop(state, message_size, ours);
  static const auto best = [&] {
    Copy copy(message_size);
    return BestSecondsPerRun(ours, peer, copy);
  }();
  state.counters["x_memcpy"] = best[0] / best[2];
  state.counters["x_peer"] = best[1] / best[0];
}

// A whole channel call, whose peer is msgpack-c decoding the call and
// encoding the reply: also the time per call ("call_ns") and how much of it
// lies beyond our codec doing the same ("beyond_codec_ns"); `message_size`
// counts the call's bytes and the reply's.
template <typename Ours, typename Peer, typename Codec>
void RunCallCase(benchmark::State& state, size_t message_size, Ours ours,
                 Peer peer, Codec codec) {
  RunLoop(state, message_size, ours);
  static const auto best = [&] {
    Copy copy(message_size);
    return BestSecondsPerRun(ours, peer, copy, codec);
  }();
  state.counters["x_memcpy"] = best[0] / best[2];
  state.counters["x_peer"] = best[1] / best[0];
  state.counters["call_ns"] = best[0] * 1e9;
  state.counters["beyond_codec_ns"] = (best[0] - best[3]) * 1e9;
}

}  // namespace bench

#endif  // BENCH_COMPARISON_H_
