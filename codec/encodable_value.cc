#include "codec/encodable_value.h"

namespace flutter {

bool operator<(const EncodableValue& lhs, const EncodableValue& rhs) {
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
