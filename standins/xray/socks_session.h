// One client of the stand-in core's SOCKS5 inbound (RFC 1928).
#ifndef STANDINS_XRAY_SOCKS_SESSION_H_
#define STANDINS_XRAY_SOCKS_SESSION_H_

#include "win/handles.h"

namespace standin {

// Serves one client from its greeting to the end of its connection: offers
// no authentication only, carries out CONNECT to an IPv4 address or a domain
// name, then relays bytes both ways until both directions have ended.
// Anything malformed just closes the client's connection.
void ServeSocksClient(win::UniqueSocket client);

}  // namespace standin

#endif  // STANDINS_XRAY_SOCKS_SESSION_H_
