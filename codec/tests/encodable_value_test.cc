#include "codec/encodable_value.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

namespace flutter {
namespace {

// The ordering of map keys. Each pair: the first must order strictly before
// the second.
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
  // Custom values order by identity: two copies are never equal keys.
  const EncodableValue first(custom), second(first);
  EXPECT_NE(first < second, second < first);
}

}  // namespace
}  // namespace flutter
