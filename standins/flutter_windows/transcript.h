// What the stand-in engine carried, as lines of text: the view paints it and
// the driver can read it back.
#ifndef STANDINS_FLUTTER_WINDOWS_TRANSCRIPT_H_
#define STANDINS_FLUTTER_WINDOWS_TRANSCRIPT_H_

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace standin {

enum class LineKind { kEvent, kCall, kReply, kProblem };

struct TranscriptLine {
  LineKind kind;
  std::string text;  // UTF-8
};

// Thread-safe: lines come from the platform thread, the driver's thread and
// whichever thread a reply is sent on.
class Transcript {
 public:
  // Only the newest lines are kept, so a long session cannot grow it without
  // bound.
  static constexpr size_t kMaxLines = 1000;

  void Add(LineKind kind, std::string text);
  std::vector<TranscriptLine> Lines() const;
  // One line per entry, each ended by a newline.
  std::string Text() const;

  // Called after every new line, on the thread that added it, while the
  // transcript is locked; it must not block or add lines. Clearing it waits
  // for a call in progress.
  void SetObserver(std::function<void()> observer);

 private:
  mutable std::mutex mutex;
  std::deque<TranscriptLine> lines;
  std::function<void()> observer;
};

// Rough readings of standard-codec bytes for people, never for programs:
// `getLogs(null)` for a method call, `success ["a", "b"]` or
// `error start_failed "start failed"` for a reply envelope, and a hex preview
// for anything that does not decode.
std::string DescribeMessage(const uint8_t* data, size_t size);
std::string DescribeReply(const uint8_t* data, size_t size);
std::string HexPreview(const uint8_t* data, size_t size);

}  // namespace standin

#endif  // STANDINS_FLUTTER_WINDOWS_TRANSCRIPT_H_
