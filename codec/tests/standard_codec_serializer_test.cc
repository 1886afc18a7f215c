#include "codec/standard_codec_serializer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "codec/byte_streams.h"
#include "codec/tests/test_support.h"

namespace flutter {
namespace {

using codec_test::Hex;
using codec_test::kShortRead;
using codec_test::StderrCapture;
using Lines = std::vector<std::string>;

const StandardCodecSerializer& Serializer() {
  return StandardCodecSerializer::GetInstance();
}

std::vector<uint8_t> Encode(const EncodableValue& value,
                            const StandardCodecSerializer& serializer =
                                StandardCodecSerializer::GetInstance()) {
  std::vector<uint8_t> bytes;
  ByteBufferStreamWriter writer(&bytes);
  serializer.WriteValue(value, &writer);
  return bytes;
}

EncodableValue Decode(const std::vector<uint8_t>& bytes,
                      const StandardCodecSerializer& serializer =
                          StandardCodecSerializer::GetInstance()) {
  ByteBufferStreamReader reader(bytes.data(), bytes.size());
  return serializer.ReadValue(&reader);
}

std::vector<uint8_t> Concat(std::vector<uint8_t> head,
                            const std::vector<uint8_t>& tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

std::vector<uint8_t> Repeat(const std::string& hex, size_t times) {
  const std::vector<uint8_t> unit = Hex(hex);
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i < times; ++i) {
    bytes.insert(bytes.end(), unit.begin(), unit.end());
  }
  return bytes;
}

EncodableValue NestedLists(int depth) {
  EncodableValue value;
  for (int i = 0; i < depth; ++i) value = EncodableList{std::move(value)};
  return value;
}

// Levels of single-element lists around the innermost value.
int ListDepth(const EncodableValue* value) {
  int depth = 0;
  while (const auto* list = std::get_if<EncodableList>(value)) {
    ++depth;
    if (list->empty()) break;
    value = &list->front();
  }
  return depth;
}

TEST(StandardCodecSerializerTest, EncodesAndDecodesWireVectors) {
  struct Row {
    EncodableValue value;
    std::string hex;
  } rows[] = {
      {EncodableValue(), "00"},
      {true, "01"},
      {false, "02"},
      {int32_t{1}, "03 01 00 00 00"},
      {int64_t{-2}, "04 FE FF FF FF FF FF FF FF"},
      {1.5, "06 00 00 00 00 00 00 00  00 00 00 00 00 00 F8 3F"},
      {"", "07 00"},
      {"a", "07 01 61"},
      {std::vector<uint8_t>{1, 2}, "08 02 01 02"},
      {std::vector<int32_t>{}, "09 00 00 00"},
      {std::vector<int32_t>{1, 2}, "09 02 00 00 01 00 00 00 02 00 00 00"},
      {std::vector<int64_t>{1},
       "0A 01 00 00 00 00 00 00 01 00 00 00 00 00 00 00"},
      {std::vector<double>{}, "0B 00 00 00 00 00 00 00"},
      {std::vector<float>{1.0f}, "0E 01 00 00 00 00 80 3F"},
      {EncodableList{EncodableValue(), true}, "0C 02 00 01"},
      {EncodableMap{{"b", 1}, {"a", 2}},
       "0D 02 07 01 61 03 02 00 00 00 07 01 62 03 01 00 00 00"},
  };
  for (const Row& row : rows) {
    StderrCapture stderr_lines;
    EXPECT_EQ(Encode(row.value), Hex(row.hex)) << row.hex;
    EXPECT_EQ(Decode(Hex(row.hex)), row.value) << row.hex;
    EXPECT_EQ(stderr_lines.Lines(), Lines{}) << row.hex;
  }
  EXPECT_EQ(Encode(std::string(300, 'x')),
            Concat(Hex("07 FE 2C 01"), std::vector<uint8_t>(300, 'x')));
}

TEST(StandardCodecSerializerTest, SizeForm) {
  struct Row {
    size_t size;
    std::string hex;
  } rows[] = {{253, "FD"},
              {254, "FE FE 00"},
              {65535, "FE FF FF"},
              {65536, "FF 00 00 01 00"},
              {4294967295u, "FF FF FF FF FF"}};
  for (const Row& row : rows) {
    std::vector<uint8_t> bytes;
    ByteBufferStreamWriter writer(&bytes);
    Serializer().WriteSize(row.size, &writer);
    EXPECT_EQ(bytes, Hex(row.hex));
    ByteBufferStreamReader reader(bytes.data(), bytes.size());
    EXPECT_EQ(Serializer().ReadSize(&reader), row.size);
  }
}

// Padding counts from the first byte of the message, so every value must
// survive any number of bytes before it.
TEST(StandardCodecSerializerTest, RoundTripsEveryAlternativeAtEveryOffset) {
  const EncodableValue values[] = {
      EncodableValue(),
      true,
      false,
      std::numeric_limits<int32_t>::min(),
      std::numeric_limits<int64_t>::max(),
      -0.25,
      "\xD8\xA7\xD8\xAA\xD8\xB5\xD8\xA7\xD9\x84",  // Persian, UTF-8
      std::vector<uint8_t>{0, 255},
      std::vector<int32_t>{-1, 7},
      std::vector<int64_t>{std::numeric_limits<int64_t>::min()},
      std::vector<double>{1e300, -0.0},
      std::vector<float>{0.5f},
      std::vector<double>{},
      EncodableList{1, 2.5, "x", std::vector<float>{2.0f}},
      EncodableMap{{1.5, std::vector<int64_t>{3}}, {"k", EncodableMap{}}},
  };
  for (size_t offset = 0; offset < 8; ++offset) {
    for (const EncodableValue& value : values) {
      std::vector<uint8_t> bytes(offset, 0xAA);
      ByteBufferStreamWriter writer(&bytes);
      Serializer().WriteValue(value, &writer);

      StderrCapture stderr_lines;
      ByteBufferStreamReader reader(bytes.data(), bytes.size());
      std::vector<uint8_t> prefix(offset);
      reader.ReadBytes(prefix.data(), offset);
      EXPECT_EQ(Serializer().ReadValue(&reader), value)
          << "offset " << offset << " index " << value.index();
      EXPECT_EQ(reader.RemainingBytes(), 0u);
      EXPECT_EQ(stderr_lines.Lines(), Lines{});
    }
    // Type byte, zero padding up to a multiple of 8, then the 8 bytes.
    std::vector<uint8_t> bytes(offset, 0xAA);
    ByteBufferStreamWriter writer(&bytes);
    Serializer().WriteValue(1.5, &writer);
    const size_t padding = (8 - (offset + 1) % 8) % 8;
    ASSERT_EQ(bytes.size(), offset + 1 + padding + 8);
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + offset + 1,
                                   bytes.begin() + offset + 1 + padding),
              std::vector<uint8_t>(padding, 0));
  }
}

