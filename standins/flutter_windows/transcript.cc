#include "standins/flutter_windows/transcript.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace standin {

void Transcript::Add(LineKind kind, std::string text) {
  std::lock_guard<std::mutex> lock(mutex);
  lines.push_back({kind, std::move(text)});
  if (lines.size() > kMaxLines) lines.pop_front();
  if (observer) observer();
}

std::vector<TranscriptLine> Transcript::Lines() const {
  std::lock_guard<std::mutex> lock(mutex);
  return {lines.begin(), lines.end()};
}

std::string Transcript::Text() const {
  std::string text;
  for (const TranscriptLine& line : Lines()) {
    text += line.text;
    text += '\n';
  }
  return text;
}

void Transcript::SetObserver(std::function<void()> newObserver) {
  std::lock_guard<std::mutex> lock(mutex);
  observer = std::move(newObserver);
}

namespace {

constexpr size_t kMaxPreviewBytes = 24;
constexpr size_t kMaxPreviewText = 60;
constexpr size_t kMaxDescription = 160;
constexpr int kMaxDepth = 8;

// Reads standard-codec values and writes a short text for them; any
// inconsistency makes the whole reading fail, and the caller falls back to
// hex.
class ValueDescriber {
 public:
  ValueDescriber(const uint8_t* data, size_t size) : data(data), size(size) {}

  bool AtEnd() const { return position == size; }

  bool ReadByte(uint8_t* value) {
    if (position >= size) return false;
    *value = data[position++];
    return true;
  }

  bool ReadString(std::string* text) {
    size_t length = 0;
    if (!ReadSize(&length) || size - position < length) return false;
    text->assign(reinterpret_cast<const char*>(data + position), length);
    position += length;
    return true;
  }

  bool Describe(std::string* out, int depth = 0) {
    uint8_t type = 0;
    if (depth > kMaxDepth || !ReadByte(&type)) return false;
    switch (type) {
      case 0:
        *out += "null";
        return true;
      case 1:
        *out += "true";
        return true;
      case 2:
        *out += "false";
        return true;
      case 3:
        return DescribeInteger(4, out);
      case 4:
        return DescribeInteger(8, out);
      case 6:
        return DescribeDouble(out);
      case 5:  // a large integer, carried as its hex text
      case 7: {
        std::string text;
        if (!ReadString(&text)) return false;
        *out += '"' + Shorten(text, 40) + '"';
        return true;
      }
      case 8:
        return DescribeTypedList(1, 1, "bytes", out);
      case 9:
        return DescribeTypedList(4, 4, "int32s", out);
      case 10:
        return DescribeTypedList(8, 8, "int64s", out);
      case 11:
        return DescribeTypedList(8, 8, "float64s", out);
      case 14:
        return DescribeTypedList(4, 4, "float32s", out);
      case 12:
        return DescribeList(out, depth);
      case 13:
        return DescribeMap(out, depth);
      default:
        return false;
    }
  }

 private:
  bool ReadSize(size_t* value) {
    uint8_t first = 0;
    if (!ReadByte(&first)) return false;
    if (first < 254) {
      *value = first;
      return true;
    }
    const size_t width = first == 254 ? 2 : 4;
    if (size - position < width) return false;
    *value = 0;
    for (size_t i = 0; i < width; ++i) {
      *value |= size_t{data[position + i]} << (8 * i);
    }
    position += width;
    return true;
  }

  bool Align(size_t alignment) {
    const size_t mod = position % alignment;
    if (mod != 0) position += alignment - mod;
    return position <= size;
  }

  bool DescribeInteger(size_t width, std::string* out) {
    if (size - position < width) return false;
    uint64_t bits = 0;
    for (size_t i = 0; i < width; ++i) {
      bits |= uint64_t{data[position + i]} << (8 * i);
    }
    position += width;
    const int64_t value = width == 4
                              ? static_cast<int64_t>(static_cast<int32_t>(bits))
                              : static_cast<int64_t>(bits);
    *out += std::to_string(value);
    return true;
  }

  bool DescribeDouble(std::string* out) {
    if (!Align(8) || size - position < 8) return false;
    double value = 0;
    std::memcpy(&value, data + position, 8);
    position += 8;
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    *out += text;
    return true;
  }

