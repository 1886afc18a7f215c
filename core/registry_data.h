// The bytes of registry values as the registry stores them, both ways.

#ifndef CORE_REGISTRY_DATA_H_
#define CORE_REGISTRY_DATA_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace core {

// A REG_DWORD's bytes: the value, little-endian; never fails.
std::vector<uint8_t> DwordData(uint32_t value);

// A REG_SZ's bytes: the text in UTF-16LE and its terminating NUL, which
// readers of the value rely on finding within the stored size; never fails.
std::vector<uint8_t> StringData(const std::wstring& text);

// The value of a REG_DWORD's bytes; none unless there are exactly four.
std::optional<uint32_t> DwordOf(const std::vector<uint8_t>& data);

// The text of a REG_SZ's bytes, up to the first NUL or the last whole unit,
// each UTF-16 unit one wchar_t; never fails.
std::wstring StringOf(const std::vector<uint8_t>& data);

}  // namespace core

#endif  // CORE_REGISTRY_DATA_H_
