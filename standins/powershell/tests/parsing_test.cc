// The stand-in PowerShell's two parsers: the host's command line and the zip
// entry names. The command lines the host builds are tested under Wine.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "standins/powershell/extraction_command.h"
#include "standins/powershell/zip_entry_name.h"

namespace powershell {
namespace {

TEST(ParsingTest, CommandLineGivesThePathsOrWhereAndWhyItStopped) {
  const std::wstring head =
      L"p -NoProfile -ExecutionPolicy Bypass -Command \"Expand-Archive ";
  const std::wstring path = head + L"-Path ", literal = head + L"-LiteralPath ";
  const std::wstring tail = L" -DestinationPath 'D:\\it''s `[1`] ``' -Force\"";
  const std::wstring to = L"D:\\it's [1] `";
  const std::string wildcards =
      "the destination path holds a wildcard character or a backtick not "
      "escaped by a backtick, which -DestinationPath would read as a pattern";
  const struct {
    std::wstring line, archive, destination;
    std::string error;
  } cases[] = {
      // Any of the five opens or closes; two in a row are one, the second.
      {path + L"\u2018\u2019'b\u201A\u201B.ZIP'" + tail, L"'b\u201B.ZIP", to,
       ""},
      // -LiteralPath takes the archive's path as it is written.
      {literal + L"'C:\\[a] `b.zip'" + tail, L"C:\\[a] `b.zip", to, ""},
      {head + L"-LiteralPat 'C:\\x.zip'" + tail, L"", L"",
       "expected -LiteralPath or -Path at character 63"},
      {path + L"'C:\\it's\\x.zip'" + tail, L"", L"",
       "expected a blank before -DestinationPath at character 76"},
      {path + L"'C:\\x.zip' -DestinationPath 'C:\\d'\"", L"", L"",
       "expected a blank before -Force\" at character 103"},
      {path + L"'C:\\[ab]\\x.zip'" + tail, L"", L"",
       "the archive path holds wildcard characters, which -Path would read "
       "as a pattern"},
      // The destination is a pattern: a bracket or a backtick, trailing or
      // before a letter, not escaped by one is refused.
      {literal + L"'C:\\x.zip' -DestinationPath 'D:\\[1]' -Force\"", L"", L"",
       wildcards},
      {literal + L"'C:\\x.zip' -DestinationPath 'D:\\``a`' -Force\"", L"", L"",
       wildcards},
      {literal + L"'C:\\x.zip' -DestinationPath 'D:\\`a' -Force\"", L"", L"",
       wildcards},
      {literal + L"'C:\\x.tar'" + tail, L"", L"",
       "the archive's extension is not .zip, the only format Expand-Archive "
       "supports"},
  };
  for (const auto& c : cases) {
    const ExtractionCommand command = ParseExtractionCommand(c.line);
    EXPECT_EQ(command.error, c.error);
    EXPECT_EQ(command.archive, c.archive);
    EXPECT_EQ(command.destination, c.destination);
  }
}

TEST(ParsingTest, EntryNameLandsBelowTheDestinationOrIsRefused) {
  // Reasons name the entry on one line whatever it holds.
  const struct {
    std::string name, want;  // where it lands, or a part of why it cannot
  } cases[] = {
      {"a\\b/", "folder a b."},         {"./.x//b..c", "file .x b..c."},
      {"..a/nul-x", "file ..a nul-x."}, {"../a\nb", "\"../a?b\" refused"},
      {"\\\\srv\\x", "absolute"},       {"C:evil", "forbids"},
      {".. /evil", "dot or a blank"},   {"NUL", "device"},
      {"a/Com1.txt", "device"},         {"caf\x82.txt", "UTF-8 flag"},
      {".", "names no file"},           {"x.exe:stream", "forbids"},
  };
  for (const auto& c : cases) {
    const EntryPath path = ParseEntryName(c.name, false);
    std::string landing = path.is_folder ? "folder" : "file";
    for (const std::string& part : path.components) landing += " " + part;
    EXPECT_THAT(path.error.empty() ? landing + "." : path.error,
                ::testing::HasSubstr(c.want))
        << c.name;
  }
}

}  // namespace
}  // namespace powershell