  bool DescribeTypedList(size_t alignment, size_t width, const char* name,
                         std::string* out) {
    size_t count = 0;
    if (!ReadSize(&count) || !Align(alignment)) return false;
    if ((size - position) / width < count) return false;
    position += count * width;
    *out += "<" + std::to_string(count) + " " + name + ">";
    return true;
  }

  bool DescribeList(std::string* out, int depth) {
    size_t count = 0;
    if (!ReadSize(&count)) return false;
    *out += '[';
    for (size_t i = 0; i < count; ++i) {
      if (i > 0) *out += ", ";
      if (!Describe(out, depth + 1)) return false;
    }
    *out += ']';
    return true;
  }

  bool DescribeMap(std::string* out, int depth) {
    size_t count = 0;
    if (!ReadSize(&count)) return false;
    *out += '{';
    for (size_t i = 0; i < count; ++i) {
      if (i > 0) *out += ", ";
      if (!Describe(out, depth + 1)) return false;
      *out += ": ";
      if (!Describe(out, depth + 1)) return false;
    }
    *out += '}';
    return true;
  }

  static std::string Shorten(const std::string& text, size_t limit) {
    if (text.size() <= limit) return text;
    // Cut at a character boundary so that the view can still convert it.
    size_t cut = limit;
    while (cut > 0 && (static_cast<uint8_t>(text[cut]) & 0xC0) == 0x80) --cut;
    return text.substr(0, cut) + "...";
  }

  const uint8_t* data;
  size_t size;
  size_t position = 0;
};

std::string Clip(const std::string& text) {
  if (text.size() <= kMaxDescription) return text;
  size_t cut = kMaxDescription;
  while (cut > 0 && (static_cast<uint8_t>(text[cut - 1]) & 0x80)) --cut;
  // A new string rather than the long one cut down: the transcript keeps
  // a thousand of these, and a cut string keeps its whole buffer (tens of
  // kilobytes for a long log's description), which the soak would count
  // against the host.
  return text.substr(0, cut) + "...";
}

}  // namespace

std::string HexPreview(const uint8_t* data, size_t size) {
  std::string text = std::to_string(size) + (size == 1 ? " byte" : " bytes");
  if (size > 0) text += ':';
  const bool printable = std::all_of(data, data + size, [](uint8_t byte) {
    return byte >= 0x20 && byte < 0x7F;
  });
  if (printable && size > 0) {
    const size_t shown = std::min(size, kMaxPreviewText);
    text +=
        " \"" + std::string(reinterpret_cast<const char*>(data), shown) + '"';
    return size > shown ? text + "..." : text;
  }
  static const char kDigits[] = "0123456789abcdef";
  for (size_t i = 0; i < size && i < kMaxPreviewBytes; ++i) {
    text += ' ';
    text += kDigits[data[i] >> 4];
    text += kDigits[data[i] & 0xF];
  }
  if (size > kMaxPreviewBytes) text += " ...";
  return text;
}

std::string DescribeMessage(const uint8_t* data, size_t size) {
  ValueDescriber reader(data, size);
  std::string method;
  std::string arguments;
  uint8_t type = 0;
  if (reader.ReadByte(&type) && type == 7 && reader.ReadString(&method) &&
      reader.Describe(&arguments) && reader.AtEnd()) {
    return Clip(method + "(" + arguments + ")");
  }
  return HexPreview(data, size);
}

std::string DescribeReply(const uint8_t* data, size_t size) {
  if (size == 0) return "empty reply";
  ValueDescriber reader(data, size);
  uint8_t envelope = 0;
  reader.ReadByte(&envelope);
  std::string text;
  if (envelope == 0) {
    text = "success ";
    if (reader.Describe(&text) && reader.AtEnd()) return Clip(text);
  } else if (envelope == 1) {
    std::string code;
    uint8_t type = 0;
    text = "error ";
    if (reader.ReadByte(&type) && type == 7 && reader.ReadString(&code)) {
      text += code + " ";
      std::string details;
      if (reader.Describe(&text) && reader.Describe(&details) &&
          (reader.AtEnd() || reader.Describe(&details)) && reader.AtEnd()) {
        if (details != "null") text += " " + details;
        return Clip(text);
      }
    }
  }
  return HexPreview(data, size);
}

}  // namespace standin
