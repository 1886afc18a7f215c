#include "core/xray_channel_handler.h"

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "core/traffic_stats.h"
#include "core/version_file.h"

namespace core {
namespace {

using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;
using Result = flutter::MethodResult<EncodableValue>;

// The entry `key` of an argument map when it holds exactly a T; otherwise
// (no arguments, not a map, no such key, another type) `fallback`.
template <typename T>
T ArgumentOr(const EncodableValue* arguments, const char* key, T fallback) {
  const auto* map = arguments ? std::get_if<EncodableMap>(arguments) : nullptr;
  if (!map) return fallback;
  const auto entry = map->find(EncodableValue(key));
  if (entry == map->end()) return fallback;
  const T* value = std::get_if<T>(&entry->second);
  return value ? *value : fallback;
}

void CheckXrayInstalled(CoreManager& manager, const EncodableValue*,
                        Result& result) {
  result.Success(EncodableValue(manager.CheckXrayInstalled()));
}

void AnswerDownload(CoreManager& manager, Result& result, const char* code,
                    const char* message) {
  if (!manager.DownloadXray()) {
    result.Error(code, message);
    return;
  }
  try {
    WriteXrayVersion(manager.layout(), "latest");
  } catch (const std::filesystem::filesystem_error&) {
    // The core is in place; only its marker is missing, which reads back
    // as unknown.
  }
  result.Success();
}

void DownloadXray(CoreManager& manager, const EncodableValue*, Result& result) {
  AnswerDownload(manager, result, "download_failed", "download failed");
}

void UpdateXray(CoreManager& manager, const EncodableValue*, Result& result) {
  AnswerDownload(manager, result, "update_failed", "update failed");
}

void GetXrayVersion(CoreManager& manager, const EncodableValue*,
                    Result& result) {
  std::string version = kUnknownVersion;
  try {
    version = ReadXrayVersion(manager.layout());
  } catch (const std::filesystem::filesystem_error&) {
    // A core folder that cannot be reached has no known version.
  }
  result.Success(EncodableValue(std::move(version)));
}

void StartXray(CoreManager& manager, const EncodableValue* arguments,
               Result& result) {
  const std::string config = ArgumentOr<std::string>(arguments, "config", "{}");
  const bool systemProxy = ArgumentOr<bool>(arguments, "systemProxy", true);
  const int32_t localPort =
      ArgumentOr<int32_t>(arguments, "localPort", kDefaultLocalPort);
  if (manager.StartXray(config, systemProxy, localPort)) {
    result.Success();
  } else {
    result.Error("start_failed", "start failed");
  }
}

void SetSystemProxy(CoreManager& manager, const EncodableValue* arguments,
                    Result& result) {
  const bool enabled = ArgumentOr<bool>(arguments, "enabled", false);
  const int32_t port = ArgumentOr<int32_t>(arguments, "localPort",
                                           manager.process().lastLocalPort);
  if (manager.SetSystemProxy(enabled, port)) {
    result.Success();
  } else {
    result.Error("proxy_failed", "proxy update failed");
  }
}

void StopXray(CoreManager& manager, const EncodableValue*, Result& result) {
  manager.StopXray();
  result.Success();
}

void GetLogs(CoreManager& manager, const EncodableValue*, Result& result) {
  std::vector<std::string> snapshot = manager.log().LogSnapshot();
  EncodableList lines;
  lines.reserve(snapshot.size());
  for (std::string& line : snapshot) lines.emplace_back(std::move(line));
  result.Success(EncodableValue(std::move(lines)));
}

void GetTrafficStats(CoreManager& manager, const EncodableValue*,
                     Result& result) {
  const TrafficRates rates =
      GetTrafficStats(manager.platform(), manager.trafficSample());
  // Emplaced rather than listed: an initializer list's entries would be
  // copied into the map.
  EncodableMap reply;
  reply.emplace(EncodableValue("upKbps"), EncodableValue(rates.upKbps));
  reply.emplace(EncodableValue("downKbps"), EncodableValue(rates.downKbps));
  result.Success(EncodableValue(std::move(reply)));
}

struct Method {
  // A view, so that most names are told apart by their length alone.
  std::string_view name;
  void (*run)(CoreManager&, const EncodableValue* arguments, Result&);
};

// Tried in this order; a name matches only byte for byte.
constexpr Method kMethods[] = {
    {"checkXrayInstalled", CheckXrayInstalled},
    {"downloadXray", DownloadXray},
    {"updateXray", UpdateXray},
    {"getXrayVersion", GetXrayVersion},
    {"startXray", StartXray},
    {"setSystemProxy", SetSystemProxy},
    {"stopXray", StopXray},
    {"getLogs", GetLogs},
    {"getTrafficStats", GetTrafficStats},
};

}  // namespace

void XrayChannelHandler::operator()(
    const flutter::MethodCall<EncodableValue>& call,
    std::unique_ptr<Result> result) const {
  for (const Method& method : kMethods) {
    if (call.method_name() == method.name) {
      method.run(*manager_, call.arguments(), *result);
      return;
    }
  }
  result->NotImplemented();
}

}  // namespace core
