// Conversions between the UTF-8 of channels, logs and files and the UTF-16
// of the Windows interface.
#ifndef WIN_TEXT_H_
#define WIN_TEXT_H_

#include <string>

namespace win {

// Strict: a null pointer, an empty text or a text that is not valid UTF-16
// (an unpaired surrogate) gives an empty string.
std::string WideToUtf8(const wchar_t* text);
std::string WideToUtf8(const std::wstring& text);

// Lenient: invalid UTF-8 sequences become U+FFFD; never fails.
std::wstring Utf8ToWide(const std::string& text);

}  // namespace win

#endif  // WIN_TEXT_H_
