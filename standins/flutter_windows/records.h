// What the stand-in engine noticed about the way it was used, where a real
// engine would be stricter than a stand-in needs to be: calls with a null
// handle or on objects whose destruction began, the view's size against its
// parent, frames and the top-level window's visibility, messages the engine
// claimed, focus on activation. Process-wide, one line per record; each
// record also goes to standard error as "flutter_windows stand-in: RECORD",
// so that it survives the driver connection's end.
#ifndef STANDINS_FLUTTER_WINDOWS_RECORDS_H_
#define STANDINS_FLUTTER_WINDOWS_RECORDS_H_

#include <string>

namespace standin {

// Any thread.
void Record(const std::string& line);
// A use a real engine would fail on: recorded as "fault: WHAT".
void RecordFault(const std::string& what);
// Every record so far, each ended by a newline.
std::string RecordsText();

enum class ObjectKind { kEngine, kViewController, kView };

// The lives of the objects behind the handles the host holds, so that a
// handle can be checked without reading the memory behind it.
void ObjectBorn(ObjectKind kind, const void* object);
void ObjectEnding(ObjectKind kind, const void* object);
void ObjectEnded(const void* object);

// True when `function` may use the object. A null handle, one whose
// destruction began, or one that this library never made, is refused with a
// fault naming the function. Never throws, so that the exported functions
// may call it unguarded.
bool Usable(ObjectKind kind, const void* object, const char* function) noexcept;

}  // namespace standin

#endif  // STANDINS_FLUTTER_WINDOWS_RECORDS_H_
