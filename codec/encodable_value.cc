#include "codec/encodable_value.h"

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

}  // namespace

bool operator<(const EncodableValue& lhs, const EncodableValue& rhs) {
  bool less = false;
  if (LessWithin<std::string>(lhs, rhs, &less) ||
      LessWithin<int32_t>(lhs, rhs, &less)) {
    return less;
  }
  // The variant's own ordering is exactly the one wanted: index first, then
  // the alternatives' operator<, which for nested lists and maps comes back
  // here and for strings compares characters as unsigned bytes.
  return static_cast<const EncodableValue::super&>(lhs) <
         static_cast<const EncodableValue::super&>(rhs);
}

bool operator==(const EncodableValue& lhs, const EncodableValue& rhs) {
  return static_cast<const EncodableValue::super&>(lhs) ==
         static_cast<const EncodableValue::super&>(rhs);
}

}  // namespace flutter