// Malformed input: the value it reads as and the lines reported on the way.
TEST(StandardCodecSerializerTest, DecodesMalformedInputWithReports) {
  const std::string kSizeTooLarge =
      "Invalid size in StandardCodecSerializer::ReadValueOfType: ";
  const std::string kTail = " is more than the remaining input can hold";
  struct Row {
    const char* what;
    std::string hex;
    EncodableValue expected;
    Lines lines;
  } rows[] = {
      {"unknown type",
       "0F",
       EncodableValue(),
       {"Unknown type in StandardCodecSerializer::ReadValueOfType: 15"}},
      {"large integer as text", "05 02 31 30", "10", {}},
      {"duplicate key keeps the first",
       "0D 02 07 01 61 03 01 00 00 00 07 01 61 03 02 00 00 00",
       EncodableMap{{"a", 1}},
       {}},
      {"empty input", "", EncodableValue(), {kShortRead}},
      {"short number reads as zero", "03 01 00", 0, {kShortRead}},
      {"missing elements read as null",
       "0C 03 03 01 00 00 00",
       EncodableList{1, EncodableValue(), EncodableValue()},
       {kShortRead, kShortRead}},
      {"padding beyond the end", "09 00", std::vector<int32_t>{}, {kShortRead}},
      {"string longer than the input",
       "07 05 61 62",
       EncodableValue(),
       {kSizeTooLarge + "5" + kTail}},
      {"huge list",
       "0C FF FF FF FF FF 00",
       EncodableValue(),
       {kSizeTooLarge + "4294967295" + kTail}},
      {"double list beyond the input",
       "0B 02 00 00 00 00 00 00 01 02 03",
       EncodableValue(),
       {kSizeTooLarge + "2" + kTail}},
      {"map needs two bytes per entry",
       "0D 03 00 00 00 00 00",
       EncodableValue(),
       {kSizeTooLarge + "3" + kTail}},
      // The inner list could only fit by taking the outer list's bytes.
      {"nested size counts the enclosing elements",
       "0C 02 0C 02 00",
       EncodableValue(),
       {kSizeTooLarge + "2" + kTail}},
      {"refusal deep inside empties the whole value",
       "0D 01 07 01 6B 0C 02 01 07 09 61",
       EncodableValue(),
       {kSizeTooLarge + "9" + kTail}},
  };
  for (const Row& row : rows) {
    StderrCapture stderr_lines;
    EXPECT_EQ(Decode(Hex(row.hex)), row.expected) << row.what;
    EXPECT_EQ(stderr_lines.Lines(), row.lines) << row.what;
  }
}

