// The handler of the method channel "zorvane/xray": picks the core manager
// operation by the method name and answers the call exactly once.

#ifndef CORE_XRAY_CHANNEL_HANDLER_H_
#define CORE_XRAY_CHANNEL_HANDLER_H_

#include <memory>

#include "codec/encodable_value.h"
#include "codec/method_call.h"
#include "codec/method_result.h"
#include "core/core_manager.h"

namespace core {

inline constexpr char kXrayChannelName[] = "zorvane/xray";

// Copies share the manager, which must outlive them.
class XrayChannelHandler {
 public:
  explicit XrayChannelHandler(CoreManager& manager) : manager_(&manager) {}

  // Answers `result` once before returning, whatever the call holds; an
  // unknown method name is answered not implemented. Throws only when
  // memory runs out, before answering.
  void operator()(
      const flutter::MethodCall<flutter::EncodableValue>& call,
      std::unique_ptr<flutter::MethodResult<flutter::EncodableValue>> result)
      const;

 private:
  CoreManager* manager_;
};

}  // namespace core

#endif  // CORE_XRAY_CHANNEL_HANDLER_H_
