#include "standins/powershell/extraction_command.h"

#include <gtest/gtest.h>

#include <string>

namespace powershell {
namespace {

const std::wstring kHead =
    L"powershell.exe -NoProfile -ExecutionPolicy Bypass -Command "
    L"\"Expand-Archive -Path ";
const std::wstring kTail = L" -DestinationPath 'D:\\it''s' -Force\"";

TEST(ExtractionCommandTest, ReadsBackThePathsTheHostQuoted) {
  const struct {
    std::wstring line, archive;
  } cases[] = {
      {kHead + L"'C:\\a b\\it''s\\''''.zip'" + kTail, L"C:\\a b\\it's\\''.zip"},
      // U+2018, U+2019, U+201A, U+201B, each doubled by repetition.
      {kHead + L"'\x2018\x2018\x2019\x2019\x201A\x201A\x201B\x201B.zip'" +
           kTail,
       L"\x2018\x2019\x201A\x201B.zip"},
      // Any two in a row are one quote, the second; any one opens or closes.
      {kHead +
           L"\x2019"
           L"a'\x2019"
           L"b.ZIP\x201B" +
           kTail,
       L"a\x2019"
       L"b.ZIP"},
      {kHead + L"'$(calc)`n\x0641.zip'" + kTail, L"$(calc)`n\x0641.zip"},
      // Any program name, letters in either case, any run of blanks.
      {L"\"Z:\\a b\\p.exe\"\t-noprofile  -EXECUTIONPOLICY bypass -command "
       L"\"expand-archive -path 'x.zip' -destinationpath 'D:\\it''s' "
       L"-force\"  ",
       L"x.zip"},
  };
  for (const auto& c : cases) {
    const ExtractionCommand command = ParseExtractionCommand(c.line);
    EXPECT_EQ(command.error, "");
    EXPECT_EQ(command.archive, c.archive);
    EXPECT_EQ(command.destination, L"D:\\it's");
  }
}

TEST(ExtractionCommandTest, RefusesAnythingElseSayingWhereAndWhy) {
  const std::wstring cmd = L"p -NoProfile -ExecutionPolicy Bypass -Command ";
  const struct {
    std::wstring line;
    std::string error;
  } cases[] = {
      {L"powershell.exe", "expected a blank before -NoProfile at character 15"},
      {L"p -NoProfile -ExecutionPolicy Unrestricted",
       "expected Bypass at character 31"},
      {cmd + L"\"Compress-Archive -Path 'C:\\x.zip'" + kTail,
       "expected \"Expand-Archive at character 47"},
      {cmd + L"\"Expand-Archive -LiteralPath 'C:\\x.zip'" + kTail,
       "expected -Path at character 63"},
      {cmd + L"\"Expand-Archive -Path 'C:\\it's\\x.zip'" + kTail,
       "expected a blank before -DestinationPath at character 76"},
      {cmd + L"\"Expand-Archive -Path 'C:\\x\"y.zip'" + kTail,
       "double quote inside the archive path at character 74"},
      {cmd + L"\"Expand-Archive -Path 'C:\\x.zip",
       "unterminated quoted archive path at character 69"},
      {cmd + L"\"Expand-Archive -Path ''" + kTail,
       "empty archive path at character 71"},
      {cmd + L"\"Expand-Archive -Path 'C:\\x.zip' -DestinationPath 'C:\\d'\"",
       "expected a blank before -Force\" at character 103"},
      {cmd + L"\"Expand-Archive -Path 'C:\\x.zip'" + kTail + L" -Verbose",
       "unexpected text after the command at character 116"},
      {cmd + L"\"Expand-Archive -Path 'C:\\[ab]\\x.zip'" + kTail,
       "the archive path holds wildcard characters, which -Path would read "
       "as a pattern"},
      {cmd + L"\"Expand-Archive -Path 'C:\\x.tar'" + kTail,
       "the archive's extension is not .zip, the only format Expand-Archive "
       "supports"},
  };
  for (const auto& c : cases) {
    const ExtractionCommand command = ParseExtractionCommand(c.line);
    EXPECT_EQ(command.error, c.error);
    EXPECT_EQ(command.archive, L"");
    EXPECT_EQ(command.destination, L"");
  }
}

}  // namespace
}  // namespace powershell
