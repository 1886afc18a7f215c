#include "bench/msgpack_peer.h"

#include <cstring>
#include <stdexcept>
#include <type_traits>
#include <variant>

namespace peer {

namespace {

using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;

void PackString(const std::string& text, msgpack_packer* packer) {
  msgpack_pack_str_with_body(packer, text.data(), text.size());
}

template <typename T>
void PackNumbers(const std::vector<T>& numbers, msgpack_packer* packer) {
  msgpack_pack_array(packer, numbers.size());
  for (const T number : numbers) {
    if constexpr (std::is_floating_point<T>::value) {
      msgpack_pack_double(packer, number);
    } else {
      msgpack_pack_int64(packer, number);
    }
  }
}

void PackValue(const EncodableValue& value, msgpack_packer* packer) {
  if (const auto* flag = std::get_if<bool>(&value)) {
    *flag ? msgpack_pack_true(packer) : msgpack_pack_false(packer);
  } else if (const auto* number = std::get_if<int32_t>(&value)) {
    msgpack_pack_int32(packer, *number);
  } else if (const auto* number = std::get_if<int64_t>(&value)) {
    msgpack_pack_int64(packer, *number);
  } else if (const auto* number = std::get_if<double>(&value)) {
    msgpack_pack_double(packer, *number);
  } else if (const auto* text = std::get_if<std::string>(&value)) {
    PackString(*text, packer);
  } else if (const auto* bytes = std::get_if<std::vector<uint8_t>>(&value)) {
    msgpack_pack_bin_with_body(packer, bytes->data(), bytes->size());
  } else if (const auto* numbers = std::get_if<std::vector<int32_t>>(&value)) {
    PackNumbers(*numbers, packer);
  } else if (const auto* numbers = std::get_if<std::vector<int64_t>>(&value)) {
    PackNumbers(*numbers, packer);
  } else if (const auto* numbers = std::get_if<std::vector<double>>(&value)) {
    PackNumbers(*numbers, packer);
  } else if (const auto* numbers = std::get_if<std::vector<float>>(&value)) {
    PackNumbers(*numbers, packer);
  } else if (const auto* list = std::get_if<EncodableList>(&value)) {
    msgpack_pack_array(packer, list->size());
    for (const EncodableValue& element : *list) PackValue(element, packer);
  } else if (const auto* map = std::get_if<EncodableMap>(&value)) {
    msgpack_pack_map(packer, map->size());
    for (const auto& entry : *map) {
      PackValue(entry.first, packer);
      PackValue(entry.second, packer);
    }
  } else {
    msgpack_pack_nil(packer);
  }
}

// One complete object read from `bytes` at `offset`, which moves past it.
class Unpacked {
 public:
  Unpacked(const Bytes& bytes, size_t* offset) {
    msgpack_unpacked_init(&unpacked_);
    if (msgpack_unpack_next(&unpacked_, bytes.data(), bytes.size(), offset) !=
        MSGPACK_UNPACK_SUCCESS) {
      msgpack_unpacked_destroy(&unpacked_);
      throw std::runtime_error("msgpack-c could not unpack the input");
    }
  }
  ~Unpacked() { msgpack_unpacked_destroy(&unpacked_); }
  Unpacked(const Unpacked&) = delete;
  Unpacked& operator=(const Unpacked&) = delete;

  const msgpack_object& object() const { return unpacked_.data; }

