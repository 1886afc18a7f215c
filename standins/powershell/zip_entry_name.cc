#include "standins/powershell/zip_entry_name.h"

#include <cctype>
#include <string>
#include <vector>

namespace powershell {
namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

bool HasNonAscii(const std::string& text) {
  for (const char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return true;
  }
  return false;
}

// The name as it may appear in a one-line reason.
std::string OneLine(std::string name) {
  for (char& c : name) {
    if (static_cast<unsigned char>(c) < 0x20) c = '?';
  }
  return name;
}

// CON, NUL, COM1 and the like name devices in any folder, with any
// extension: writing "nul.txt" would not write a file at all.
bool IsDeviceName(const std::string& component) {
  std::string base = component.substr(0, component.find('.'));
  for (char& c : base)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL") {
    return true;
  }
  return base.size() == 4 &&
         (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
         base[3] >= '1' && base[3] <= '9';
}

// Why a component cannot be a file or folder name of its own, if it cannot.
std::string CheckComponent(const std::string& component) {
  if (component == "..") return "it climbs out of the destination";
  for (const char c : component) {
    const unsigned char byte = static_cast<unsigned char>(c);
    // ':' also makes drive-relative names ("C:x") and alternate streams.
    if (byte < 0x20 || std::string("<>:\"|?*").find(c) != std::string::npos) {
      return "it holds a character Windows forbids in file names";
    }
  }
  // Windows drops trailing dots and blanks, so ".. " would climb too.
  const char last = component.back();
  if (last == '.' || last == ' ') return "it ends with a dot or a blank";
  if (IsDeviceName(component)) return "it names a device";
  return {};
}

}  // namespace

EntryPath ParseEntryName(const std::string& name, bool utf8_flag) {
  const auto refuse = [&name](const std::string& why) {
    return EntryPath{
        {}, false, "entry \"" + OneLine(name) + "\" refused: " + why};
  };
  if (name.empty()) return refuse("it has no name");
  if (!utf8_flag && HasNonAscii(name)) {
    return refuse("non-ASCII name without the UTF-8 flag");
  }
  if (IsSeparator(name[0])) return refuse("it is an absolute path");
  EntryPath path;
  path.is_folder = IsSeparator(name.back());
  size_t start = 0;
  while (start < name.size()) {
    size_t end = start;
    while (end < name.size() && !IsSeparator(name[end])) ++end;
    const std::string component = name.substr(start, end - start);
    start = end + 1;
    // Empty and "." components name the folder they are in.
    if (component.empty() || component == ".") continue;
    const std::string why = CheckComponent(component);
    if (!why.empty()) return refuse(why);
    path.components.push_back(component);
  }
  if (!path.is_folder && path.components.empty()) {
    return refuse("it names no file");
  }
  return path;
}

}  // namespace powershell
