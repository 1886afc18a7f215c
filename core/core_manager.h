// The core manager's process-wide state, and the operations that start, stop,
// install and download the external core (xray.exe).

#ifndef CORE_CORE_MANAGER_H_
#define CORE_CORE_MANAGER_H_

#include <cstdint>
#include <memory>
#include <string>

#include "core/activity_log.h"
#include "core/core_layout.h"
#include "core/local_port.h"
#include "core/platform.h"
#include "core/traffic_stats.h"

namespace core {

// Where the newest 64-bit Windows build of the core is published.
inline constexpr wchar_t kXrayDownloadUrl[] =
    L"https://github.com/XTLS/Xray-core/releases/latest/download/"
    L"Xray-windows-64.zip";

// "<xray.exe>" run -c "<config.json>"
std::wstring CoreCommandLine(const std::wstring& xrayExe,
                             const std::wstring& configFile);

// The PowerShell Expand-Archive call that unpacks `archive` into `folder`.
// Each quote character PowerShell accepts as a single quote is doubled, so
// that any path stays one literal, and `folder`'s [, ] and backticks are
// escaped with a backtick, so that its wildcard reading names only itself.
std::wstring ExtractionCommandLine(const std::wstring& archive,
                                   const std::wstring& folder);

// The core the host started last and believes running.
struct CoreProcess {
  std::unique_ptr<Process> processHandle;
  int32_t lastLocalPort = kDefaultLocalPort;
};

// Created once by the entry point; everything runs on the platform thread.
// No operation throws: a file-system failure is logged and reported as the
// operation's failure.
class CoreManager {
 public:
  explicit CoreManager(Platform& platform);
  // Leaves a running core running and the proxy as it is: only StopXray
  // ends the core.
  ~CoreManager();
  CoreManager(const CoreManager&) = delete;
  CoreManager& operator=(const CoreManager&) = delete;

  // True when xray.exe is in the core folder afterwards; never copies over an
  // existing core. Marks the version "bundled" after a copy.
  bool InstallShippedXray();
  // True when xray.exe is in the core folder, installing the shipped copy
  // when it is not; false also when the core folder cannot be made.
  bool CheckXrayInstalled();
  // Marks the connection as wanted, writes config.json, starts the core
  // hidden and, when it is still running 1200 ms later, switches the system
  // proxy; true when it runs. A core started earlier, by this run of the
  // host or by an earlier one from the same folder, is ended first, once the
  // new configuration is written, but one from the same folder only while
  // no other process wants a connection; a configuration that cannot be
  // written fails the start and ends nothing. A failed start drops the mark;
  // if it ended this host's recorded core, it switches the proxy off only
  // while it is exactly the one pointing at lastLocalPort, otherwise only
  // when the dead-proxy check would.
  bool StartXray(const std::string& config, bool systemProxy,
                 int32_t localPort);
  // Drops the connection's mark, ends the recorded core and, while no other
  // process wants a connection, any other running from this host's core
  // folder (waiting for each, bounded), and switches the system proxy off;
  // always logs.
  void StopXray();
  // Downloads the archive at `url`, unpacks it and puts its xray.exe in
  // place; true on success. Exactly one status line per call.
  bool DownloadXray(const std::wstring& url = kXrayDownloadUrl);
  // Stores the normalised port as lastLocalPort, then switches the proxy;
  // false when the settings could not be written.
  bool SetSystemProxy(bool enabled, int32_t port);
  // Switches the host's own system proxy off when nothing listens on its
  // port any more, leaving lastLocalPort, any other proxy and every process
  // as they are.
  void SwitchOffDeadProxy();
  // The session is ending and takes the core with it: a proxy of the host's
  // own left pointing at it would cut the user off at the next sign-in, so
  // it is switched off. Drops the connection's mark; touches no proxy when
  // no core is recorded or the proxy is not the host's own.
  void OnSessionEnding();

  // Runs the program at the full path `program` with `commandLine`, hidden,
  // and waits for it: true only when it started and exited with code 0;
  // false at once when `program` is empty, and false when it still runs
  // after 10 minutes, once it has been terminated and waited for (2 s).
  bool RunProcessAndWait(const std::wstring& program,
                         const std::wstring& commandLine);

  Platform& platform() { return platform_; }
  const CoreLayout& layout() const { return layout_; }
  ActivityLog& log() { return log_; }
  const ActivityLog& log() const { return log_; }
  CoreProcess& process() { return process_; }
  TrafficSample& trafficSample() { return trafficSample_; }

 private:
  // Terminates the recorded core, waits for it (bounded) and forgets it;
  // false when none was recorded.
  bool EndRecordedCore();
  // Ends the cores running from this host's core folder that it has no
  // record of (left by an earlier run of the host); ends none when the
  // process list cannot be read or another process wants a connection.
  void EndLeftoverCores();
  // Terminates `process` and waits for it, at most 2 s.
  void EndProcess(Process& process);
  // Drops the connection's mark, switches the proxy off as StartXray says,
  // then logs `line`; false.
  bool FailStart(bool endedRecorded, const char* line);
  // SetSystemProxy, keeping the sign-in check armed exactly while the proxy
  // is on: a proxy the host switched on may outlive every host.
  bool SwitchProxy(bool enabled, int32_t port);
  // The system's own Windows PowerShell, by full path; empty when the
  // system folder cannot be had.
  std::wstring SystemPowerShell();
  // Copies the extracted xray.exe over the installed core.
  bool InstallDownloadedXray(const std::filesystem::path& folder);

  Platform& platform_;
  CoreLayout layout_;
  ActivityLog log_;
  CoreProcess process_;
  TrafficSample trafficSample_;
  // Held from the start of "startXray" until it fails, "stopXray" or the
  // session's end.
  std::unique_ptr<NamedObject> connectionWanted_;
};

}  // namespace core

#endif  // CORE_CORE_MANAGER_H_
