#ifndef CODEC_STANDARD_CODEC_SERIALIZER_H_
#define CODEC_STANDARD_CODEC_SERIALIZER_H_

#include <cstddef>
#include <cstdint>

#include "codec/byte_streams.h"
#include "codec/encodable_value.h"

namespace flutter {

// Encodes values in the Flutter standard message codec format and back.
// Stateless: the shared instance may be used from any thread. What a decode
// keeps between the parts of a value lives in its reader.
//
// Malformed input never stops decoding; each problem is reported as one line
// on stderr and read with a defined fallback:
//  - Bytes missing at the end read as zero (the reader reports each short
//    read), so a truncated value is padded with zeros and nulls.
//  - An unknown type code reads as null without consuming a payload.
//  - A size the remaining input cannot hold (one byte per string or byte-list
//    element, the element width per typed-list element, one byte per list
//    element, two per map entry, beyond what the elements already announced
//    need) is reported once, sets nothing aside, makes the whole outermost
//    value being read from that reader null and skips that reader to the
//    end. A reader an extension opens on an embedded message is one of its
//    own: the input left to the reader around it neither bounds it nor is
//    spent by it, and its refusal makes only the embedded value null.
//  - A list or map nested deeper than kMaxNestingDepth, counting the lists
//    and maps open in every reader being read on the thread, is refused the
//    same way: one report, the outermost value of its reader null, that
//    reader at the end.
// Writing never fails: each custom value is reported and written as null.
// A list or map nested deeper than kMaxNestingDepth is written as null in
// its place, with one report per outermost value written.
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
