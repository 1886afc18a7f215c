// Throughput of the message encoding on the channel's heaviest messages,
// each also expressed as a multiple of a plain memcpy of the same bytes
// (counter "x_memcpy": 1 would mean as fast as copying the message) and
// against msgpack-c doing the same work on the same content in the same run
// (counter "x_peer": our throughput over the peer's, so above 1 is faster).

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/msgpack_peer.h"
#include "codec/byte_streams.h"
#include "codec/encodable_value.h"
#include "codec/method_call.h"
#include "codec/standard_codec_serializer.h"
#include "codec/standard_method_codec.h"

namespace {

using flutter::ByteBufferStreamReader;
using flutter::ByteBufferStreamWriter;
using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;
using flutter::MethodCall;
using flutter::MethodResult;
using flutter::StandardCodecSerializer;
using flutter::StandardMethodCodec;

const StandardMethodCodec& Codec() {
  return StandardMethodCodec::GetInstance();
}

// Processor time of this process, so that other load on the machine does
// not count; the benchmarks are single-threaded.
double CpuSeconds() {
  return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

// Seconds one call of `run` takes: the best average of ten batches of about
// 20 ms, so that a disturbed batch does not count.
template <typename Run>
double BestSecondsPerRun(Run run) {
  double best = 1e9;
  for (int batch = 0; batch < 10; ++batch) {
    size_t runs = 0;
    const double start = CpuSeconds();
    double elapsed = 0;
    while (elapsed < 0.02) {
      for (int i = 0; i < 16; ++i) run();
      runs += 16;
      elapsed = CpuSeconds() - start;
    }
    best = std::min(best, elapsed / runs);
  }
  return best;
}

// Measured once per size: the library runs each benchmark several times.
double MemcpySeconds(size_t size) {
  static std::map<size_t, double> measured;
  auto found = measured.find(size);
  if (found == measured.end()) {
    std::vector<uint8_t> source(size, 0x5A), target(size);
    const double seconds = BestSecondsPerRun([&] {
      std::memcpy(target.data(), source.data(), size);
      benchmark::ClobberMemory();
    });
    found = measured.emplace(size, seconds).first;
  }
  return found->second;
}

// The peer's seconds per run of one case, measured once per case.
template <typename Run>
double PeerSeconds(const std::string& peer_case, Run run) {
  static std::map<std::string, double> measured;
  auto found = measured.find(peer_case);
  if (found == measured.end()) {
    const double seconds = BestSecondsPerRun([&] {
      auto result = run();
      benchmark::DoNotOptimize(result);
      benchmark::ClobberMemory();
    });
    found = measured.emplace(peer_case, seconds).first;
  }
  return found->second;
}

// Times the benchmark loop on the same clock as the memcpy baseline.
class LoopTimer {
 public:
  double Seconds() const { return CpuSeconds() - start_; }

 private:
  double start_ = CpuSeconds();
};

// Reports the message size per iteration, the time per iteration as a
// multiple of copying that many bytes, and the peer's time for the same
// content over ours.
void Report(benchmark::State& state, const LoopTimer& timer,
            size_t message_size, double peer_seconds) {
  const double seconds =
      timer.Seconds() / static_cast<double>(state.iterations());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(message_size));
  state.counters["x_memcpy"] = seconds / MemcpySeconds(message_size);
  state.counters["x_peer"] = peer_seconds / seconds;
  state.counters["message_bytes"] = static_cast<double>(message_size);
}

EncodableValue PersianLogLines() {
  const char* const kLines[] = {
      "هسته Xray با موفقیت اجرا شد",
      "پروکسی سیستم روی پورت محلی فعال شد",
      "در حال دریافت آخرین نسخه هسته از مخزن رسمی",
      "هسته متوقف شد و پروکسی سیستم غیرفعال شد",
  };
  EncodableList lines;
  lines.reserve(10000);
  for (int i = 0; i < 10000; ++i) {
    lines.emplace_back("[" + std::to_string(i) + "] " + kLines[i % 4]);
  }
  return EncodableValue(std::move(lines));
}

std::vector<std::string> AsStrings(const EncodableValue& lines) {
  std::vector<std::string> strings;
  for (const EncodableValue& line : std::get<EncodableList>(lines)) {
    strings.push_back(std::get<std::string>(line));
  }
  return strings;
}

std::string StartXrayConfig() {
  std::string config = "{\"inbounds\":[";
  while (config.size() < 50 * 1024) {
    config +=
        "{\"port\":10808,\"protocol\":\"socks\",\"settings\":{\"udp\":true}},";
  }
  return config + "{}]}";
}

peer::StartXrayCall PeerStartXrayCall() {
  return {"startXray", StartXrayConfig(), true, 10808};
}

MethodCall<> StartXrayCall() {
  const peer::StartXrayCall plain = PeerStartXrayCall();
  return MethodCall<>(plain.method,
                      std::make_unique<EncodableValue>(
                          EncodableMap{{"config", plain.config},
                                       {"systemProxy", plain.system_proxy},
                                       {"localPort", plain.local_port}}));
}

EncodableValue MixedMap() {
  EncodableMap map;
  for (int32_t i = 0; i < 3000; ++i) {
    EncodableValue key =
        i % 2 ? EncodableValue("key-" + std::to_string(i)) : EncodableValue(i);
    EncodableValue value;
    switch (i % 6) {
      case 0:
        value = i;
        break;
      case 1:
        value = i * 0.5;
        break;
      case 2:
        value = "value " + std::to_string(i);
        break;
      case 3:
        value = int64_t{i} << 33;
        break;
      case 4:
        value = std::vector<double>{1.0, 2.0, double(i)};
        break;
      default:
        value = EncodableList{i % 3 == 0, "x", std::vector<uint8_t>(16)};
    }
    map.emplace(std::move(key), std::move(value));
  }
  return EncodableValue(std::move(map));
}

// Counts what a decoded reply holds, without copying it.
class CountingResult : public MethodResult<> {
 public:
  size_t elements = 0;

