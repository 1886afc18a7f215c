#include "codec/encodable_value.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

namespace flutter {
namespace {

TEST(EncodableValueTest, NullByDefaultAndCharacterStringIsString) {
  EXPECT_TRUE(EncodableValue().IsNull());
  EncodableMap map;
  EXPECT_TRUE(map[EncodableValue("missing")].IsNull());
  EXPECT_EQ(map.count(EncodableValue("missing")), 1u);
  // Must not take the pointer-to-bool conversion.
  EXPECT_EQ(std::get<std::string>(EncodableValue("config")), "config");
}

// Each pair: the first must order strictly before the second.
TEST(EncodableValueTest, OrdersByIndexThenContent) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const CustomEncodableValue custom(1);
  using U8 = std::vector<uint8_t>;
  const std::pair<EncodableValue, EncodableValue> pairs[] = {
      {EncodableValue(), false},
      {false, true},
      {true, -5},
      {-5, 3},
      {5, int64_t{1}},  // index first: int32 5 before int64 1
      {int64_t{-2}, int64_t{1}},
      {int64_t{9}, 0.5},
      {nan, ""},
      {"ab", "abc"},
      {"A", "\xE2"},
      {U8{0x41}, U8{0xE2}},  // bytes compare as unsigned
      {std::vector<int32_t>{-1}, std::vector<int32_t>{0}},
      {std::vector<int64_t>{1}, std::vector<int64_t>{1, 0}},
      {EncodableList{1, "a"}, EncodableList{1, "b"}},
      {EncodableMap{{1, 9}}, EncodableMap{{2, 0}}},  // by key first,
      {EncodableMap{{1, 2}}, EncodableMap{{1, 3}}},  // then by value
      {EncodableMap{}, custom},
      {custom, std::vector<float>{}}};
  for (const auto& [smaller, larger] : pairs) {
    EXPECT_TRUE(smaller < larger) << smaller.index() << " " << larger.index();
    EXPECT_FALSE(larger < smaller) << smaller.index() << " " << larger.index();
  }
}

TEST(EncodableValueTest, IncomparableAndNeverEqualValues) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_FALSE(EncodableValue(nan) < EncodableValue(1.0) ||
               EncodableValue(1.0) < EncodableValue(nan));
  // Two distinct custom values are never equal keys.
  EncodableValue first(CustomEncodableValue(1)), second(first);
  EXPECT_NE(first < second, second < first);
}

TEST(EncodableValueTest, MovedFromStringListAndMapAreEmpty) {
  const std::pair<EncodableValue, EncodableValue> filled_and_empty[] = {
      {std::string(100, 'x'), std::string()},
      {EncodableList{1}, EncodableList{}},
      {EncodableMap{{1, 2}}, EncodableMap{}}};
  for (auto [filled, empty] : filled_and_empty) {
    EncodableValue assigned;
    assigned = std::move(filled);
    const EncodableValue constructed(std::move(assigned));
    EXPECT_EQ(filled, empty);
    EXPECT_EQ(assigned, empty);
  }
}

}  // namespace
}  // namespace flutter
