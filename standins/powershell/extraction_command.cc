#include "standins/powershell/extraction_command.h"

#include <cstddef>
#include <string>

namespace powershell {
namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

// PowerShell's tokenizer reads the ASCII apostrophe and the four typographic
// single quotes U+2018..U+201B alike: any of them opens or closes a string.
bool IsSingleQuote(wchar_t c) {
  return c == L'\'' || c == 0x2018 || c == 0x2019 || c == 0x201A || c == 0x201B;
}

wchar_t AsciiLower(wchar_t c) {
  return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

bool EndsWithZip(const std::wstring& path) {
  const std::wstring extension = L".zip";
  if (path.size() < extension.size()) return false;
  const size_t start = path.size() - extension.size();
  for (size_t i = 0; i < extension.size(); ++i) {
    if (AsciiLower(path[start + i]) != extension[i]) return false;
  }
  return true;
}

// Walks the command line once, remembering the first reason for refusal.
class Reader {
 public:
  explicit Reader(const std::wstring& text) : text(text) {}

  const std::string& Error() const { return error; }

  // The program name is whatever started us: a quoted run or a bare word.
  void SkipProgramName() {
    if (!AtEnd() && text[position] == L'"') {
      const size_t close = text.find(L'"', position + 1);
      position = close == std::wstring::npos ? text.size() : close + 1;
    }
    while (!AtEnd() && !IsBlank(text[position])) ++position;
  }

  // One or more blanks, then the word, its ASCII letters in either case as
  // PowerShell matches switches, cmdlet and parameter names.
  bool Word(const std::wstring& word) {
    if (!SkipBlanks()) return Fail("expected a blank before " + Ascii(word));
    if (!Matches(word)) return Fail("expected " + Ascii(word));
    position += word.size();
    return true;
  }

  // Word for either of two words; `first` tells which one it was.
  bool EitherWord(const std::wstring& one, const std::wstring& other,
                  bool* first) {
    const std::string words = Ascii(one) + " or " + Ascii(other);
    if (!SkipBlanks()) return Fail("expected a blank before " + words);
    *first = Matches(one);
    if (!*first && !Matches(other)) return Fail("expected " + words);
    position += (*first ? one : other).size();
    return true;
  }

  // A single-quoted string as PowerShell reads one. Two quote characters in
  // a row inside it stand for one literal quote; we keep the second of the
  // pair, which to our knowledge is what PowerShell's tokenizer appends. The
  // host doubles a quote by repeating it, so either choice reads its paths
  // back unchanged.
  bool QuotedPath(const char* what, std::wstring* value) {
    if (!SkipBlanks()) {
      return Fail(std::string("expected a blank before ") + what);
    }
    if (AtEnd() || !IsSingleQuote(text[position])) {
      return Fail(std::string("expected the single-quoted ") + what);
    }
    const size_t opening = position++;
    for (;;) {
      if (AtEnd()) {
        position = opening;
        return Fail(std::string("unterminated quoted ") + what);
      }
      // A double quote would have ended the -Command argument.
      if (text[position] == L'"') {
        return Fail(std::string("double quote inside the ") + what);
      }
      wchar_t c = text[position++];
      if (IsSingleQuote(c)) {
        if (AtEnd() || !IsSingleQuote(text[position])) break;
        c = text[position++];
      }
      value->push_back(c);
    }
    if (value->empty()) return Fail(std::string("empty ") + what);
    return true;
  }

  bool End() {
    SkipBlanks();
    return AtEnd() || Fail("unexpected text after the command");
  }

 private:
  bool AtEnd() const { return position >= text.size(); }

  bool Matches(const std::wstring& word) const {
    if (text.size() - position < word.size()) return false;
    for (size_t i = 0; i < word.size(); ++i) {
      if (AsciiLower(text[position + i]) != AsciiLower(word[i])) return false;
    }
    return true;
  }

  bool SkipBlanks() {
    const size_t start = position;
    while (!AtEnd() && IsBlank(text[position])) ++position;
    return position > start;
  }

  bool Fail(const std::string& reason) {
    error = reason + " at character " + std::to_string(position + 1);
    return false;
  }

  // The words we look for are ASCII.
  static std::string Ascii(const std::wstring& word) {
    return std::string(word.begin(), word.end());
  }

  const std::wstring& text;
  size_t position = 0;
  std::string error;
};

bool IsWildcard(wchar_t c) {
  return c == L'*' || c == L'?' || c == L'[' || c == L']';
}

// The path a wildcard pattern names when each of its wildcard characters is
// escaped by a backtick, as is each backtick; false for any other pattern,
// which a real PowerShell would match against other names, or (for a lone
// backtick) read as another path than the one meant.
bool EscapedPatternPath(const std::wstring& pattern, std::wstring* path) {
  for (size_t i = 0; i < pattern.size(); ++i) {
    wchar_t c = pattern[i];
    if (IsWildcard(c)) return false;
    if (c == L'`') {
      if (++i == pattern.size()) return false;
      c = pattern[i];
      if (!IsWildcard(c) && c != L'`') return false;
    }
    path->push_back(c);
  }
  return true;
}

// What Expand-Archive itself refuses before touching the file system.
// -Path and -DestinationPath are wildcard patterns: a real PowerShell would
// look for other files or folders than the ones named, so we refuse instead.
std::string CheckPaths(bool literal_archive, ExtractionCommand* command) {
  const std::wstring& archive = command->archive;
  if (!literal_archive &&
      archive.find_first_of(L"*?[]") != std::wstring::npos) {
    return "the archive path holds wildcard characters, which -Path would "
           "read as a pattern";
  }
  std::wstring destination;
  if (!EscapedPatternPath(command->destination, &destination)) {
    return "the destination path holds a wildcard character or a backtick "
           "not escaped by a backtick, which -DestinationPath would read as "
           "a pattern";
  }
  command->destination = destination;
  if (!EndsWithZip(archive)) {
    return "the archive's extension is not .zip, the only format "
           "Expand-Archive supports";
  }
  return {};
}

}  // namespace

ExtractionCommand ParseExtractionCommand(const std::wstring& command_line) {
  ExtractionCommand command;
  Reader reader(command_line);
  reader.SkipProgramName();
  bool literal_archive = false;
  const bool understood =
      reader.Word(L"-NoProfile") && reader.Word(L"-ExecutionPolicy") &&
      reader.Word(L"Bypass") && reader.Word(L"-Command") &&
      reader.Word(L"\"Expand-Archive") &&
      reader.EitherWord(L"-LiteralPath", L"-Path", &literal_archive) &&
      reader.QuotedPath("archive path", &command.archive) &&
      reader.Word(L"-DestinationPath") &&
      reader.QuotedPath("destination path", &command.destination) &&
      reader.Word(L"-Force\"") && reader.End();
  const std::string error =
      understood ? CheckPaths(literal_archive, &command) : reader.Error();
  if (!error.empty()) return ExtractionCommand{{}, {}, error};
  return command;
}

}  // namespace powershell
