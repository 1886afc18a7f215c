#ifndef BENCH_CONTENT_H_
#define BENCH_CONTENT_H_

// What the benchmarks carry: the channel's heaviest messages.

#include <string>
#include <vector>

#include "codec/encodable_value.h"

namespace bench {

// 10,000 numbered Persian status lines, as "getLogs" answers them.
std::vector<std::string> PersianLogLines();
flutter::EncodableValue AsList(const std::vector<std::string>& lines);

}  // namespace bench

#endif  // BENCH_CONTENT_H_
