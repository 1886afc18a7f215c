#include "standins/xray/socks_session.h"

#include <ws2tcpip.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace standin {
namespace {

constexpr uint8_t kVersion = 5;
constexpr uint8_t kNoAuthentication = 0x00;
constexpr uint8_t kNoAcceptableMethod = 0xFF;
constexpr uint8_t kConnect = 0x01;

enum AddressType : uint8_t { kIpv4 = 1, kDomainName = 3, kIpv6 = 4 };

enum Reply : uint8_t {
  kSucceeded = 0,
  kGeneralFailure = 1,
  kNetworkUnreachable = 3,
  kHostUnreachable = 4,
  kConnectionRefused = 5,
  kCommandNotSupported = 7,
  kAddressTypeNotSupported = 8,
};

// A client that stalls in the handshake must not hold its thread for ever.
constexpr DWORD kHandshakeTimeoutMs = 30 * 1000;
constexpr DWORD kNoTimeout = 0;
constexpr int kRelayChunk = 16 * 1024;

struct Request {
  uint8_t command = 0;
  std::string host;  // dotted IPv4 address or domain name
  uint16_t port = 0;
  bool addressSupported = true;
};

void SetReceiveTimeout(SOCKET socket, DWORD milliseconds) {
  setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO,
             reinterpret_cast<const char*>(&milliseconds), sizeof milliseconds);
}

bool ReceiveExactly(SOCKET socket, void* buffer, size_t size) {
  char* next = static_cast<char*>(buffer);
  while (size > 0) {
    const int received = recv(socket, next, static_cast<int>(size), 0);
    if (received <= 0) return false;
    next += received;
    size -= static_cast<size_t>(received);
  }
  return true;
}

bool SendAll(SOCKET socket, const void* data, size_t size) {
  const char* next = static_cast<const char*>(data);
  while (size > 0) {
    const int sent = send(socket, next, static_cast<int>(size), 0);
    if (sent <= 0) return false;
    next += sent;
    size -= static_cast<size_t>(sent);
  }
  return true;
}

// Version 5 and a method list that offers "no authentication"; a client
// that offers only other methods is told so and dropped.
bool AcceptGreeting(SOCKET client) {
  uint8_t head[2];
  if (!ReceiveExactly(client, head, sizeof head) || head[0] != kVersion ||
      head[1] == 0) {
    return false;
  }
  std::vector<uint8_t> methods(head[1]);
  if (!ReceiveExactly(client, methods.data(), methods.size())) return false;
  bool offered = false;
  for (uint8_t method : methods) offered |= method == kNoAuthentication;
  const uint8_t choice[2] = {kVersion,
                             offered ? kNoAuthentication : kNoAcceptableMethod};
  return SendAll(client, choice, sizeof choice) && offered;
}

bool ReadDestinationHost(SOCKET client, uint8_t addressType, Request* request) {
  switch (addressType) {
    case kIpv4: {
      uint8_t octets[4];
      if (!ReceiveExactly(client, octets, sizeof octets)) return false;
      char text[16];
      std::snprintf(text, sizeof text, "%u.%u.%u.%u", octets[0], octets[1],
                    octets[2], octets[3]);
      request->host = text;
      return true;
    }
    case kDomainName: {
      uint8_t length = 0;
      if (!ReceiveExactly(client, &length, 1)) return false;
      request->host.resize(length);
      return ReceiveExactly(client, &request->host[0], length);
    }
    case kIpv6: {  // read past it so that the reply goes to a whole request
      uint8_t octets[16];
      request->addressSupported = false;
      return ReceiveExactly(client, octets, sizeof octets);
    }
    default:
      return false;
  }
}

// False when the request is malformed or the connection ended.
bool ReadRequest(SOCKET client, Request* request) {
  uint8_t head[4];  // version, command, reserved, address type
  if (!ReceiveExactly(client, head, sizeof head) || head[0] != kVersion) {
    return false;
  }
  request->command = head[1];
  const uint8_t addressType = head[3];
  if (addressType != kIpv4 && addressType != kDomainName &&
      addressType != kIpv6) {
    request->addressSupported = false;  // of unknown length: read no further
    return true;
  }
  if (!ReadDestinationHost(client, addressType, request)) return false;
  uint8_t port[2];
  if (!ReceiveExactly(client, port, sizeof port)) return false;
  request->port = static_cast<uint16_t>(port[0] << 8 | port[1]);
  return true;
}

