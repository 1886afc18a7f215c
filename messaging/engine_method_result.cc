#include "messaging/engine_method_result.h"

#include <iostream>

namespace flutter {

OneShotReply::OneShotReply(BinaryReply reply) : reply(std::move(reply)) {}

OneShotReply::~OneShotReply() {
  if (reply) {
    std::cerr << "Warning: Failed to respond to a message. This is a memory "
                 "leak."
              << std::endl;
  }
}

void OneShotReply::SendResponseData(const std::vector<uint8_t>* data) {
  if (!reply) {
    std::cerr << "Error: Only one of Success, Error, or NotImplemented can be "
                 "called,"
              << " and it can be called exactly once. Ignoring duplicate "
                 "result."
              << std::endl;
    return;
  }
  // Emptied before the call, so the reply counts as used even if it throws.
  BinaryReply answer = std::move(reply);
  reply = nullptr;
  const bool hasBytes = data != nullptr && !data->empty();
  answer(hasBytes ? data->data() : nullptr, hasBytes ? data->size() : 0);
}

}  // namespace flutter
