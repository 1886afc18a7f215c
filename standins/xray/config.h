// The one part of the core's configuration the stand-in core reads: where
// its SOCKS inbound listens.
#ifndef STANDINS_XRAY_CONFIG_H_
#define STANDINS_XRAY_CONFIG_H_

#include <cstdint>
#include <string>

namespace standin {

struct SocksInbound {
  std::string listen;  // a dotted IPv4 address
  uint16_t port = 0;
};

// What a configuration text gives: an inbound, or a one-line reason why not.
struct SocksInboundResult {
  SocksInbound inbound;
  std::string error;  // empty on success
};

// Finds the first entry of "inbounds" whose "protocol" is "socks". "listen"
// defaults to 127.0.0.1; "port" is a number or a text holding one, 1..65535.
SocksInboundResult FindSocksInbound(const std::string& jsonText);

}  // namespace standin

#endif  // STANDINS_XRAY_CONFIG_H_