// Version, reply code, reserved, then the bound address and port; failures
// carry 0.0.0.0:0.
bool SendReply(SOCKET client, uint8_t code, const sockaddr_storage* bound) {
  std::vector<uint8_t> reply = {kVersion, code, 0};
  if (bound != nullptr && bound->ss_family == AF_INET6) {
    const auto* address = reinterpret_cast<const sockaddr_in6*>(bound);
    const auto* octets = reinterpret_cast<const uint8_t*>(&address->sin6_addr);
    reply.push_back(kIpv6);
    reply.insert(reply.end(), octets, octets + 16);
    const auto* port = reinterpret_cast<const uint8_t*>(&address->sin6_port);
    reply.insert(reply.end(), port, port + 2);
  } else if (bound != nullptr) {
    const auto* address = reinterpret_cast<const sockaddr_in*>(bound);
    const auto* octets = reinterpret_cast<const uint8_t*>(&address->sin_addr);
    reply.push_back(kIpv4);
    reply.insert(reply.end(), octets, octets + 4);
    const auto* port = reinterpret_cast<const uint8_t*>(&address->sin_port);
    reply.insert(reply.end(), port, port + 2);
  } else {
    reply.insert(reply.end(), {kIpv4, 0, 0, 0, 0, 0, 0});
  }
  return SendAll(client, reply.data(), reply.size());
}

uint8_t ReplyForConnectError(int error) {
  switch (error) {
    case WSAECONNREFUSED:
      return kConnectionRefused;
    case WSAENETUNREACH:
    case WSAENETDOWN:
      return kNetworkUnreachable;
    case WSAEHOSTUNREACH:
    case WSAETIMEDOUT:
      return kHostUnreachable;
    default:
      return kGeneralFailure;
  }
}

struct AddressListDeleter {
  void operator()(addrinfo* list) const { freeaddrinfo(list); }
};
using AddressList = std::unique_ptr<addrinfo, AddressListDeleter>;

// Tries each address the host resolves to, in order: "localhost" may give
// ::1 before 127.0.0.1. On failure, *failure holds the reply code.
win::UniqueSocket ConnectTo(const Request& request, uint8_t* failure) {
  addrinfo hints = {};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  addrinfo* found = nullptr;
  if (request.host.empty() ||
      getaddrinfo(request.host.c_str(), std::to_string(request.port).c_str(),
                  &hints, &found) != 0) {
    *failure = kHostUnreachable;
    return {};
  }
  const AddressList addresses(found);
  *failure = kGeneralFailure;
  for (const addrinfo* entry = found; entry != nullptr;
       entry = entry->ai_next) {
    win::UniqueSocket target(
        socket(entry->ai_family, entry->ai_socktype, entry->ai_protocol));
    if (!target) continue;
    if (connect(target.Get(), entry->ai_addr,
                static_cast<int>(entry->ai_addrlen)) == 0) {
      return target;
    }
    *failure = ReplyForConnectError(WSAGetLastError());
  }
  return {};
}

enum class Flow { kOpen, kEnded, kBroken };

// Moves what has arrived on one side to the other. An orderly end is passed
// on as a half close, so the other direction can still finish.
Flow Forward(SOCKET from, SOCKET to) {
  char buffer[kRelayChunk];
  const int received = recv(from, buffer, sizeof buffer, 0);
  if (received < 0) return Flow::kBroken;
  if (received == 0) {
    shutdown(to, SD_SEND);
    return Flow::kEnded;
  }
  return SendAll(to, buffer, static_cast<size_t>(received)) ? Flow::kOpen
                                                            : Flow::kBroken;
}

void Relay(SOCKET client, SOCKET target) {
  Flow upstream = Flow::kOpen;
  Flow downstream = Flow::kOpen;
  while (upstream == Flow::kOpen || downstream == Flow::kOpen) {
    fd_set readable;
    FD_ZERO(&readable);
    if (upstream == Flow::kOpen) FD_SET(client, &readable);
    if (downstream == Flow::kOpen) FD_SET(target, &readable);
    if (select(0, &readable, nullptr, nullptr, nullptr) <= 0) return;
    if (upstream == Flow::kOpen && FD_ISSET(client, &readable)) {
      upstream = Forward(client, target);
    }
    if (downstream == Flow::kOpen && FD_ISSET(target, &readable)) {
      downstream = Forward(target, client);
    }
    if (upstream == Flow::kBroken || downstream == Flow::kBroken) return;
  }
}

}  // namespace

void ServeSocksClient(win::UniqueSocket client) {
  SetReceiveTimeout(client.Get(), kHandshakeTimeoutMs);
  Request request;
  if (!AcceptGreeting(client.Get()) || !ReadRequest(client.Get(), &request)) {
    return;
  }
  if (request.command != kConnect) {
    SendReply(client.Get(), kCommandNotSupported, nullptr);
    return;
  }
  if (!request.addressSupported) {
    SendReply(client.Get(), kAddressTypeNotSupported, nullptr);
    return;
  }
  uint8_t failure = kGeneralFailure;
  const win::UniqueSocket target = ConnectTo(request, &failure);
  if (!target) {
    SendReply(client.Get(), failure, nullptr);
    return;
  }
  sockaddr_storage bound = {};
  int boundLength = sizeof bound;
  getsockname(target.Get(), reinterpret_cast<sockaddr*>(&bound), &boundLength);
  if (!SendReply(client.Get(), kSucceeded, &bound)) return;
  SetReceiveTimeout(client.Get(), kNoTimeout);
  Relay(client.Get(), target.Get());
}

}  // namespace standin