 protected:
  void SuccessInternal(const EncodableValue* result) override {
    elements = std::get<EncodableList>(*result).size();
  }
  void ErrorInternal(const std::string&, const std::string&,
                     const EncodableValue*) override {}
  void NotImplementedInternal() override {}
};

void BM_GetLogsEnvelopeEncode(benchmark::State& state) {
  const EncodableValue lines = PersianLogLines();
  const std::vector<std::string> peer_lines = AsStrings(lines);
  const double peer_seconds = PeerSeconds(
      "getLogs encode", [&] { return peer::EncodeLines(peer_lines).size(); });
  size_t size = 0;
  const LoopTimer timer;
  for (auto _ : state) {
    auto envelope = Codec().EncodeSuccessEnvelope(&lines);
    size = envelope->size();
    benchmark::DoNotOptimize(envelope->data());
  }
  Report(state, timer, size, peer_seconds);
}

void BM_GetLogsEnvelopeDecode(benchmark::State& state) {
  const EncodableValue lines = PersianLogLines();
  const auto envelope = Codec().EncodeSuccessEnvelope(&lines);
  const peer::Bytes peer_bytes = peer::Pack(lines);
  const double peer_seconds = PeerSeconds(
      "getLogs decode", [&] { return peer::DecodeLines(peer_bytes).size(); });
  const LoopTimer timer;
  for (auto _ : state) {
    CountingResult result;
    Codec().DecodeResponseEnvelope(envelope->data(), envelope->size(), &result);
    benchmark::DoNotOptimize(result.elements);
  }
  Report(state, timer, envelope->size(), peer_seconds);
}

void BM_StartXrayCallEncode(benchmark::State& state) {
  const MethodCall<> call = StartXrayCall();
  const peer::StartXrayCall peer_call = PeerStartXrayCall();
  const double peer_seconds = PeerSeconds("startXray encode", [&] {
    return peer::EncodeStartXray(peer_call).size();
  });
  size_t size = 0;
  const LoopTimer timer;
  for (auto _ : state) {
    auto message = Codec().EncodeMethodCall(call);
    size = message->size();
    benchmark::DoNotOptimize(message->data());
  }
  Report(state, timer, size, peer_seconds);
}

void BM_StartXrayCallDecode(benchmark::State& state) {
  const auto message = Codec().EncodeMethodCall(StartXrayCall());
  const peer::Bytes peer_bytes =
      peer::EncodeStartXray(PeerStartXrayCall()).Copy();
  const double peer_seconds = PeerSeconds("startXray decode", [&] {
    return peer::DecodeStartXray(peer_bytes).config.size();
  });
  const LoopTimer timer;
  for (auto _ : state) {
    auto decoded = Codec().DecodeMethodCall(*message);
    benchmark::DoNotOptimize(decoded->arguments());
  }
  Report(state, timer, message->size(), peer_seconds);
}

void BM_MixedMapEncode(benchmark::State& state) {
  const EncodableValue map = MixedMap();
  const peer::Tree peer_map(peer::Pack(map));
  const double peer_seconds = PeerSeconds("mixed map encode", [&] {
    return peer::EncodeTree(peer_map.root()).size();
  });
  size_t size = 0;
  const LoopTimer timer;
  for (auto _ : state) {
    std::vector<uint8_t> bytes;
    ByteBufferStreamWriter writer(&bytes);
    StandardCodecSerializer::GetInstance().WriteValue(map, &writer);
    size = bytes.size();
    benchmark::DoNotOptimize(bytes.data());
  }
  Report(state, timer, size, peer_seconds);
}

void BM_MixedMapDecode(benchmark::State& state) {
  const EncodableValue map = MixedMap();
  std::vector<uint8_t> bytes;
  ByteBufferStreamWriter writer(&bytes);
  StandardCodecSerializer::GetInstance().WriteValue(map, &writer);
  const peer::Bytes peer_bytes = peer::Pack(map);
  const double peer_seconds = PeerSeconds("mixed map decode", [&] {
    return peer::Tree(peer_bytes).root().via.map.size;
  });
  const LoopTimer timer;
  for (auto _ : state) {
    ByteBufferStreamReader reader(bytes.data(), bytes.size());
    EncodableValue value =
        StandardCodecSerializer::GetInstance().ReadValue(&reader);
    benchmark::DoNotOptimize(value.index());
  }
  Report(state, timer, bytes.size(), peer_seconds);
}

BENCHMARK(BM_GetLogsEnvelopeEncode);
BENCHMARK(BM_GetLogsEnvelopeDecode);
BENCHMARK(BM_StartXrayCallEncode);
BENCHMARK(BM_StartXrayCallDecode);
BENCHMARK(BM_MixedMapEncode);
BENCHMARK(BM_MixedMapDecode);

}  // namespace

int main(int argc, char** argv) {
  // Memory that was once obtained stays with the process, so that every
  // case, ours and the peer's, measures the codec rather than the kernel
  // mapping fresh pages, whatever ran before it.
  mallopt(M_MMAP_THRESHOLD, 256 << 20);
  mallopt(M_TRIM_THRESHOLD, 1 << 30);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