TEST(StandardCodecSerializerTest, RefusalSkipsTheRestOfTheInput) {
  // A list announcing 200 elements with 199 bytes behind it.
  std::vector<uint8_t> bytes = Concat(Hex("0C C8"), Repeat("01", 199));
  StderrCapture stderr_lines;
  ByteBufferStreamReader reader(bytes.data(), bytes.size());
  EXPECT_TRUE(Serializer().ReadValue(&reader).IsNull());
  EXPECT_EQ(reader.RemainingBytes(), 0u);
  EXPECT_TRUE(Serializer().ReadValue(&reader).IsNull());
  ASSERT_EQ(stderr_lines.Lines().size(), 2u);
  EXPECT_EQ(stderr_lines.Lines()[1], kShortRead);
}

TEST(StandardCodecSerializerTest, ReadingRefusesNestingBeyondTheLimit) {
  const int limit = StandardCodecSerializer::kMaxNestingDepth;
  const std::string kTooDeep =
      "Invalid nesting in StandardCodecSerializer::ReadValueOfType: lists and "
      "maps nested deeper than " +
      std::to_string(limit);
  {
    StderrCapture stderr_lines;
    EncodableValue value = Decode(Concat(Repeat("0C 01", limit), Hex("00")));
    EXPECT_EQ(ListDepth(&value), limit);
    EXPECT_EQ(stderr_lines.Lines(), Lines{});
  }
  for (size_t depth : {size_t(limit) + 1, size_t{200000}}) {
    StderrCapture stderr_lines;
    EXPECT_TRUE(Decode(Concat(Repeat("0C 01", depth), Hex("00"))).IsNull());
    EXPECT_EQ(stderr_lines.Lines(), Lines{kTooDeep});
  }
  StderrCapture stderr_lines;
  EXPECT_TRUE(
      Decode(Concat(Repeat("0D 01 00", limit + 1), Hex("00 00"))).IsNull());
  EXPECT_EQ(stderr_lines.Lines(), Lines{kTooDeep});
}

TEST(StandardCodecSerializerTest, WritingCutsNestingBeyondTheLimit) {
  const int limit = StandardCodecSerializer::kMaxNestingDepth;
  // Two too-deep branches, one report.
  EncodableValue deep = EncodableList{NestedLists(limit), NestedLists(limit)};
  StderrCapture stderr_lines;
  std::vector<uint8_t> bytes = Encode(deep);
  EXPECT_EQ(stderr_lines.Lines(),
            Lines{"Invalid nesting in StandardCodecSerializer::WriteValue: "
                  "lists and maps nested deeper than " +
                  std::to_string(limit) + " are written as null"});
  EncodableValue decoded = Decode(bytes);
  EXPECT_EQ(ListDepth(&decoded), limit);
  EXPECT_EQ(std::get<EncodableList>(decoded).size(), 2u);
  EXPECT_EQ(stderr_lines.Lines().size(), 1u);
}

TEST(StandardCodecSerializerTest, CustomValueIsWrittenAsNull) {
  StderrCapture stderr_lines;
  EXPECT_EQ(Encode(EncodableList{CustomEncodableValue(3)}), Hex("0C 01 00"));
  EXPECT_EQ(stderr_lines.Lines(),
            Lines{"Unhandled custom type in StandardCodecSerializer::"
                  "WriteValue. Custom types require codec extensions."});
}

// A codec extension: its overrides must also apply to nested values.
struct Point {
  int32_t x, y;
};

class PointSerializer : public StandardCodecSerializer {
 public:
  void WriteValue(const EncodableValue& value,
                  ByteStreamWriter* stream) const override {
    const auto* custom = std::get_if<CustomEncodableValue>(&value);
    if (custom == nullptr)
      return StandardCodecSerializer::WriteValue(value, stream);
    const Point& point = std::any_cast<const Point&>(custom->value());
    stream->WriteByte(128);
    StandardCodecSerializer::WriteValue(point.x, stream);
    StandardCodecSerializer::WriteValue(point.y, stream);
  }
  EncodableValue ReadValueOfType(uint8_t type,
                                 ByteStreamReader* stream) const override {
    if (type != 128)
      return StandardCodecSerializer::ReadValueOfType(type, stream);
    const int32_t x = std::get<int32_t>(ReadValue(stream));
    const int32_t y = std::get<int32_t>(ReadValue(stream));
    return CustomEncodableValue(Point{x, y});
  }
};

TEST(StandardCodecSerializerTest, OverridesApplyToNestedValues) {
  PointSerializer serializer;
  std::vector<uint8_t> bytes =
      Encode(EncodableList{"p", CustomEncodableValue(Point{3, 4})}, serializer);
  EXPECT_EQ(bytes, Hex("0C 02 07 01 70 80 03 03 00 00 00 03 04 00 00 00"));
  EncodableValue decoded = Decode(bytes, serializer);
  const auto& custom =
      std::get<CustomEncodableValue>(std::get<EncodableList>(decoded)[1]);
  EXPECT_EQ(std::any_cast<Point>(custom.value()).y, 4);
}

}  // namespace
}  // namespace flutter
