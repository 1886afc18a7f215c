// Throughput of the message encoding on the channel's heaviest messages,
// each also expressed as a multiple of a plain memcpy of the same bytes
// (counter "x_memcpy": 1 would mean as fast as copying the message).

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <string>
#include <vector>

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

// Seconds one memcpy of `size` bytes takes: the best average of ten
// batches of about 20 ms, so that a disturbed batch does not count.
double MeasureMemcpySeconds(size_t size) {
  std::vector<uint8_t> source(size, 0x5A), target(size);
  double best = 1e9;
  for (int batch = 0; batch < 10; ++batch) {
    size_t copies = 0;
    const double start = CpuSeconds();
    double elapsed = 0;
    while (elapsed < 0.02) {
      for (int i = 0; i < 16; ++i) {
        std::memcpy(target.data(), source.data(), size);
        benchmark::ClobberMemory();
      }
      copies += 16;
      elapsed = CpuSeconds() - start;
    }
    best = std::min(best, elapsed / copies);
  }
  return best;
}

// Measured once per size: the library runs each benchmark several times.
double MemcpySeconds(size_t size) {
  static std::map<size_t, double> measured;
  auto found = measured.find(size);
  if (found == measured.end()) {
    found = measured.emplace(size, MeasureMemcpySeconds(size)).first;
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

// Reports the message size per iteration and the time per iteration as a
// multiple of copying that many bytes.
void Report(benchmark::State& state, const LoopTimer& timer,
            size_t message_size) {
  const double loop_seconds = timer.Seconds();
  const auto iterations = static_cast<double>(state.iterations());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(message_size));
  state.counters["x_memcpy"] =
      loop_seconds / iterations / MemcpySeconds(message_size);
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

EncodableValue StartXrayArguments() {
  std::string config = "{\"inbounds\":[";
  while (config.size() < 50 * 1024) {
    config +=
        "{\"port\":10808,\"protocol\":\"socks\",\"settings\":{\"udp\":true}},";
  }
  config += "{}]}";
  return EncodableMap{
      {"config", config}, {"systemProxy", true}, {"localPort", int32_t{10808}}};
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
  size_t size = 0;
  const LoopTimer timer;
  for (auto _ : state) {
    auto envelope = Codec().EncodeSuccessEnvelope(&lines);
    size = envelope->size();
    benchmark::DoNotOptimize(envelope->data());
  }
  Report(state, timer, size);
}

void BM_GetLogsEnvelopeDecode(benchmark::State& state) {
  const EncodableValue lines = PersianLogLines();
  const auto envelope = Codec().EncodeSuccessEnvelope(&lines);
  const LoopTimer timer;
  for (auto _ : state) {
    CountingResult result;
    Codec().DecodeResponseEnvelope(envelope->data(), envelope->size(), &result);
    benchmark::DoNotOptimize(result.elements);
  }
  Report(state, timer, envelope->size());
}

void BM_StartXrayCallEncode(benchmark::State& state) {
  const MethodCall<> call(
      "startXray", std::make_unique<EncodableValue>(StartXrayArguments()));
  size_t size = 0;
  const LoopTimer timer;
  for (auto _ : state) {
    auto message = Codec().EncodeMethodCall(call);
    size = message->size();
    benchmark::DoNotOptimize(message->data());
  }
  Report(state, timer, size);
}

void BM_StartXrayCallDecode(benchmark::State& state) {
  const MethodCall<> call(
      "startXray", std::make_unique<EncodableValue>(StartXrayArguments()));
  const auto message = Codec().EncodeMethodCall(call);
  const LoopTimer timer;
  for (auto _ : state) {
    auto decoded = Codec().DecodeMethodCall(*message);
    benchmark::DoNotOptimize(decoded->arguments());
  }
  Report(state, timer, message->size());
}

void BM_MixedMapEncode(benchmark::State& state) {
  const EncodableValue map = MixedMap();
  size_t size = 0;
  const LoopTimer timer;
  for (auto _ : state) {
    std::vector<uint8_t> bytes;
    ByteBufferStreamWriter writer(&bytes);
    StandardCodecSerializer::GetInstance().WriteValue(map, &writer);
    size = bytes.size();
    benchmark::DoNotOptimize(bytes.data());
  }
  Report(state, timer, size);
}

void BM_MixedMapDecode(benchmark::State& state) {
  std::vector<uint8_t> bytes;
  ByteBufferStreamWriter writer(&bytes);
  StandardCodecSerializer::GetInstance().WriteValue(MixedMap(), &writer);
  const LoopTimer timer;
  for (auto _ : state) {
    ByteBufferStreamReader reader(bytes.data(), bytes.size());
    EncodableValue value =
        StandardCodecSerializer::GetInstance().ReadValue(&reader);
    benchmark::DoNotOptimize(value.index());
  }
  Report(state, timer, bytes.size());
}

BENCHMARK(BM_GetLogsEnvelopeEncode);
BENCHMARK(BM_GetLogsEnvelopeDecode);
BENCHMARK(BM_StartXrayCallEncode);
BENCHMARK(BM_StartXrayCallDecode);
BENCHMARK(BM_MixedMapEncode);
BENCHMARK(BM_MixedMapDecode);

}  // namespace

BENCHMARK_MAIN();
