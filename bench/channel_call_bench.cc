// Whole channel calls: the message bytes of a call on "zorvane/xray" through
// the messenger and the method channel to the dispatcher, which answers from
// the core manager over the fake platform, and the reply bytes back to the
// engine's side of the messenger, which copies them once. The peer is
// msgpack-c decoding the same call and encoding the same reply, codec work
// alone; "beyond_codec_ns" is what the call costs beyond our codec doing the
// same (the channel, the dispatcher, the log's copy, the reply's copy).

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_engine.h"
#include "bench/comparison.h"
#include "bench/content.h"
#include "bench/msgpack_peer.h"
#include "codec/encodable_value.h"
#include "codec/method_call.h"
#include "codec/standard_method_codec.h"
#include "core/core_manager.h"
#include "core/platform.h"
#include "core/xray_channel_handler.h"
#include "messaging/binary_messenger_impl.h"
#include "messaging/method_channel.h"

namespace {

using bench::RunCallCase;
using flutter::EncodableMap;
using flutter::EncodableValue;
using flutter::MethodCall;
using flutter::StandardMethodCodec;

const StandardMethodCodec& Codec() {
  return StandardMethodCodec::GetInstance();
}

// The machine as the traffic figures read it, answered as the tests' fake
// platform answers but without recording each call as text: the product's
// platform records nothing, and the records would be the fake's cost rather
// than the call's. What the two cases never reach fails.
class BenchPlatform : public core::Platform {
 public:
  std::vector<core::InterfaceRow> rows;
  uint64_t tick = 0;

  uint32_t ModuleFileName(wchar_t* buffer, uint32_t size) override {
    const std::wstring name = L"C:\\Apps\\Client\\client.exe";
    const size_t units = std::min<size_t>(name.size(), size);
    std::copy_n(name.begin(), units, buffer);
    return static_cast<uint32_t>(units);
  }
  std::unique_ptr<core::RegistryKey> OpenCurrentUserKey(
      const std::wstring&) override {
    return nullptr;
  }
  std::unique_ptr<core::RegistryKey> CreateCurrentUserKey(
      const std::wstring&) override {
    return nullptr;
  }
  long ReadCurrentUserValue(const std::wstring&, const std::wstring&, uint32_t*,
                            std::vector<uint8_t>*) override {
    return 2;  // Absent: no proxy of the host's own to check.
  }
  void NotifyInternetOption(uint32_t) override {}
  // As GetIfTable without a buffer answers: 122, insufficient buffer, with
  // the size the table needs.
  uint32_t InterfaceTableSize(uint32_t* size) override {
    *size = 1000;
    return 122;
  }
  uint32_t ReadInterfaceTable(uint32_t,
                              std::vector<core::InterfaceRow>* out) override {
    *out = rows;
    return 0;
  }
  bool ListeningTcpSockets(std::vector<core::TcpListener>*) override {
    return false;
  }
  uint64_t TickCount() override { return tick; }
  std::unique_ptr<core::Process> StartHiddenProcess(
      const std::wstring&, const std::wstring&) override {
    return nullptr;
  }
  std::wstring SystemDirectory() override { return {}; }
  bool ProcessesWithImage(
      const std::wstring&,
      std::vector<std::unique_ptr<core::Process>>*) override {
    return false;
  }
  uint32_t CurrentProcessId() override { return 1; }
  bool ProcessIds(std::vector<uint32_t>*) override { return false; }
  std::unique_ptr<core::NamedObject> CreateNamedMutex(
      const std::wstring&) override {
    return nullptr;
  }
  bool NamedMutexExists(const std::wstring&) override { return false; }
  void Sleep(uint32_t) override {}
  long DownloadToFile(const std::wstring&, const std::wstring&) override {
    return -1;
  }
  std::wstring ShortPathName(const std::wstring&) override { return {}; }
  bool CopyOneFile(const std::wstring&, const std::wstring&, bool) override {
    return false;
  }
};

// The host's channel as the host window opens it, on the benchmark's engine.
class Channel {
 public:
  Channel() {
    channel_.SetMethodCallHandler(core::XrayChannelHandler(manager_));
    platform_.rows = {{/*type=*/6, /*operStatus=*/5, 0, 0}};
  }

  core::ActivityLog& log() { return manager_.log(); }

  // The reply's size. Between calls the interface counters and the clock
  // move on, so that the rates are worked out afresh.
  size_t Call(const std::vector<uint8_t>& message) {
    platform_.tick += 1000;
    platform_.rows[0].inOctets += 125000;
    platform_.rows[0].outOctets += 25000;
    return bench_engine::DeliverMessage(name_.c_str(), message);
  }

 private:
  const std::string name_ = core::kXrayChannelName;
  BenchPlatform platform_;
  core::CoreManager manager_{platform_};
  flutter::BinaryMessengerImpl messenger_{bench_engine::kMessenger};
  flutter::MethodChannel channel_{&messenger_, name_, &Codec()};
};

std::vector<uint8_t> CallBytes(const std::string& method) {
  return *Codec().EncodeMethodCall(MethodCall<>(method, nullptr));
}

// Our codec's own part of a call: decoding it and encoding its reply.
size_t CodecPart(const std::vector<uint8_t>& call,
                 const EncodableValue& reply) {
  const auto decoded = Codec().DecodeMethodCall(call);
  return decoded->method_name().size() +
         Codec().EncodeSuccessEnvelope(&reply)->size();
}

void BM_GetTrafficStatsCall(benchmark::State& state) {
  Channel channel;
  const std::vector<uint8_t> call = CallBytes("getTrafficStats");
  const peer::Bytes peer_call = peer::EncodeCall("getTrafficStats").Copy();
  const EncodableValue rates(
      EncodableMap{{"upKbps", 200.0}, {"downKbps", 1000.0}});
  RunCallCase(
      state, call.size() + channel.Call(call),
      [&] { return channel.Call(call); },
      [&] {
        return peer::DecodeCallMethod(peer_call).size() +
               peer::EncodeRatesReply(200.0, 1000.0).size();
      },
      [&] { return CodecPart(call, rates); });
}

void BM_GetLogsCall(benchmark::State& state) {
  Channel channel;
  const std::vector<std::string> lines = bench::PersianLogLines();
  for (const std::string& line : lines) channel.log().AppendLog(line);
  const std::vector<uint8_t> call = CallBytes("getLogs");
  const peer::Bytes peer_call = peer::EncodeCall("getLogs").Copy();
  const EncodableValue reply = bench::AsList(lines);
  RunCallCase(
      state, call.size() + channel.Call(call),
      [&] { return channel.Call(call); },
      [&] {
        return peer::DecodeCallMethod(peer_call).size() +
               peer::EncodeLinesReply(lines).size();
      },
      [&] { return CodecPart(call, reply); });
}

BENCHMARK(BM_GetTrafficStatsCall);
BENCHMARK(BM_GetLogsCall);

}  // namespace
