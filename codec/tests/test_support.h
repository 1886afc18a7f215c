#ifndef CODEC_TESTS_TEST_SUPPORT_H_
#define CODEC_TESTS_TEST_SUPPORT_H_

#include <cstdint>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "codec/encodable_value.h"

namespace codec_test {

// Collects what the code under test writes to std::cerr. Swapping the
// stream buffer works the same natively and in the Windows build.
class StderrCapture {
 public:
  StderrCapture() : previous_(std::cerr.rdbuf(captured_.rdbuf())) {}
  ~StderrCapture() { std::cerr.rdbuf(previous_); }

  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    std::istringstream text(captured_.str());
    for (std::string line; std::getline(text, line);) lines.push_back(line);
    return lines;
  }

 private:
  std::ostringstream captured_;
  std::streambuf* previous_;
};

// "07 01 61" -> {0x07, 0x01, 0x61}.
inline std::vector<uint8_t> Hex(const std::string& text) {
  std::vector<uint8_t> bytes;
  std::istringstream in(text);
  for (unsigned int byte; in >> std::hex >> byte;) {
    bytes.push_back(static_cast<uint8_t>(byte));
  }
  return bytes;
}

inline const char kShortRead[] =
    "Invalid read in StandardCodecByteStreamReader";

}  // namespace codec_test

#endif  // CODEC_TESTS_TEST_SUPPORT_H_
