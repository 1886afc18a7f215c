// Throughput of the message encoding on the channel's heaviest messages,
// against a plain memcpy of the same bytes and against msgpack-c doing the
// same work on the same content (see bench/comparison.h).

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bench/comparison.h"
#include "bench/content.h"
#include "bench/msgpack_peer.h"
#include "codec/byte_streams.h"
#include "codec/encodable_value.h"
#include "codec/method_call.h"
#include "codec/standard_codec_serializer.h"
#include "codec/standard_method_codec.h"

namespace {

using bench::RunCase;
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

std::vector<uint8_t> Serialize(const EncodableValue& value) {
  std::vector<uint8_t> bytes;
  ByteBufferStreamWriter writer(&bytes);
  StandardCodecSerializer::GetInstance().WriteValue(value, &writer);
  return bytes;
}

EncodableValue Deserialize(const std::vector<uint8_t>& bytes) {
  ByteBufferStreamReader reader(bytes.data(), bytes.size());
  return StandardCodecSerializer::GetInstance().ReadValue(&reader);
}

void BM_GetLogsEnvelopeEncode(benchmark::State& state) {
  const std::vector<std::string> peer_lines = bench::PersianLogLines();
  const EncodableValue lines = bench::AsList(peer_lines);
  RunCase(
      state, Codec().EncodeSuccessEnvelope(&lines)->size(),
      [&] { return Codec().EncodeSuccessEnvelope(&lines); },
      [&] { return peer::EncodeLines(peer_lines); });
}

void BM_GetLogsEnvelopeDecode(benchmark::State& state) {
  const EncodableValue lines = bench::AsList(bench::PersianLogLines());
  const auto envelope = Codec().EncodeSuccessEnvelope(&lines);
  const peer::Bytes peer_bytes = peer::Pack(lines);
  RunCase(
      state, envelope->size(),
      [&] {
        CountingResult result;
        Codec().DecodeResponseEnvelope(envelope->data(), envelope->size(),
                                       &result);
        return result.elements;
      },
      [&] { return peer::DecodeLines(peer_bytes); });
}

void BM_StartXrayCallEncode(benchmark::State& state) {
  const MethodCall<> call = StartXrayCall();
  const peer::StartXrayCall peer_call = PeerStartXrayCall();
  RunCase(
      state, Codec().EncodeMethodCall(call)->size(),
      [&] { return Codec().EncodeMethodCall(call); },
      [&] { return peer::EncodeStartXray(peer_call); });
}

void BM_StartXrayCallDecode(benchmark::State& state) {
  const auto message = Codec().EncodeMethodCall(StartXrayCall());
  const peer::Bytes peer_bytes =
      peer::EncodeStartXray(PeerStartXrayCall()).Copy();
  RunCase(
      state, message->size(),
      [&] { return Codec().DecodeMethodCall(*message); },
      [&] { return peer::DecodeStartXray(peer_bytes); });
}

void BM_MixedMapEncode(benchmark::State& state) {
  const EncodableValue map = MixedMap();
  const peer::Tree peer_map(peer::Pack(map));
  RunCase(
      state, Serialize(map).size(), [&] { return Serialize(map); },
      [&] { return peer::EncodeTree(peer_map.root()); });
}

void BM_MixedMapDecode(benchmark::State& state) {
  const std::vector<uint8_t> bytes = Serialize(MixedMap());
  const peer::Bytes peer_bytes = peer::Pack(MixedMap());
  RunCase(
      state, bytes.size(), [&] { return Deserialize(bytes); },
      [&] { return peer::Tree(peer_bytes).root().via.map.size; });
}

// A map whose two keys are lists nested `depth` deep that differ only at
// the bottom: decoding orders them, which must cost in proportion to the
// depth (time per depth unit stays flat as the depth grows).
void BM_DeepKeysDecode(benchmark::State& state) {
  const auto depth = static_cast<int>(state.range(0));
  EncodableValue first = 1, second = 2;
  for (int i = 0; i < depth; ++i) {
    first = EncodableList{first};
    second = EncodableList{second};
  }
  const std::vector<uint8_t> bytes =
      Serialize(EncodableMap{{first, true}, {second, false}});
  auto decode = [&] { return Deserialize(bytes); };
  bench::RunLoop(state, bytes.size(), decode);
  state.counters["s_per_level"] =
      benchmark::Counter(static_cast<double>(depth),
                         benchmark::Counter::kIsIterationInvariantRate |
                             benchmark::Counter::kInvert);
}

BENCHMARK(BM_GetLogsEnvelopeEncode);
BENCHMARK(BM_GetLogsEnvelopeDecode);
BENCHMARK(BM_StartXrayCallEncode);
BENCHMARK(BM_StartXrayCallDecode);
BENCHMARK(BM_MixedMapEncode);
BENCHMARK(BM_MixedMapDecode);
BENCHMARK(BM_DeepKeysDecode)->Arg(16)->Arg(64);

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
