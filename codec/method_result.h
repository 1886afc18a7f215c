#ifndef CODEC_METHOD_RESULT_H_
#define CODEC_METHOD_RESULT_H_

#include <string>

#include "codec/encodable_value.h"

namespace flutter {

// The answer to one method call, given exactly once through one of the
// public operations; implementations decide what a second answer does.
// Held by unique ownership and handed over by moving the owner.
template <typename T = EncodableValue>
class MethodResult {
 public:
  MethodResult() = default;
  virtual ~MethodResult() = default;
  MethodResult(const MethodResult&) = delete;
  MethodResult& operator=(const MethodResult&) = delete;

  void Success(const T& result) { SuccessInternal(&result); }
  void Success() { SuccessInternal(nullptr); }
  // `error_details` may be nullptr (no details).
  void Error(const std::string& error_code,
             const std::string& error_message = "",
             const T* error_details = nullptr) {
    ErrorInternal(error_code, error_message, error_details);
  }
  void NotImplemented() { NotImplementedInternal(); }

 protected:
  // `result` is nullptr for a success without a value.
  virtual void SuccessInternal(const T* result) = 0;
  virtual void ErrorInternal(const std::string& error_code,
                             const std::string& error_message,
                             const T* error_details) = 0;
  virtual void NotImplementedInternal() = 0;
};

}  // namespace flutter

#endif  // CODEC_METHOD_RESULT_H_
