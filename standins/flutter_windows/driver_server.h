// The TCP side of the driver connection: listens on 127.0.0.1, reads frames
// on its own thread and hands them to a listener; frames are written from any
// thread.
#ifndef STANDINS_FLUTTER_WINDOWS_DRIVER_SERVER_H_
#define STANDINS_FLUTTER_WINDOWS_DRIVER_SERVER_H_

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "standins/flutter_windows/driver_protocol.h"
#include "win/handles.h"

namespace standin {

class DriverConnection {
 public:
  explicit DriverConnection(win::UniqueSocket socket);

  // Any thread; false once the connection is closed or broken.
  bool Send(const DriverFrame& frame);
  // Ends the conversation; the socket itself closes with the last owner, so
  // that the reading thread never selects on a closed socket.
  void Shutdown();
  SOCKET Socket() const { return socket.Get(); }

 private:
  std::mutex writeMutex;
  bool open = true;
  win::UniqueSocket socket;
};

// Serves one driver at a time: a new connection replaces the one before, so
// that a driver that went away without closing cannot lock the next one out.
// Answers still due to the replaced driver are dropped.
class DriverServer {
 public:
  // Called on the server's thread.
  class Listener {
   public:
    virtual void OnDriverFrame(const std::shared_ptr<DriverConnection>& from,
                               DriverFrame frame) = 0;
    virtual void OnDriverConnectionChange(bool connected) = 0;

   protected:
    ~Listener() = default;
  };

  explicit DriverServer(Listener* listener);
  // Stops the thread and closes the connection.
  ~DriverServer();
  DriverServer(const DriverServer&) = delete;
  DriverServer& operator=(const DriverServer&) = delete;

  // Listens on 127.0.0.1:port (0: a free port the system picks) and starts
  // serving; false, with the reason on standard error, when it cannot.
  bool Start(uint16_t port);
  uint16_t Port() const { return port; }

  // Ends the reading thread; the connection stays open so that final
  // answers can still be written, until the server goes.
  void Stop();

  // The driver's connection, or none.
  std::shared_ptr<DriverConnection> Connection() const;

 private:
  void Serve();
  void AcceptConnection();
  // False when the connection ended or sent something that is not a frame.
  bool ReadFrames();
  void DropConnection();

  Listener* listener;
  win::WinsockSession winsock;
  win::UniqueSocket listening;
  uint16_t port = 0;
  std::thread thread;
  std::atomic<bool> stopping{false};
  // Only the reading thread changes the connection; other threads look it up
  // under the lock.
  mutable std::mutex connectionMutex;
  std::shared_ptr<DriverConnection> connection;
  FrameReader reader;
};

}  // namespace standin

#endif  // STANDINS_FLUTTER_WINDOWS_DRIVER_SERVER_H_
