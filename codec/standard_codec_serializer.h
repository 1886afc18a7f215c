#ifndef CODEC_STANDARD_CODEC_SERIALIZER_H_
#define CODEC_STANDARD_CODEC_SERIALIZER_H_

#include <cstddef>
#include <cstdint>

#include "codec/byte_streams.h"
#include "codec/encodable_value.h"

namespace flutter {

// Encodes values in the Flutter standard message codec format and back.
// Stateless: the shared instance may be used from any thread.
//
// Malformed input never stops decoding; each problem is reported as one line
// on stderr and read with a defined fallback:
//  - bytes missing at the end read as zero (the reader reports each short
//    read), so a truncated value is padded with zeros and nulls;
//  - an unknown type code reads as null without consuming a payload;
//  - a size the remaining input cannot possibly hold (a string or byte list
//    needs one byte per element, a typed list the element width, a list one
//    byte per element, a map two per entry), or a list or map nested deeper
//    than kMaxNestingDepth, is refused: the outermost value being read becomes
//    null, the reader skips to the end so nothing more is misread, and no
//    storage is set aside for the refused size.
// Writing never fails: a custom value, or a list or map nested deeper than
// kMaxNestingDepth, is reported and written as null in its place.
class StandardCodecSerializer {
 public:
  // Lists and maps nest at most this deep (the outermost one is level 1):
  // far beyond any real message, and shallow enough to keep the recursion
  // of reading and writing well within any thread's stack.
  static constexpr int kMaxNestingDepth = 128;

  StandardCodecSerializer();
  virtual ~StandardCodecSerializer();
  StandardCodecSerializer(const StandardCodecSerializer&) = delete;
  StandardCodecSerializer& operator=(const StandardCodecSerializer&) = delete;

  // The process-wide instance, created on first use.
  static const StandardCodecSerializer& GetInstance();

  // Writes one complete value; nested values go through this same virtual
  // operation, so an override also applies to them.
  virtual void WriteValue(const EncodableValue& value,
                          ByteStreamWriter* stream) const;

  // Reads the payload of a value whose type byte was already read. List
  // elements and map entries are read through ReadValue, hence through this
  // virtual operation.
  virtual EncodableValue ReadValueOfType(uint8_t type,
                                         ByteStreamReader* stream) const;

  // Reads one type byte and then the value of that type.
  EncodableValue ReadValue(ByteStreamReader* stream) const;

  // The size form: one byte below 254, else 254 + 16 bits or 255 + 32 bits.
  void WriteSize(size_t size, ByteStreamWriter* stream) const;
  size_t ReadSize(ByteStreamReader* stream) const;
};

}  // namespace flutter

#endif  // CODEC_STANDARD_CODEC_SERIALIZER_H_
