#include "bench/content.h"

namespace bench {

std::vector<std::string> PersianLogLines() {
  const char* const kLines[] = {
      "هسته Xray با موفقیت اجرا شد",
      "پروکسی سیستم روی پورت محلی فعال شد",
      "در حال دریافت آخرین نسخه هسته از مخزن رسمی",
      "هسته متوقف شد و پروکسی سیستم غیرفعال شد",
  };
  std::vector<std::string> lines;
  lines.reserve(10000);
  for (int i = 0; i < 10000; ++i) {
    lines.push_back("[" + std::to_string(i) + "] " + kLines[i % 4]);
  }
  return lines;
}

flutter::EncodableValue AsList(const std::vector<std::string>& lines) {
  flutter::EncodableList list;
  list.reserve(lines.size());
  for (const std::string& line : lines) list.emplace_back(line);
  return flutter::EncodableValue(std::move(list));
}

}  // namespace bench
