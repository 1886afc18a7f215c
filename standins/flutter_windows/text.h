// Conversions between the UTF-8 of channels and transcripts and the UTF-16
// of the Windows interface.
#ifndef STANDINS_FLUTTER_WINDOWS_TEXT_H_
#define STANDINS_FLUTTER_WINDOWS_TEXT_H_

#include <string>

namespace standin {

// Invalid sequences become replacement characters rather than failures.
std::string ToUtf8(const std::wstring& text);
std::wstring ToUtf16(const std::string& text);

}  // namespace standin

#endif  // STANDINS_FLUTTER_WINDOWS_TEXT_H_
