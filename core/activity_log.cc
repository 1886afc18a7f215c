#include "core/activity_log.h"

#include <utility>

namespace core {

void ActivityLog::AppendLog(std::string line) {
  lines_.push_back(std::move(line));
}

std::vector<std::string> ActivityLog::LogSnapshot() const { return lines_; }

}  // namespace core
