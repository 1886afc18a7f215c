#include "standins/xray/config.h"

#include <nlohmann/json.hpp>

namespace standin {
namespace {

using nlohmann::json;

constexpr const char* kDefaultListen = "127.0.0.1";

SocksInboundResult Failure(std::string reason) {
  SocksInboundResult result;
  result.error = std::move(reason);
  return result;
}

// The core writes ports as numbers, and also accepts them as texts.
bool ReadPort(const json& value, uint16_t* port) {
  long long number = -1;
  if (value.is_number_integer()) {
    number = value.get<long long>();
  } else if (value.is_string()) {
    const std::string& text = value.get_ref<const std::string&>();
    if (text.empty() || text.size() > 5 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
      return false;
    }
    number = std::stoll(text);
  }
  if (number < 1 || number > 65535) return false;
  *port = static_cast<uint16_t>(number);
  return true;
}

bool IsSocksInbound(const json& inbound) {
  if (!inbound.is_object()) return false;
  const auto protocol = inbound.find("protocol");
  return protocol != inbound.end() && *protocol == "socks";
}

SocksInboundResult ReadInbound(const json& inbound) {
  SocksInboundResult result;
  const auto port = inbound.find("port");
  if (port == inbound.end() || !ReadPort(*port, &result.inbound.port)) {
    return Failure("the socks inbound has no port from 1 to 65535");
  }
  const auto listen = inbound.find("listen");
  if (listen == inbound.end()) {
    result.inbound.listen = kDefaultListen;
  } else if (listen->is_string()) {
    result.inbound.listen = listen->get<std::string>();
  } else {
    return Failure("the socks inbound's \"listen\" is not a text");
  }
  return result;
}

}  // namespace

SocksInboundResult FindSocksInbound(const std::string& jsonText) {
  const json config =
      json::parse(jsonText, nullptr, /*allow_exceptions=*/false);
  if (config.is_discarded()) return Failure("the config file is not JSON");
  if (!config.is_object()) return Failure("the config is not a JSON object");
  const auto inbounds = config.find("inbounds");
  if (inbounds != config.end() && inbounds->is_array()) {
    for (const json& inbound : *inbounds) {
      if (IsSocksInbound(inbound)) return ReadInbound(inbound);
    }
  }
  return Failure("the config has no inbound with protocol \"socks\"");
}

}  // namespace standin
