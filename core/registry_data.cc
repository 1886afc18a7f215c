#include "core/registry_data.h"

namespace core {
namespace {

void AppendUtf16Unit(std::vector<uint8_t>& data, uint32_t unit) {
  data.push_back(static_cast<uint8_t>(unit));
  data.push_back(static_cast<uint8_t>(unit >> 8));
}

}  // namespace

std::vector<uint8_t> DwordData(uint32_t value) {
  return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
          static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
}

std::vector<uint8_t> StringData(const std::wstring& text) {
  std::vector<uint8_t> data;
  data.reserve((text.size() + 1) * 2);
  for (const wchar_t c : text) {
    const uint32_t code = static_cast<uint32_t>(c);
    if (code > 0xFFFF) {  // Only where wchar_t holds whole code points.
      AppendUtf16Unit(data, 0xD800 + ((code - 0x10000) >> 10));
      AppendUtf16Unit(data, 0xDC00 + ((code - 0x10000) & 0x3FF));
    } else {
      AppendUtf16Unit(data, code);
    }
  }
  AppendUtf16Unit(data, 0);
  return data;
}

std::optional<uint32_t> DwordOf(const std::vector<uint8_t>& data) {
  if (data.size() != 4) return std::nullopt;
  return static_cast<uint32_t>(data[0]) | static_cast<uint32_t>(data[1]) << 8 |
         static_cast<uint32_t>(data[2]) << 16 |
         static_cast<uint32_t>(data[3]) << 24;
}

std::wstring StringOf(const std::vector<uint8_t>& data) {
  std::wstring text;
  for (size_t i = 0; i + 1 < data.size(); i += 2) {
    const wchar_t unit = static_cast<wchar_t>(data[i] | data[i + 1] << 8);
    if (unit == L'\0') break;
    text += unit;
  }
  return text;
}

}  // namespace core
