#include "codec/encodable_value.h"

#include <algorithm>
#include <type_traits>
#include <variant>

namespace flutter {

namespace {

// Map keys are nearly always strings or 32-bit integers. Comparing those
// directly saves the generic ordering's visit of both values, which costs a
// map insertion or lookup more than the comparison itself.
template <typename T>
bool LessWithin(const EncodableValue& lhs, const EncodableValue& rhs,
                bool* less) {
  const T* left = std::get_if<T>(&lhs);
  const T* right = std::get_if<T>(&rhs);
  if (left == nullptr || right == nullptr) return false;
  *less = *left < *right;
  return true;
}

template <typename T>
int CompareFlat(const T& lhs, const T& rhs) {
  return lhs < rhs ? -1 : rhs < lhs ? 1 : 0;
}

int Compare(const EncodableValue& lhs, const EncodableValue& rhs);

int CompareLists(const EncodableList& lhs, const EncodableList& rhs) {
  const size_t common = std::min(lhs.size(), rhs.size());
  for (size_t i = 0; i < common; ++i) {
    if (const int order = Compare(lhs[i], rhs[i])) return order;
  }
  return CompareFlat(lhs.size(), rhs.size());
}

// Entry by entry in ascending key order: key first, then value.
int CompareMaps(const EncodableMap& lhs, const EncodableMap& rhs) {
  auto left = lhs.begin();
  auto right = rhs.begin();
  for (; left != lhs.end() && right != rhs.end(); ++left, ++right) {
    if (const int order = Compare(left->first, right->first)) return order;
    if (const int order = Compare(left->second, right->second)) return order;
  }
  return CompareFlat(lhs.size(), rhs.size());
}

// Three-way, so that nested lists and maps are walked once. The standard
// library's ordering of vectors and pairs asks "less?" both ways at every
// element, which makes comparing two equal values nested N deep cost 2^N:
// a short message whose map keys are deeply nested lists would stall the
// platform thread for minutes.
int Compare(const EncodableValue& lhs, const EncodableValue& rhs) {
  if (lhs.index() != rhs.index()) {
    return CompareFlat(lhs.index(), rhs.index());
  }
  using Variant = EncodableValue::super;
  return std::visit(
      [&rhs](const auto& left) {
        using T = std::decay_t<decltype(left)>;
        const T& right = std::get<T>(static_cast<const Variant&>(rhs));
        if constexpr (std::is_same_v<T, EncodableList>) {
          return CompareLists(left, right);
        } else if constexpr (std::is_same_v<T, EncodableMap>) {
          return CompareMaps(left, right);
        } else {
          // Scalars, strings (unsigned bytes), flat number lists and custom
          // values (by identity): their own less-than.
          return CompareFlat(left, right);
        }
      },
      static_cast<const Variant&>(lhs));
}

}  // namespace

bool operator<(const EncodableValue& lhs, const EncodableValue& rhs) {
  bool less = false;
  if (LessWithin<std::string>(lhs, rhs, &less) ||
      LessWithin<int32_t>(lhs, rhs, &less)) {
    return less;
  }
  // Index first, then content; nested lists and maps element by element
  // with this same ordering.
  return Compare(lhs, rhs) < 0;
}

bool operator==(const EncodableValue& lhs, const EncodableValue& rhs) {
  return static_cast<const EncodableValue::super&>(lhs) ==
         static_cast<const EncodableValue::super&>(rhs);
}

}  // namespace flutter
