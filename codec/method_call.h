#ifndef CODEC_METHOD_CALL_H_
#define CODEC_METHOD_CALL_H_

#include <memory>
#include <string>
#include <utility>

#include "codec/encodable_value.h"

namespace flutter {

// One decoded method call: a method name and owned arguments, which may be
// absent (no value at all, as opposed to a null value).
template <typename T = EncodableValue>
class MethodCall {
 public:
  MethodCall(const std::string& method_name, std::unique_ptr<T> arguments)
      : method_name_(method_name), arguments_(std::move(arguments)) {}
  virtual ~MethodCall() = default;
  MethodCall(const MethodCall&) = delete;
  MethodCall& operator=(const MethodCall&) = delete;

  const std::string& method_name() const { return method_name_; }
  // nullptr when the call has no arguments.
  const T* arguments() const { return arguments_.get(); }

 private:
  std::string method_name_;
  std::unique_ptr<T> arguments_;
};

}  // namespace flutter

#endif  // CODEC_METHOD_CALL_H_
