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
  CloseConnections();
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

void DriverServer::CloseConnections() {
  std::lock_guard<std::mutex> lock(connectionsMutex);
  for (OpenConnection& open : connections) open.connection->Shutdown();
  connections.clear();
}

std::shared_ptr<DriverConnection> DriverServer::LatestConnection() const {
  std::lock_guard<std::mutex> lock(connectionsMutex);
  if (connections.empty()) return nullptr;
  return connections.back().connection;
}

void DriverServer::Serve() {
  while (!stopping) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(listening.Get(), &readable);
    for (const OpenConnection& open : connections) {
      FD_SET(open.connection->Socket(), &readable);
    }
    timeval timeout = {0, kPollMicroseconds};
    const int ready = select(0, &readable, nullptr, nullptr, &timeout);
    if (ready == SOCKET_ERROR) Sleep(kPollMicroseconds / 1000);
    if (ready <= 0) continue;
    if (FD_ISSET(listening.Get(), &readable)) AcceptConnection();
    for (size_t i = connections.size(); i-- > 0;) {
      if (FD_ISSET(connections[i].connection->Socket(), &readable) &&
          !ReadFrames(connections[i])) {
        DropConnection(i);
      }
    }
  }
}

void DriverServer::AcceptConnection() {
  win::UniqueSocket accepted(accept(listening.Get(), nullptr, nullptr));
  if (!accepted.Valid()) return;
  // select() takes at most FD_SETSIZE sockets; a driver needs one or two.
  if (connections.size() + 1 >= FD_SETSIZE) return;
  BOOL noDelay = TRUE;
  setsockopt(accepted.Get(), IPPROTO_TCP, TCP_NODELAY,
             reinterpret_cast<const char*>(&noDelay), sizeof noDelay);
  {
    std::lock_guard<std::mutex> lock(connectionsMutex);
    connections.push_back(
        {std::make_shared<DriverConnection>(std::move(accepted)), {}});
  }
  listener->OnDriverConnectionChange(true);
}

bool DriverServer::ReadFrames(OpenConnection& open) {
  std::vector<char> chunk(kReadChunk);
  const int received =
      recv(open.connection->Socket(), chunk.data(), kReadChunk, 0);
  if (received <= 0) return false;
  open.reader.Append(reinterpret_cast<const uint8_t*>(chunk.data()),
                     static_cast<size_t>(received));
  DriverFrame frame;
  for (;;) {
    switch (open.reader.Next(&frame)) {
      case FrameReader::Result::kFrame:
        listener->OnDriverFrame(open.connection, std::move(frame));
        frame = DriverFrame();
        break;
      case FrameReader::Result::kNeedMore:
        return true;
      case FrameReader::Result::kMalformed:
        return false;
    }
  }
}

void DriverServer::DropConnection(size_t index) {
  std::shared_ptr<DriverConnection> dropped;
  {
    std::lock_guard<std::mutex> lock(connectionsMutex);
    dropped = std::move(connections[index].connection);
    connections.erase(connections.begin() + index);
  }
  dropped->Shutdown();
  listener->OnDriverConnectionChange(false);
}

}  // namespace standin
