#ifndef CODEC_ENCODABLE_VALUE_H_
#define CODEC_ENCODABLE_VALUE_H_

#include <any>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <typeinfo>
#include <utility>
#include <variant>
#include <vector>

namespace flutter {

class EncodableValue;

using EncodableList = std::vector<EncodableValue>;
// Ordered by the value ordering (operator< below); keys of any alternative.
using EncodableMap = std::map<EncodableValue, EncodableValue>;

// An application object carried inside an EncodableValue. The standard
// serializer cannot encode it; it exists so that codec extensions can.
class CustomEncodableValue {
 public:
  template <typename T>
  explicit CustomEncodableValue(const T& value) : value_(value) {}

  // The held object; read it with std::any_cast.
  const std::any& value() const { return value_; }
  const std::type_info& type() const { return value_.type(); }

  // Custom values have no content ordering: they order by identity, so two
  // distinct custom values never compare equal.
  friend bool operator<(const CustomEncodableValue& lhs,
                        const CustomEncodableValue& rhs) {
    return std::less<const CustomEncodableValue*>()(&lhs, &rhs);
  }
  friend bool operator==(const CustomEncodableValue& lhs,
                         const CustomEncodableValue& rhs) {
    return &lhs == &rhs;
  }

 private:
  std::any value_;
};

// The alternatives, in the order that fixes both the value ordering and the
// wire type code chosen for each alternative. Do not reorder.
using EncodableValueVariant = std::variant<std::monostate,        // 0 null
                                           bool,                  // 1
                                           int32_t,               // 2
                                           int64_t,               // 3
                                           double,                // 4
                                           std::string,           // 5
                                           std::vector<uint8_t>,  // 6
                                           std::vector<int32_t>,  // 7
                                           std::vector<int64_t>,  // 8
                                           std::vector<double>,   // 9
                                           EncodableList,         // 10
                                           EncodableMap,          // 11
                                           CustomEncodableValue,  // 12
                                           std::vector<float>>;   // 13

// The value exchanged with the user interface: a tree owned by value, so a
// copy is deep. Read it with std::get (throws std::bad_variant_access on the
// wrong alternative) or std::get_if (nullptr on the wrong alternative).
class EncodableValue : public EncodableValueVariant {
 public:
  using super = EncodableValueVariant;
  using super::super;
  using super::operator=;

  EncodableValue() = default;

  // A character string literal is a string, never the bool a pointer would
  // otherwise convert to.
  EncodableValue(const char* string) : super(std::string(string)) {}
  EncodableValue& operator=(const char* string) {
    super::operator=(std::string(string));
    return *this;
  }

  bool IsNull() const { return std::holds_alternative<std::monostate>(*this); }
};

// Strict weak ordering: by alternative index first, then by content (see the
// alternatives above; strings and byte lists compare bytes as unsigned).
bool operator<(const EncodableValue& lhs, const EncodableValue& rhs);
// Same alternative and equal content (custom values: the same object).
bool operator==(const EncodableValue& lhs, const EncodableValue& rhs);
inline bool operator!=(const EncodableValue& lhs, const EncodableValue& rhs) {
  return !(lhs == rhs);
}

}  // namespace flutter

#endif  // CODEC_ENCODABLE_VALUE_H_
