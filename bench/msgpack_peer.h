#ifndef BENCH_MSGPACK_PEER_H_
#define BENCH_MSGPACK_PEER_H_

// The peer the benchmarks compare with: msgpack-c, the C library, encoding
// and decoding the same content as our codec, each case in the form that is
// natural to msgpack-c. A benchmark-only dependency; the product has none.

#include <msgpack.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "codec/encodable_value.h"

namespace peer {

using Bytes = std::vector<char>;

// What msgpack-c's encoding yields: its growable buffer, owned.
class Buffer {
 public:
  Buffer();
  ~Buffer();
  Buffer(Buffer&& other) noexcept;
  Buffer& operator=(Buffer&&) = delete;
  Buffer(const Buffer&) = delete;

  msgpack_packer* packer() { return &packer_; }
  const char* data() const { return buffer_.data; }
  size_t size() const { return buffer_.size; }
  Bytes Copy() const { return Bytes(data(), data() + size()); }

 private:
  msgpack_sbuffer buffer_;
  msgpack_packer packer_;
};

// MessagePack bytes of `value` (no custom values): the input of the decode
// cases. Typed lists become arrays of numbers, byte lists bin.
Bytes Pack(const flutter::EncodableValue& value);

// A "getLogs" reply: the log lines as an array of strings.
Buffer EncodeLines(const std::vector<std::string>& lines);
// Decodes into owned strings.
std::vector<std::string> DecodeLines(const Bytes& bytes);

// The "startXray" call in a plain record, sent as the method name followed
// by the argument map.
struct StartXrayCall {
  std::string method;
  std::string config;
  bool system_proxy = false;
  int32_t local_port = 0;
};
Buffer EncodeStartXray(const StartXrayCall& call);
// Decodes into owned strings.
StartXrayCall DecodeStartXray(const Bytes& bytes);

// A call with no arguments: the method name, then nil.
Buffer EncodeCall(const std::string& method);
// The method name, owned; the arguments are read and dropped.
std::string DecodeCallMethod(const Bytes& bytes);
// Success replies: 0, then the result (as the lines above; a map of the two
// traffic rates).
Buffer EncodeLinesReply(const std::vector<std::string>& lines);
Buffer EncodeRatesReply(double up_kbps, double down_kbps);

// msgpack-c's own value tree, which owns its nodes and refers to the input
// for strings and byte blocks: its counterpart of our value tree.
class Tree {
 public:
  explicit Tree(const Bytes& bytes);
  ~Tree();
  Tree(const Tree&) = delete;
  Tree& operator=(const Tree&) = delete;

  const msgpack_object& root() const { return unpacked_.data; }

 private:
  msgpack_unpacked unpacked_;
};
Buffer EncodeTree(const msgpack_object& root);

}  // namespace peer

#endif  // BENCH_MSGPACK_PEER_H_
