// Byte vectors written the way wire dumps are read: "07 01 61".
#ifndef TESTING_HEX_H_
#define TESTING_HEX_H_

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

namespace testing_support {

inline std::vector<uint8_t> Hex(const std::string& text) {
  std::vector<uint8_t> bytes;
  std::istringstream in(text);
  for (unsigned int byte; in >> std::hex >> byte;) {
    bytes.push_back(static_cast<uint8_t>(byte));
  }
  return bytes;
}

}  // namespace testing_support

#endif  // TESTING_HEX_H_
