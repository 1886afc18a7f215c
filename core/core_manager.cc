#include "core/core_manager.h"

#include <fstream>
#include <system_error>
#include <vector>

#include "core/connection_wanted.h"
#include "core/log_lines.h"
#include "core/proxy_check.h"
#include "core/system_proxy.h"
#include "core/version_file.h"

namespace core {
namespace {

namespace fs = std::filesystem;

// How long a new core must survive before it counts as started.
constexpr uint32_t kLivenessPauseMs = 1200;
// How long an ended core may take to let go of its port and its file.
constexpr uint32_t kExitWaitMs = 2000;
// Far beyond any real extraction; a PowerShell still running then is stuck,
// and would otherwise hold the platform thread, and the window, for good.
constexpr uint32_t kExtractionWaitMs = 600000;

// -LiteralPath: -Path would read [ and ] in the archive's path as a pattern.
constexpr wchar_t kPowerShellPrefix[] =
    L"powershell.exe -NoProfile -ExecutionPolicy Bypass -Command "
    L"\"Expand-Archive -LiteralPath '";

// PowerShell ends a single-quoted string at any of these; doubled, each
// stands for itself.
bool IsPowerShellSingleQuote(wchar_t c) {
  return c == L'\'' || c == L'\u2018' || c == L'\u2019' || c == L'\u201A' ||
         c == L'\u201B';
}

std::wstring PowerShellLiteral(const std::wstring& text) {
  std::wstring quoted;
  quoted.reserve(text.size() + 2);
  for (wchar_t c : text) {
    quoted += c;
    if (IsPowerShellSingleQuote(c)) quoted += c;
  }
  return quoted;
}

// Expand-Archive tests an existing destination as a wildcard pattern, where
// a backtick escapes [, ] and itself, single quotes or not; escaped, the
// path names only itself.
std::wstring WildcardEscaped(const std::wstring& path) {
  std::wstring escaped;
  escaped.reserve(path.size() + 2);
  for (wchar_t c : path) {
    if (c == L'[' || c == L']' || c == L'`') escaped += L'`';
    escaped += c;
  }
  return escaped;
}

// The bytes Windows' text mode stores: each line feed as carriage return
// plus line feed. Done by hand so that the file is the same wherever the
// logic runs.
std::string InTextMode(const std::string& text) {
  std::string stored;
  stored.reserve(text.size());
  for (char c : text) {
    if (c == '\n') stored += '\r';
    stored += c;
  }
  return stored;
}

bool WriteFileBytes(const fs::path& path, const std::string& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  file.close();
  return !file.fail();
}

}  // namespace

std::wstring CoreCommandLine(const std::wstring& xrayExe,
                             const std::wstring& configFile) {
  return L"\"" + xrayExe + L"\" run -c \"" + configFile + L"\"";
}

std::wstring ExtractionCommandLine(const std::wstring& archive,
                                   const std::wstring& folder) {
  return kPowerShellPrefix + PowerShellLiteral(archive) +
         L"' -DestinationPath '" + PowerShellLiteral(WildcardEscaped(folder)) +
         L"' -Force\"";
}

CoreManager::CoreManager(Platform& platform)
    : platform_(platform), layout_(platform) {}

CoreManager::~CoreManager() = default;

bool CoreManager::InstallShippedXray() {
  try {
    const fs::path source = layout_.ShippedXrayPath();
    const fs::path target = layout_.XrayExePath();
    if (!PathExists(source)) {
      log_.AppendLog(kLogShippedXrayMissing);
      return false;
    }
    if (PathExists(target)) return true;
    if (!platform_.CopyOneFile(source.wstring(), target.wstring(), false)) {
      log_.AppendLog(kLogShippedCopyFailed);
      return false;
    }
    WriteXrayVersion(layout_, "bundled");
  } catch (const fs::filesystem_error&) {
    // The core folder cannot be made or a path cannot be probed: nothing
    // can be copied either.
    log_.AppendLog(kLogShippedCopyFailed);
    return false;
  }
  log_.AppendLog(kLogShippedInstalled);
  return true;
}

bool CoreManager::CheckXrayInstalled() {
  try {
    if (PathExists(layout_.XrayExePath())) return true;
  } catch (const fs::filesystem_error&) {
    log_.AppendLog(kLogShippedCopyFailed);
    return false;
  }
  return InstallShippedXray();
}

bool CoreManager::StartXray(const std::string& config, bool systemProxy,
                            int32_t localPort) {
  // First: from here until the start fails or the core is stopped, no other
  // process may take this connection's proxy or core for left behind.
  if (!connectionWanted_) connectionWanted_ = HoldConnectionWanted(platform_);
  fs::path xrayExe, configFile;
  try {
    if (!PathExists(layout_.XrayExePath()) && !InstallShippedXray()) {
      return FailStart(false, kLogNotReadyToRun);
    }
    xrayExe = layout_.XrayExePath();
    if (!PathExists(xrayExe)) return FailStart(false, kLogXrayExeNotFound);
    configFile = layout_.ConfigFilePath();
  } catch (const fs::filesystem_error&) {
    return FailStart(false, kLogNotReadyToRun);
  }
  // A stale configuration must never run as if it were the one just sent.
  if (!WriteFileBytes(configFile, InTextMode(config))) {
    return FailStart(false, kLogStartFailed);
  }
  // Two cores would fight over the port, and the older one could never be
  // stopped again.
  const bool endedRecorded = EndRecordedCore();
  EndLeftoverCores();
  // No program name: the core's command line names it, quoted.
  process_.processHandle = platform_.StartHiddenProcess(
      L"", CoreCommandLine(xrayExe.wstring(), configFile.wstring()));
  if (!process_.processHandle) {
    return FailStart(endedRecorded, kLogStartFailed);
  }
  platform_.Sleep(kLivenessPauseMs);
  uint32_t exitCode = 0;
  if (!process_.processHandle->ExitCode(&exitCode) ||
      exitCode != Process::kStillActive) {
    process_.processHandle.reset();
    return FailStart(endedRecorded, kLogStoppedRightAfterStart);
  }
  process_.lastLocalPort = NormalizeLocalPort(localPort);
  SwitchProxy(systemProxy, process_.lastLocalPort);
  log_.AppendLog(kLogStarted);
  return true;
}

bool CoreManager::FailStart(bool endedRecorded, const char* line) {
  connectionWanted_.reset();
  // Left on, a proxy that pointed at the core just ended, or at one that
  // died before, would send the user's traffic to a port nobody serves. The
  // listening table cannot tell when this host's core was ended here:
  // another program may have taken its port since. But only the proxy that
  // pointed at that core is this host's to switch off.
  if (endedRecorded) {
    if (OwnProxyPort(platform_) == process_.lastLocalPort) {
      SwitchProxy(false, process_.lastLocalPort);
    }
  } else {
    SwitchOffDeadProxy();
  }
  log_.AppendLog(line);
  return false;
}

void CoreManager::StopXray() {
  connectionWanted_.reset();
  EndRecordedCore();
  EndLeftoverCores();
  SwitchProxy(false, process_.lastLocalPort);
  log_.AppendLog(kLogStopped);
}

bool CoreManager::EndRecordedCore() {
  if (!process_.processHandle) return false;
  EndProcess(*process_.processHandle);
  process_.processHandle.reset();
  return true;
}

void CoreManager::EndLeftoverCores() {
  // Worked out without creating the core folder: a stop must not make one.
  const std::wstring folder = layout_.ExecutableDirectory().wstring();
  // Another copy of the host in this folder may be running its core for a
  // connection its user wants.
  if (folder.empty() || AnotherProcessWantsAConnection(platform_)) return;
  std::vector<std::unique_ptr<Process>> leftovers;
  // A list that cannot be read leaves nothing to end; a leftover core then
  // makes the start fail as it would have without this search.
  platform_.ProcessesWithImage(JoinPath(JoinPath(folder, L"xray"), L"xray.exe"),
                               &leftovers);
  for (const std::unique_ptr<Process>& leftover : leftovers) {
    EndProcess(*leftover);
  }
}

void CoreManager::EndProcess(Process& process) {
  process.Terminate(0);
  process.Wait(kExitWaitMs);
}

bool CoreManager::DownloadXray(const std::wstring& url) {
  fs::path archive, folder;
  try {
    archive = layout_.ArchivePath();
  } catch (const fs::filesystem_error&) {
    log_.AppendLog(kLogDownloadFailed);
    return false;
  }
  if (platform_.DownloadToFile(url, archive.wstring()) < 0) {
    log_.AppendLog(kLogDownloadFailed);
    return false;
  }
  try {
    folder = layout_.ExtractionDirectory();
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    fs::create_directories(folder);
  } catch (const fs::filesystem_error&) {
    log_.AppendLog(kLogExtractionFailed);
    return false;
  }
  if (!RunProcessAndWait(
          SystemPowerShell(),
          ExtractionCommandLine(archive.wstring(), folder.wstring()))) {
    log_.AppendLog(kLogExtractionFailed);
    return false;
  }
  return InstallDownloadedXray(folder);
}

bool CoreManager::InstallDownloadedXray(const fs::path& folder) {
  const fs::path extracted = JoinPath(folder.wstring(), L"xray.exe");
  try {
    if (!PathExists(extracted)) {
      log_.AppendLog(kLogDownloadHasNoXrayExe);
      return false;
    }
    if (!platform_.CopyOneFile(extracted.wstring(),
                               layout_.XrayExePath().wstring(), true)) {
      log_.AppendLog(kLogReplaceFailed);
      return false;
    }
  } catch (const fs::filesystem_error&) {
    log_.AppendLog(kLogReplaceFailed);
    return false;
  }
  log_.AppendLog(kLogDownloadInstalled);
  return true;
}

bool CoreManager::SetSystemProxy(bool enabled, int32_t port) {
  process_.lastLocalPort = NormalizeLocalPort(port);
  return SwitchProxy(enabled, process_.lastLocalPort);
}

void CoreManager::SwitchOffDeadProxy() {
  if (core::SwitchOffDeadProxy(platform_, log_)) DisarmSignInCheck(platform_);
}

bool CoreManager::SwitchProxy(bool enabled, int32_t port) {
  if (!core::SetSystemProxy(platform_, log_, enabled, port)) return false;
  if (enabled) {
    ArmSignInCheck(platform_, layout_.ExecutablePath());
  } else {
    DisarmSignInCheck(platform_);
  }
  return true;
}

void CoreManager::OnSessionEnding() {
  connectionWanted_.reset();
  if (!process_.processHandle) return;
  // Only the host's own: the user may have pointed the system at another
  // program's proxy since a start that left the proxy off.
  if (const std::optional<int32_t> port = OwnProxyPort(platform_)) {
    SwitchProxy(false, *port);
  }
}

std::wstring CoreManager::SystemPowerShell() {
  const std::wstring system = platform_.SystemDirectory();
  if (system.empty()) return {};
  return system + L"\\WindowsPowerShell\\v1.0\\powershell.exe";
}

bool CoreManager::RunProcessAndWait(const std::wstring& program,
                                    const std::wstring& commandLine) {
  // With no program the search would run whatever powershell.exe lies in the
  // host's or the current folder (a Downloads folder, say).
  if (program.empty()) return false;
  const std::unique_ptr<Process> process =
      platform_.StartHiddenProcess(program, commandLine);
  if (!process) return false;
  if (!process->Wait(kExtractionWaitMs)) {
    // Left running, it could still write into the folder that the next
    // download empties and fills again.
    EndProcess(*process);
    return false;
  }
  uint32_t exitCode = 1;
  if (!process->ExitCode(&exitCode)) exitCode = 1;
  return exitCode == 0;
}

}  // namespace core
