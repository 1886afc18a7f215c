#include "standins/flutter_windows/records.h"

#include <cstdio>
#include <deque>
#include <map>
#include <mutex>

namespace standin {
namespace {

// Enough for any session; a host gone wrong in a loop cannot grow it for
// ever.
constexpr size_t kMaxRecords = 1000;

enum class Life { kLive, kEnding, kEnded };

struct ObjectLife {
  ObjectKind kind;
  Life life;
};

// Never freed: the driver's thread may still record while the process ends.
std::mutex& RecordsMutex() {
  static auto* mutex = new std::mutex;
  return *mutex;
}

std::deque<std::string>& Lines() {
  static auto* lines = new std::deque<std::string>;
  return *lines;
}

std::map<const void*, ObjectLife>& Objects() {
  static auto* objects = new std::map<const void*, ObjectLife>;
  return *objects;
}

const char* Name(ObjectKind kind) {
  switch (kind) {
    case ObjectKind::kEngine:
      return "an engine";
    case ObjectKind::kViewController:
      return "a view controller";
    case ObjectKind::kView:
      break;
  }
  return "a view";
}

void SetLife(ObjectKind kind, const void* object, Life life) {
  std::lock_guard<std::mutex> lock(RecordsMutex());
  Objects()[object] = {kind, life};
}

}  // namespace

void Record(const std::string& line) {
  std::lock_guard<std::mutex> lock(RecordsMutex());
  std::fprintf(stderr, "flutter_windows stand-in: %s\n", line.c_str());
  std::fflush(stderr);
  if (Lines().size() == kMaxRecords) Lines().pop_front();
  Lines().push_back(line);
}

void RecordFault(const std::string& what) { Record("fault: " + what); }

std::string RecordsText() {
  std::lock_guard<std::mutex> lock(RecordsMutex());
  std::string text;
  for (const std::string& line : Lines()) text += line + "\n";
  return text;
}

void ObjectBorn(ObjectKind kind, const void* object) {
  SetLife(kind, object, Life::kLive);
}

void ObjectEnding(ObjectKind kind, const void* object) {
  SetLife(kind, object, Life::kEnding);
}

void ObjectEnded(const void* object) {
  std::lock_guard<std::mutex> lock(RecordsMutex());
  const auto found = Objects().find(object);
  if (found != Objects().end()) found->second.life = Life::kEnded;
}

bool Usable(ObjectKind kind, const void* object,
            const char* function) noexcept {
  try {
    if (object == nullptr) {
      // A real engine would read through it.
      RecordFault(std::string(function) + " with a null handle for " +
                  Name(kind));
      return false;
    }
    const char* state = "that this library never made";
    {
      std::lock_guard<std::mutex> lock(RecordsMutex());
      const auto found = Objects().find(object);
      if (found != Objects().end() && found->second.kind == kind) {
        if (found->second.life == Life::kLive) return true;
        state = found->second.life == Life::kEnding ? "whose destruction began"
                                                    : "that was destroyed";
      }
    }
    RecordFault(std::string(function) + " on " + Name(kind) + " " + state);
  } catch (...) {
    // Refused all the same; only the record is lost.
  }
  return false;
}

}  // namespace standin
