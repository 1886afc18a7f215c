#include "codec/encodable_value.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "codec/tests/test_support.h"

namespace flutter {
namespace {

TEST(EncodableValueTest, ConstructionAndAccess) {
  EXPECT_TRUE(EncodableValue().IsNull());
  EXPECT_EQ(EncodableValue().index(), 0u);
  // A character string must not decay to the pointer-to-bool conversion.
  EncodableValue config("config");
  EXPECT_EQ(std::get<std::string>(config), "config");
  EXPECT_EQ(EncodableValue(int64_t{1}).index(), 3u);
  EXPECT_EQ(EncodableValue(std::vector<float>{1.0f}).index(), 13u);

  EncodableValue number(int32_t{7});
  EXPECT_THROW(std::get<std::string>(number), std::bad_variant_access);
  EXPECT_EQ(std::get_if<std::string>(&number), nullptr);
}

// Each row: `smaller` must order strictly before `larger`.
TEST(EncodableValueTest, OrdersByIndexThenContent) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  CustomEncodableValue custom(1);
  struct Row {
    const char* what;
    EncodableValue smaller, larger;
  } rows[] = {
      {"null before bool", EncodableValue(), EncodableValue(false)},
      {"false before true", EncodableValue(false), EncodableValue(true)},
      {"bool before int32", EncodableValue(true), EncodableValue(-5)},
      {"int32 5 before int64 1", EncodableValue(5), EncodableValue(int64_t{1})},
      {"signed int64", EncodableValue(int64_t{-2}), EncodableValue(int64_t{1})},
      {"int64 before double", EncodableValue(int64_t{9}), EncodableValue(0.5)},
      {"doubles", EncodableValue(-1.0), EncodableValue(2.0)},
      {"double before string", EncodableValue(nan), EncodableValue("")},
      {"prefix string first", EncodableValue("ab"), EncodableValue("abc")},
      {"unsigned string bytes", EncodableValue("A"), EncodableValue("\xE2")},
      {"unsigned byte list", EncodableValue(std::vector<uint8_t>{0x41}),
       EncodableValue(std::vector<uint8_t>{0xE2})},
      {"signed int32 list", EncodableValue(std::vector<int32_t>{-1}),
       EncodableValue(std::vector<int32_t>{0})},
      {"prefix list first", EncodableValue(std::vector<int64_t>{1}),
       EncodableValue(std::vector<int64_t>{1, 0})},
      {"nested lists", EncodableValue(EncodableList{1, "a"}),
       EncodableValue(EncodableList{1, "b"})},
      {"empty list first", EncodableValue(EncodableList{}),
       EncodableValue(EncodableList{EncodableValue()})},
      {"map by key", EncodableValue(EncodableMap{{1, 9}}),
       EncodableValue(EncodableMap{{2, 0}})},
      {"map by value", EncodableValue(EncodableMap{{1, 2}}),
       EncodableValue(EncodableMap{{1, 3}})},
      {"map before custom", EncodableValue(EncodableMap{}),
       EncodableValue(custom)},
      {"custom before float list", EncodableValue(custom),
       EncodableValue(std::vector<float>{})},
  };
  for (const Row& row : rows) {
    EXPECT_TRUE(row.smaller < row.larger) << row.what;
    EXPECT_FALSE(row.larger < row.smaller) << row.what;
  }
}

TEST(EncodableValueTest, EqualAndIncomparableValues) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EncodableValue map(EncodableMap{{"k", EncodableList{1, "x"}}});
  EncodableValue copy = map;
  EXPECT_FALSE(map < copy || copy < map);
  EXPECT_FALSE(EncodableValue(nan) < EncodableValue(1.0) ||
               EncodableValue(1.0) < EncodableValue(nan));
  // Two distinct custom values are never equal keys.
  EncodableValue first(CustomEncodableValue(1)), second(first);
  EXPECT_NE(first < second, second < first);
}

TEST(EncodableValueTest, MapKeysOfMixedAlternatives) {
  EncodableMap map;
  map[EncodableValue("s")] = 1;
  map[EncodableValue(int64_t{1})] = 2;
  map[EncodableValue(int32_t{1})] = 3;
  map[EncodableValue(true)] = 4;
  map[EncodableValue(false)] = 5;
  map[EncodableValue(0.5)] = 6;
  map[EncodableValue()] = 7;
  std::vector<size_t> indices;
  for (const auto& entry : map) indices.push_back(entry.first.index());
  EXPECT_EQ(indices, (std::vector<size_t>{0, 1, 1, 2, 3, 4, 5}));
  EXPECT_EQ(map.size(), 7u);  // int32 1 and int64 1 are different keys
  EXPECT_EQ(std::get<bool>(std::next(map.begin())->first), false);
}

TEST(EncodableValueTest, SubscriptInsertsNullAndCopiesAreDeep) {
  EncodableMap map;
  EXPECT_TRUE(map[EncodableValue("missing")].IsNull());
  EXPECT_EQ(map.size(), 1u);

  EncodableMap source{{"lines", EncodableList{"a", "b"}}};
  EncodableMap copy = source;
  std::get<EncodableList>(copy[EncodableValue("lines")]).push_back("c");
  EXPECT_EQ(std::get<EncodableList>(source[EncodableValue("lines")]).size(),
            2u);

  EncodableValue moved_from(std::string(100, 'x'));
  EncodableValue target(std::move(moved_from));
  EXPECT_TRUE(std::get<std::string>(moved_from).empty());
}

}  // namespace
}  // namespace flutter
