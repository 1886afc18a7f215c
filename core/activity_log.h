// The host's running record of what the core manager did, for the user.

#ifndef CORE_ACTIVITY_LOG_H_
#define CORE_ACTIVITY_LOG_H_

#include <string>
#include <vector>

namespace core {

// Lines are only ever added at the end; nothing trims or clears the log.
// Used on the platform thread only, hence unguarded.
class ActivityLog {
 public:
  // Adds `line` after the last one; fails only when memory runs out.
  void AppendLog(std::string line);
  // All lines, oldest first; fails only when memory runs out.
  std::vector<std::string> LogSnapshot() const;

 private:
  std::vector<std::string> lines_;
};

}  // namespace core

#endif  // CORE_ACTIVITY_LOG_H_
