#include "win/text.h"

#include <windows.h>

#include <cwchar>

namespace win {
namespace {

// Both calls reject invalid characters, so that a text is converted whole or
// not at all.
std::string StrictUtf8(const wchar_t* text, int units) {
  const int length = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text,
                                         units, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return {};
  std::string converted(static_cast<size_t>(length), '\0');
  if (WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text, units,
                          &converted[0], length, nullptr, nullptr) == 0) {
    return {};
  }
  return converted;
}

}  // namespace

std::string WideToUtf8(const wchar_t* text) {
  if (text == nullptr) return {};
  return StrictUtf8(text, static_cast<int>(std::wcslen(text)));
}

std::string WideToUtf8(const std::wstring& text) {
  if (text.empty()) return {};
  return StrictUtf8(text.data(), static_cast<int>(text.size()));
}

std::wstring Utf8ToWide(const std::string& text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int length =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
  if (length <= 0) return {};
  std::wstring converted(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), size, &converted[0], length);
  return converted;
}

}  // namespace win
