#include "standins/flutter_windows/driver_server.h"

#include <ws2tcpip.h>

#include <algorithm>
#include <cstdio>

namespace standin {
namespace {

// How often the reading thread looks at the stop flag; closing a socket does
// not reliably wake a select() in progress.
constexpr long kPollMicroseconds = 50 * 1000;
constexpr size_t kReadChunk = 64 * 1024;

}  // namespace

DriverConnection::DriverConnection(win::UniqueSocket socket)
    : socket(std::move(socket)) {}

bool DriverConnection::Send(const DriverFrame& frame) {
  const std::vector<uint8_t> bytes = EncodeFrame(frame);
  std::lock_guard<std::mutex> lock(writeMutex);
  size_t sent = 0;
  while (open && sent < bytes.size()) {
    const size_t chunk = std::min<size_t>(bytes.size() - sent, 1 << 20);
    const int result =
        send(socket.Get(), reinterpret_cast<const char*>(bytes.data() + sent),
             static_cast<int>(chunk), 0);
    if (result <= 0) {
      open = false;
      break;
    }
    sent += static_cast<size_t>(result);
  }
  return open;
}

void DriverConnection::Shutdown() {
  std::lock_guard<std::mutex> lock(writeMutex);
  if (!open) return;
  open = false;
  shutdown(socket.Get(), SD_BOTH);
}

DriverServer::DriverServer(Listener* listener) : listener(listener) {}

DriverServer::~DriverServer() {
  Stop();
  if (connection) connection->Shutdown();
}

bool DriverServer::Start(uint16_t requestedPort) {
  if (!winsock.Started()) {
    std::fprintf(stderr, "flutter_windows stand-in: Winsock unavailable\n");
    return false;
  }
  listening.Reset(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(requestedPort);
  int length = sizeof address;
  if (!listening.Valid() ||
      bind(listening.Get(), reinterpret_cast<sockaddr*>(&address),
           sizeof address) != 0 ||
      listen(listening.Get(), 4) != 0 ||
      getsockname(listening.Get(), reinterpret_cast<sockaddr*>(&address),
                  &length) != 0) {
    std::fprintf(stderr,
                 "flutter_windows stand-in: cannot listen on 127.0.0.1:%u "
                 "(error %d)\n",
                 requestedPort, WSAGetLastError());
    listening.Reset();
    return false;
  }
  port = ntohs(address.sin_port);
  stopping = false;
  thread = std::thread([this] { Serve(); });
  return true;
}

void DriverServer::Stop() {
  stopping = true;
  if (thread.joinable()) thread.join();
  listening.Reset();
}

std::shared_ptr<DriverConnection> DriverServer::Connection() const {
  std::lock_guard<std::mutex> lock(connectionMutex);
  return connection;
}

void DriverServer::Serve() {
  while (!stopping) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(listening.Get(), &readable);
    if (connection) FD_SET(connection->Socket(), &readable);
    timeval timeout = {0, kPollMicroseconds};
    const int ready = select(0, &readable, nullptr, nullptr, &timeout);
    if (ready == SOCKET_ERROR) Sleep(kPollMicroseconds / 1000);
    if (ready <= 0) continue;
    // What the current driver sent is read before a newcomer replaces it.
    if (connection && FD_ISSET(connection->Socket(), &readable) &&
        !ReadFrames()) {
      DropConnection();
    }
    if (FD_ISSET(listening.Get(), &readable)) AcceptConnection();
  }
}

void DriverServer::AcceptConnection() {
  win::UniqueSocket accepted(accept(listening.Get(), nullptr, nullptr));
  if (!accepted.Valid()) return;
  if (connection) DropConnection();
  BOOL noDelay = TRUE;
  setsockopt(accepted.Get(), IPPROTO_TCP, TCP_NODELAY,
             reinterpret_cast<const char*>(&noDelay), sizeof noDelay);
  reader = FrameReader();
  {
    std::lock_guard<std::mutex> lock(connectionMutex);
    connection = std::make_shared<DriverConnection>(std::move(accepted));
  }
  listener->OnDriverConnectionChange(true);
}

bool DriverServer::ReadFrames() {
  std::vector<char> chunk(kReadChunk);
  const int received = recv(connection->Socket(), chunk.data(), kReadChunk, 0);
  if (received <= 0) return false;
  reader.Append(reinterpret_cast<const uint8_t*>(chunk.data()),
                static_cast<size_t>(received));
  DriverFrame frame;
  for (;;) {
    switch (reader.Next(&frame)) {
      case FrameReader::Result::kFrame:
        listener->OnDriverFrame(connection, std::move(frame));
        frame = DriverFrame();
        break;
      case FrameReader::Result::kNeedMore:
        return true;
      case FrameReader::Result::kMalformed:
        return false;
    }
  }
}

void DriverServer::DropConnection() {
  std::shared_ptr<DriverConnection> dropped;
  {
    std::lock_guard<std::mutex> lock(connectionMutex);
    dropped.swap(connection);
  }
  dropped->Shutdown();
  listener->OnDriverConnectionChange(false);
}

}  // namespace standin
