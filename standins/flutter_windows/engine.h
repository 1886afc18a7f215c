// The stand-in engine. It has no Dart side: its "user interface" is the
// driver connection, whose messages it delivers to the host's channel
// handlers on the platform thread, and whose replies it carries back.
#ifndef STANDINS_FLUTTER_WINDOWS_ENGINE_H_
#define STANDINS_FLUTTER_WINDOWS_ENGINE_H_

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "messaging/flutter_windows.h"
#include "standins/flutter_windows/driver_server.h"
#include "standins/flutter_windows/messenger.h"
#include "standins/flutter_windows/transcript.h"
#include "standins/flutter_windows/window_class.h"
#include "win/handles.h"

// What the host gets with each incoming message and gives back with its
// answer.
struct FlutterDesktopMessageResponseHandle {
  std::shared_ptr<standin::DriverConnection> from;
  uint32_t driverId = 0;
  // Tells a handle from a later one at the same address.
  uint64_t serial = 0;
};

// No plug-ins run here: every name gets the engine's one registrar, a valid
// handle that nothing uses.
struct FlutterDesktopPluginRegistrar {};

namespace standin {

// What the engine needs from the view controller that runs it.
class EngineHost {
 public:
  // Asks the host's top-level window to close, as a user would.
  virtual void CloseWindow() = 0;

 protected:
  ~EngineHost() = default;
};

}  // namespace standin

struct FlutterDesktopEngine final : private standin::WindowTarget,
                                    private standin::DriverServer::Listener {
 public:
  // Copies only the entry point and its arguments: with no Dart code to run,
  // the other files and options mean nothing here. A relative assets path is
  // taken from the executable's folder. Null, with the reason on standard
  // error, when the assets folder does not exist.
  static std::unique_ptr<FlutterDesktopEngine> Create(
      const FlutterDesktopEngineProperties& properties);
  // The messenger becomes unavailable; driver messages still unanswered are
  // reported abandoned, and host messages still waiting for the driver get
  // an empty reply.
  ~FlutterDesktopEngine();
  FlutterDesktopEngine(const FlutterDesktopEngine&) = delete;
  FlutterDesktopEngine& operator=(const FlutterDesktopEngine&) = delete;

  FlutterDesktopMessenger* Messenger() const { return messenger; }
  // From the view controller's creation on, only the controller may end
  // the engine.
  void SetOwnedByController() { ownedByController = true; }
  bool OwnedByController() const { return ownedByController; }
  standin::Transcript& Log() { return transcript; }
  // 0 while there is no driver connection to be had.
  uint16_t DriverPort() const { return server ? server->Port() : 0; }

  // Runs the engine on the calling thread, which becomes the platform
  // thread, and opens the driver port given as --driver-port=N (0: any free
  // port) among the entry-point arguments. False when it cannot run.
  bool Run(standin::EngineHost* host);

  void SetNextFrameCallback(FlutterDesktopOnNextFrameCallback callback,
                            void* userData);
  // The view drew a frame: a pending next-frame callback runs now.
  void OnFrameDrawn();
  void ReloadSystemFonts();
  // True, with the result the driver gave, when the driver asked to claim
  // the next message of this kind; the claim is then used up.
  bool TakeClaim(UINT message, LRESULT* result);
  FlutterDesktopPluginRegistrar* PluginRegistrar() { return &registrar; }

  // Messenger operations; the caller holds the messenger's lock.
  void SetChannelCallback(const std::string& channel,
                          FlutterDesktopMessageCallback callback,
                          void* userData);
  // Host messages go to the driver; without a driver the reply is empty.
  void SendToDriver(const std::string& channel, const uint8_t* message,
                    size_t size, FlutterDesktopBinaryReply reply,
                    void* userData);
  // A handle that is not waiting for an answer is ignored with a line on
  // standard error.
  void Respond(const FlutterDesktopMessageResponseHandle* handle,
               const uint8_t* data, size_t size);

 private:
  struct ChannelReceiver {
    FlutterDesktopMessageCallback callback;
    void* userData;
  };
  struct HostMessage {
    FlutterDesktopBinaryReply reply;
    void* userData;
  };
  // Work the driver's thread hands to the platform thread.
  struct Work {
    enum class Kind { kDriverMessage, kReplyToHost, kCloseWindow, kClaim } kind;
    std::shared_ptr<standin::DriverConnection> from;
    uint32_t id = 0;
    std::string channel;
    std::vector<uint8_t> bytes;
  };
  using Outstanding =
      std::map<const FlutterDesktopMessageResponseHandle*,
               std::unique_ptr<FlutterDesktopMessageResponseHandle>>;

  explicit FlutterDesktopEngine(
      const FlutterDesktopEngineProperties& properties);

  LRESULT HandleWindowMessage(HWND window, UINT message, WPARAM wparam,
                              LPARAM lparam) override;
  void OnDriverFrame(const std::shared_ptr<standin::DriverConnection>& from,
                     standin::DriverFrame frame) override;
  void OnDriverConnectionChange(bool connected) override;

  void OpenDriverPort();
  void Post(Work work);
  void DoPostedWork();
  void DeliverDriverMessage(const Work& work);
  void ReportIfUnanswered(const FlutterDesktopMessageResponseHandle* handle,
                          uint64_t serial);
  void DeliverReplyToHost(const Work& work);
  void PlaceClaim(const Work& work);
  void AbandonEverything();

  std::string entrypoint;
  std::vector<std::string> arguments;

  FlutterDesktopMessenger* messenger;
  standin::Transcript transcript;
  standin::WindowClassLease classLease;
  standin::EngineHost* host = nullptr;
  win::UniqueWindow messageWindow;
  std::unique_ptr<standin::DriverServer> server;

  // Platform thread only.
  std::map<std::string, ChannelReceiver> channels;
  FlutterDesktopOnNextFrameCallback nextFrameCallback = nullptr;
  void* nextFrameUserData = nullptr;
  uint64_t framesDrawn = 0;
  FlutterDesktopPluginRegistrar registrar;
  bool ownedByController = false;
  std::map<UINT, LRESULT> claims;

  // Shared with the driver's thread and with replies from any thread.
  std::mutex stateMutex;
  std::deque<Work> posted;
  Outstanding outstanding;
  uint64_t nextSerial = 1;
  std::map<uint32_t, HostMessage> hostMessages;
  uint32_t nextHostMessageId = 1;
};

#endif  // STANDINS_FLUTTER_WINDOWS_ENGINE_H_