 private:
  msgpack_unpacked unpacked_;
};

std::string OwnedString(const msgpack_object& object) {
  if (object.type != MSGPACK_OBJECT_STR) return std::string();
  return std::string(object.via.str.ptr, object.via.str.size);
}

bool KeyIs(const msgpack_object& key, const char* name) {
  const size_t length = std::strlen(name);
  return key.type == MSGPACK_OBJECT_STR && key.via.str.size == length &&
         std::memcmp(key.via.str.ptr, name, length) == 0;
}

void PackLines(const std::vector<std::string>& lines, msgpack_packer* packer) {
  msgpack_pack_array(packer, lines.size());
  for (const std::string& line : lines) PackString(line, packer);
}

}  // namespace

Buffer::Buffer() {
  msgpack_sbuffer_init(&buffer_);
  msgpack_packer_init(&packer_, &buffer_, msgpack_sbuffer_write);
}

Buffer::~Buffer() { msgpack_sbuffer_destroy(&buffer_); }

Buffer::Buffer(Buffer&& other) noexcept : buffer_(other.buffer_) {
  msgpack_sbuffer_init(&other.buffer_);
  msgpack_packer_init(&packer_, &buffer_, msgpack_sbuffer_write);
}

Bytes Pack(const EncodableValue& value) {
  Buffer buffer;
  PackValue(value, buffer.packer());
  return buffer.Copy();
}

Buffer EncodeLines(const std::vector<std::string>& lines) {
  Buffer buffer;
  PackLines(lines, buffer.packer());
  return buffer;
}

std::vector<std::string> DecodeLines(const Bytes& bytes) {
  size_t offset = 0;
  const Unpacked unpacked(bytes, &offset);
  std::vector<std::string> lines;
  if (unpacked.object().type != MSGPACK_OBJECT_ARRAY) return lines;
  const msgpack_object_array& array = unpacked.object().via.array;
  lines.reserve(array.size);
  for (uint32_t i = 0; i < array.size; ++i) {
    lines.push_back(OwnedString(array.ptr[i]));
  }
  return lines;
}

// The keys in the order our codec writes them (ascending bytes).
Buffer EncodeStartXray(const StartXrayCall& call) {
  Buffer buffer;
  msgpack_packer* packer = buffer.packer();
  PackString(call.method, packer);
  msgpack_pack_map(packer, 3);
  msgpack_pack_str_with_body(packer, "config", 6);
  PackString(call.config, packer);
  msgpack_pack_str_with_body(packer, "localPort", 9);
  msgpack_pack_int32(packer, call.local_port);
  msgpack_pack_str_with_body(packer, "systemProxy", 11);
  call.system_proxy ? msgpack_pack_true(packer) : msgpack_pack_false(packer);
  return buffer;
}

StartXrayCall DecodeStartXray(const Bytes& bytes) {
  size_t offset = 0;
  StartXrayCall call;
  call.method = OwnedString(Unpacked(bytes, &offset).object());
  const Unpacked arguments(bytes, &offset);
  if (arguments.object().type != MSGPACK_OBJECT_MAP) return call;
  const msgpack_object_map& map = arguments.object().via.map;
  for (uint32_t i = 0; i < map.size; ++i) {
    const msgpack_object& key = map.ptr[i].key;
    const msgpack_object& value = map.ptr[i].val;
    if (KeyIs(key, "config")) {
      call.config = OwnedString(value);
    } else if (KeyIs(key, "localPort")) {
      call.local_port = static_cast<int32_t>(value.via.i64);
    } else if (KeyIs(key, "systemProxy")) {
      call.system_proxy = value.via.boolean;
    }
  }
  return call;
}

Buffer EncodeCall(const std::string& method) {
  Buffer buffer;
  PackString(method, buffer.packer());
  msgpack_pack_nil(buffer.packer());
  return buffer;
}

std::string DecodeCallMethod(const Bytes& bytes) {
  size_t offset = 0;
  std::string method = OwnedString(Unpacked(bytes, &offset).object());
  const Unpacked arguments(bytes, &offset);
  return method;
}

Buffer EncodeLinesReply(const std::vector<std::string>& lines) {
  Buffer buffer;
  msgpack_pack_uint8(buffer.packer(), 0);
  PackLines(lines, buffer.packer());
  return buffer;
}

// The keys in the order our codec writes them (ascending bytes).
Buffer EncodeRatesReply(double up_kbps, double down_kbps) {
  Buffer buffer;
  msgpack_packer* packer = buffer.packer();
  msgpack_pack_uint8(packer, 0);
  msgpack_pack_map(packer, 2);
  msgpack_pack_str_with_body(packer, "downKbps", 8);
  msgpack_pack_double(packer, down_kbps);
  msgpack_pack_str_with_body(packer, "upKbps", 6);
  msgpack_pack_double(packer, up_kbps);
  return buffer;
}

Tree::Tree(const Bytes& bytes) {
  msgpack_unpacked_init(&unpacked_);
  size_t offset = 0;
  msgpack_unpack_next(&unpacked_, bytes.data(), bytes.size(), &offset);
}

Tree::~Tree() { msgpack_unpacked_destroy(&unpacked_); }

Buffer EncodeTree(const msgpack_object& root) {
  Buffer buffer;
  msgpack_pack_object(buffer.packer(), root);
  return buffer;
}

}  // namespace peer
