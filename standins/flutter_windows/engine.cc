#include "standins/flutter_windows/engine.h"

#include <cstdio>
#include <optional>

#include "standins/flutter_windows/records.h"
#include "win/module.h"
#include "win/text.h"

using standin::DriverConnection;
using standin::DriverFrame;
using standin::LineKind;
namespace frame_kind = standin::frame_kind;

namespace {

// Tells the platform thread that the driver's thread left work for it.
constexpr UINT kWorkPosted = WM_APP + 1;
constexpr char kDriverPortPrefix[] = "--driver-port=";

bool IsAbsolute(const std::wstring& path) {
  return (path.size() >= 2 && path[1] == L':') ||
         (!path.empty() && (path[0] == L'\\' || path[0] == L'/'));
}

std::wstring Resolve(const wchar_t* path) {
  const std::wstring text = path == nullptr ? L"" : path;
  if (text.empty() || IsAbsolute(text)) return text;
  const std::wstring folder = win::ExecutableFolder();
  return (folder.empty() ? L"." : folder) + L"\\" + text;
}

bool IsFolder(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// The last --driver-port=N wins; a malformed one is reported and ignored.
std::optional<uint16_t> DriverPortArgument(
    const std::vector<std::string>& arguments) {
  std::optional<uint16_t> port;
  for (const std::string& argument : arguments) {
    if (argument.rfind(kDriverPortPrefix, 0) != 0) continue;
    const std::string digits = argument.substr(sizeof kDriverPortPrefix - 1);
    unsigned long value = 0;
    bool valid = !digits.empty() && digits.size() <= 5;
    for (char digit : digits) {
      valid = valid && digit >= '0' && digit <= '9';
      value = value * 10 + static_cast<unsigned long>(digit - '0');
    }
    if (valid && value <= 0xFFFF) {
      port = static_cast<uint16_t>(value);
    } else {
      std::fprintf(stderr, "flutter_windows stand-in: ignoring %s\n",
                   argument.c_str());
    }
  }
  return port;
}

std::string QuotedList(const std::vector<std::string>& texts) {
  std::string list = "[";
  for (const std::string& text : texts) {
    if (list.size() > 1) list += ", ";
    list += '"' + text + '"';
  }
  return list + "]";
}

std::string Tag(uint32_t id) { return "#" + std::to_string(id) + " "; }

std::string MessageName(UINT message) {
  char name[16];
  std::snprintf(name, sizeof name, "0x%04x", message);
  return name;
}

uint64_t BigEndian(const uint8_t* bytes, size_t count) {
  uint64_t value = 0;
  for (size_t i = 0; i < count; ++i) value = value << 8 | bytes[i];
  return value;
}

}  // namespace

std::unique_ptr<FlutterDesktopEngine> FlutterDesktopEngine::Create(
    const FlutterDesktopEngineProperties& properties) {
  const std::wstring assets = Resolve(properties.assets_path);
  if (!IsFolder(assets)) {
    std::fprintf(stderr,
                 "flutter_windows stand-in: no assets folder at %s; the "
                 "engine cannot start\n",
                 win::WideToUtf8(assets).c_str());
    std::fflush(stderr);
    return nullptr;
  }
  return std::unique_ptr<FlutterDesktopEngine>(
      new FlutterDesktopEngine(properties));
}

FlutterDesktopEngine::FlutterDesktopEngine(
    const FlutterDesktopEngineProperties& properties)
    : entrypoint(properties.dart_entrypoint ? properties.dart_entrypoint : ""),
      messenger(new FlutterDesktopMessenger(this)) {
  standin::ObjectBorn(standin::ObjectKind::kEngine, this);
  if (properties.dart_entrypoint_argv != nullptr) {
    for (int32_t i = 0; i < properties.dart_entrypoint_argc; ++i) {
      const char* argument = properties.dart_entrypoint_argv[i];
      arguments.emplace_back(argument ? argument : "");
    }
  }
}

FlutterDesktopEngine::~FlutterDesktopEngine() {
  standin::ObjectEnding(standin::ObjectKind::kEngine, this);
  messenger->Detach();
  if (server) server->Stop();
  AbandonEverything();
  server.reset();
  messageWindow.Reset();
  messenger->Release();
  standin::ObjectEnded(this);
}

bool FlutterDesktopEngine::Run(standin::EngineHost* runningHost) {
  host = runningHost;
  messageWindow.Reset(standin::CreateClassWindow(this, 0, HWND_MESSAGE, 0, 0));
  if (!messageWindow.Valid()) return false;
  transcript.Add(LineKind::kEvent, "engine started, entry point \"" +
                                       entrypoint + "\", arguments " +
                                       QuotedList(arguments));
  OpenDriverPort();
  return true;
}

void FlutterDesktopEngine::OpenDriverPort() {
  const std::optional<uint16_t> port = DriverPortArgument(arguments);
  if (!port) {
    transcript.Add(LineKind::kEvent, "no --driver-port argument: no driver");
    return;
  }
  server.reset(new standin::DriverServer(this));
  if (!server->Start(*port)) {
    server.reset();
    transcript.Add(LineKind::kProblem, "driver port could not be opened");
    return;
  }
  const std::string address = "127.0.0.1:" + std::to_string(server->Port());
  // Scripts that asked for port 0 read the port from this line.
  std::fprintf(stderr, "flutter_windows stand-in: driver listening on %s\n",
               address.c_str());
  std::fflush(stderr);
  transcript.Add(LineKind::kEvent, "driver listening on " + address);
}

void FlutterDesktopEngine::SetNextFrameCallback(
    FlutterDesktopOnNextFrameCallback callback, void* userData) {
  nextFrameCallback = callback;
  nextFrameUserData = userData;
}

void FlutterDesktopEngine::OnFrameDrawn() {
  ++framesDrawn;
  if (nextFrameCallback == nullptr) return;
  const FlutterDesktopOnNextFrameCallback callback = nextFrameCallback;
  void* const userData = nextFrameUserData;
  nextFrameCallback = nullptr;
  nextFrameUserData = nullptr;
  transcript.Add(LineKind::kEvent, "frame " + std::to_string(framesDrawn) +
                                       " drawn, next-frame callback run");
  callback(userData);
}

void FlutterDesktopEngine::ReloadSystemFonts() {
  // The view picks its font for every frame, so a new frame is all it takes.
  transcript.Add(LineKind::kEvent, "system fonts reloaded");
}

bool FlutterDesktopEngine::TakeClaim(UINT message, LRESULT* result) {
  const auto claim = claims.find(message);
  if (claim == claims.end()) return false;
  *result = claim->second;
  claims.erase(claim);
  standin::Record("claimed message " + MessageName(message) + ", result " +
                  std::to_string(*result));
  return true;
}

void FlutterDesktopEngine::SetChannelCallback(
    const std::string& channel, FlutterDesktopMessageCallback callback,
    void* userData) {
  if (callback == nullptr) {
    channels.erase(channel);
  } else {
    channels[channel] = {callback, userData};
  }
}

void FlutterDesktopEngine::SendToDriver(const std::string& channel,
                                        const uint8_t* message, size_t size,
                                        FlutterDesktopBinaryReply reply,
                                        void* userData) {
  uint32_t id = 0;
  {
    std::lock_guard<std::mutex> lock(stateMutex);
    id = nextHostMessageId++;
    if (reply != nullptr) hostMessages[id] = {reply, userData};
  }
  transcript.Add(LineKind::kCall, "host " + Tag(id) + channel + ": " +
                                      standin::DescribeMessage(message, size));
  const std::shared_ptr<DriverConnection> driver =
      server ? server->Connection() : nullptr;
  DriverFrame frame{frame_kind::kMessage, id, channel,
                    std::vector<uint8_t>(message, message + size)};
  if (driver && driver->Send(frame)) return;
  // Like a user interface with no handler for the channel: an empty reply.
  transcript.Add(LineKind::kProblem, "host " + Tag(id) + "no driver connected");
  if (reply != nullptr) {
    Post({Work::Kind::kReplyToHost, nullptr, id, channel, {}});
  }
}

void FlutterDesktopEngine::Respond(
    const FlutterDesktopMessageResponseHandle* handle, const uint8_t* data,
    size_t size) {
  std::unique_ptr<FlutterDesktopMessageResponseHandle> answered;
  {
    std::lock_guard<std::mutex> lock(stateMutex);
    const auto found = outstanding.find(handle);
    if (found != outstanding.end()) {
      answered = std::move(found->second);
      outstanding.erase(found);
    }
  }
  if (!answered) {
    std::fprintf(stderr,
                 "flutter_windows stand-in: ignoring a response for a "
                 "message that is not waiting for one\n");
    return;
  }
  answered->from->Send({frame_kind::kReply, answered->driverId, "",
                        std::vector<uint8_t>(data, data + size)});
  transcript.Add(LineKind::kReply, Tag(answered->driverId) + "reply: " +
                                       standin::DescribeReply(data, size));
}

LRESULT FlutterDesktopEngine::HandleWindowMessage(HWND window, UINT message,
                                                  WPARAM wparam,
                                                  LPARAM lparam) {
  if (message == kWorkPosted) {
    DoPostedWork();
    return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

void FlutterDesktopEngine::OnDriverFrame(
    const std::shared_ptr<DriverConnection>& from, DriverFrame frame) {
  switch (frame.kind) {
    case frame_kind::kMessage:
      Post({Work::Kind::kDriverMessage, from, frame.id,
            std::move(frame.channel), std::move(frame.payload)});
      break;
    case frame_kind::kReply:
      Post({Work::Kind::kReplyToHost, from, frame.id, "",
            std::move(frame.payload)});
      break;
    case frame_kind::kTranscript: {
      const std::string text = transcript.Text();
      from->Send({frame_kind::kTranscript, frame.id, "",
                  std::vector<uint8_t>(text.begin(), text.end())});
      break;
    }
    case frame_kind::kClose:
      from->Send({frame_kind::kClose, frame.id, "", {}});
      Post({Work::Kind::kCloseWindow, from, frame.id, "", {}});
      break;
    case frame_kind::kRecords: {
      const std::string text = standin::RecordsText();
      from->Send({frame_kind::kRecords, frame.id, "",
                  std::vector<uint8_t>(text.begin(), text.end())});
      break;
    }
    case frame_kind::kClaim:
      Post({Work::Kind::kClaim, from, frame.id, "", std::move(frame.payload)});
      break;
    default:
      transcript.Add(LineKind::kProblem, "driver sent an unknown frame kind");
      break;
  }
}

void FlutterDesktopEngine::OnDriverConnectionChange(bool connected) {
  transcript.Add(LineKind::kEvent,
                 connected ? "driver connected" : "driver disconnected");
}

void FlutterDesktopEngine::Post(Work work) {
  {
    std::lock_guard<std::mutex> lock(stateMutex);
    posted.push_back(std::move(work));
  }
  // Before Run there is no platform thread yet; Run's first frame comes
  // after, and the work waits in the queue until a later wake-up.
  if (messageWindow.Valid()) {
    PostMessageW(messageWindow.Get(), kWorkPosted, 0, 0);
  }
}

void FlutterDesktopEngine::DoPostedWork() {
  // One item at a time: a handler may pump messages and re-enter here.
  for (;;) {
    Work work;
    {
      std::lock_guard<std::mutex> lock(stateMutex);
      if (posted.empty()) return;
      work = std::move(posted.front());
      posted.pop_front();
    }
    switch (work.kind) {
      case Work::Kind::kDriverMessage:
        DeliverDriverMessage(work);
        break;
      case Work::Kind::kReplyToHost:
        DeliverReplyToHost(work);
        break;
      case Work::Kind::kCloseWindow:
        transcript.Add(LineKind::kEvent, "driver asked to close the window");
        if (host) host->CloseWindow();
        break;
      case Work::Kind::kClaim:
        PlaceClaim(work);
        break;
    }
  }
}

void FlutterDesktopEngine::DeliverDriverMessage(const Work& work) {
  const std::string summary =
      Tag(work.id) + work.channel + ": " +
      standin::DescribeMessage(work.bytes.data(), work.bytes.size());
  const auto receiver = channels.find(work.channel);
  if (receiver == channels.end()) {
    work.from->Send({frame_kind::kUnhandled, work.id, "", {}});
    transcript.Add(LineKind::kProblem, summary + " (no handler)");
    return;
  }
  const ChannelReceiver target = receiver->second;
  auto handle = std::make_unique<FlutterDesktopMessageResponseHandle>();
  const FlutterDesktopMessageResponseHandle* responseHandle = handle.get();
  handle->from = work.from;
  handle->driverId = work.id;
  uint64_t serial = 0;
  {
    std::lock_guard<std::mutex> lock(stateMutex);
    serial = handle->serial = nextSerial++;
    outstanding.emplace(responseHandle, std::move(handle));
  }
  transcript.Add(LineKind::kCall, summary);
  // A message always comes with readable bytes, even an empty one.
  static const uint8_t kNoBytes = 0;
  const FlutterDesktopMessage message = {
      sizeof(FlutterDesktopMessage), work.channel.c_str(),
      work.bytes.empty() ? &kNoBytes : work.bytes.data(), work.bytes.size(),
      responseHandle};
  target.callback(messenger, &message, target.userData);
  ReportIfUnanswered(responseHandle, serial);
}

void FlutterDesktopEngine::ReportIfUnanswered(
    const FlutterDesktopMessageResponseHandle* handle, uint64_t serial) {
  std::lock_guard<std::mutex> lock(stateMutex);
  const auto found = outstanding.find(handle);
  if (found == outstanding.end() || found->second->serial != serial) return;
  // Written under the lock, so that a reply from another thread cannot
  // overtake it on the connection.
  found->second->from->Send(
      {frame_kind::kPending, found->second->driverId, "", {}});
  transcript.Add(LineKind::kProblem,
                 Tag(found->second->driverId) + "no reply yet");
}

void FlutterDesktopEngine::DeliverReplyToHost(const Work& work) {
  HostMessage waiting{};
  {
    std::lock_guard<std::mutex> lock(stateMutex);
    const auto found = hostMessages.find(work.id);
    if (found == hostMessages.end()) return;
    waiting = found->second;
    hostMessages.erase(found);
  }
  transcript.Add(
      LineKind::kReply,
      "host " + Tag(work.id) + "reply: " +
          standin::DescribeReply(work.bytes.data(), work.bytes.size()));
  waiting.reply(work.bytes.empty() ? nullptr : work.bytes.data(),
                work.bytes.size(), waiting.userData);
}

void FlutterDesktopEngine::PlaceClaim(const Work& work) {
  if (work.bytes.size() != 12) {
    transcript.Add(LineKind::kProblem, "driver sent a claim of " +
                                           std::to_string(work.bytes.size()) +
                                           " bytes, not 12");
    return;
  }
  claims[static_cast<UINT>(BigEndian(work.bytes.data(), 4))] =
      static_cast<LRESULT>(
          static_cast<int64_t>(BigEndian(work.bytes.data() + 4, 8)));
  // Acknowledged only now: a message sent after the answer finds the claim.
  work.from->Send({frame_kind::kClaim, work.id, "", {}});
}

void FlutterDesktopEngine::AbandonEverything() {
  std::deque<Work> leftWork;
  Outstanding leftHandles;
  {
    std::lock_guard<std::mutex> lock(stateMutex);
    leftWork.swap(posted);
    leftHandles.swap(outstanding);
  }
  for (const Work& work : leftWork) {
    if (work.kind == Work::Kind::kDriverMessage) {
      work.from->Send({frame_kind::kAbandoned, work.id, "", {}});
    } else if (work.kind == Work::Kind::kReplyToHost) {
      DeliverReplyToHost(work);
    }
  }
  for (const auto& entry : leftHandles) {
    entry.second->from->Send(
        {frame_kind::kAbandoned, entry.second->driverId, "", {}});
  }
  // Every host message gets its one reply, an empty one at the latest now.
  std::map<uint32_t, HostMessage> leftHostMessages;
  {
    std::lock_guard<std::mutex> lock(stateMutex);
    leftHostMessages.swap(hostMessages);
  }
  for (const auto& entry : leftHostMessages) {
    entry.second.reply(nullptr, 0, entry.second.userData);
  }
}
