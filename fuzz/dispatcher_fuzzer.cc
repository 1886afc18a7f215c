// Feeds arbitrary bytes, decoded as a method call, to the channel's
// dispatcher over the fake platform, and checks that every call gets exactly
// one answer.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <streambuf>
#include <string>

#include "codec/standard_method_codec.h"
#include "core/tests/fake_platform.h"
#include "core/xray_channel_handler.h"

namespace {

using flutter::EncodableValue;

// Swallows the decoder's report lines, which malformed input makes plenty of.
class NullBuffer : public std::streambuf {
 protected:
  int_type overflow(int_type c) override { return traits_type::not_eof(c); }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

class CountingResult : public flutter::MethodResult<EncodableValue> {
 public:
  explicit CountingResult(int& answers) : answers_(answers) {}

 protected:
  void SuccessInternal(const EncodableValue*) override { ++answers_; }
  void ErrorInternal(const std::string&, const std::string&,
                     const EncodableValue*) override {
    ++answers_;
  }
  void NotImplementedInternal() override { ++answers_; }

 private:
  int& answers_;
};

// The executable of a host in a scratch folder with its shipped core in
// place, made once: the folder on disk carries over between inputs, as it
// does between runs of the host.
const std::wstring& ScratchHostExecutable() {
  static const std::wstring* const executable = [] {
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / "zv-dispatcher-fuzz";
    const std::filesystem::path shipped =
        folder / "data" / "flutter_assets" / "assets" / "xray" / "windows";
    std::filesystem::create_directories(shipped);
    std::ofstream(shipped / "xray.exe") << "core";
    return new std::wstring((folder / "client.exe").wstring());
  }();
  return *executable;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static NullBuffer sink;
  static std::streambuf* const original = std::cerr.rdbuf(&sink);
  (void)original;
  // A fresh platform for each input: the fake records every call, and one
  // kept across a long campaign would grow without end.
  core::FakePlatform platform;
  platform.moduleFileName = ScratchHostExecutable();
  // The second byte picks how the platform behaves, so that failures are
  // reached too.
  const uint8_t mood = size > 1 ? data[1] : 0;
  platform.exitCode = mood & 1 ? 1 : 259;
  platform.startFails = mood & 2;
  platform.downloadResult = mood & 4 ? -1 : 0;
  platform.copyFails = mood & 8;
  platform.leftoverCores = mood >> 6;  // cores an earlier host left: 0 to 3
  platform.listFails = mood & 16;
  platform.endFails = mood & 32;

  const auto call =
      flutter::StandardMethodCodec::GetInstance().DecodeMethodCall(data, size);
  if (!call) return 0;
  int answers = 0;
  // A fresh manager for each input: all it allocates is freed with it, so
  // the fuzzer's leak check stays quiet and quick.
  core::CoreManager manager(platform);
  const core::XrayChannelHandler handler(manager);
  handler(*call, std::make_unique<CountingResult>(answers));
  if (answers != 1) std::abort();
  return 0;
}
