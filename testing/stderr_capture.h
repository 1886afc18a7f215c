// Collects what the code under test writes to std::cerr for one scope.
// Swapping the stream buffer works the same natively and under Wine.
#ifndef TESTING_STDERR_CAPTURE_H_
#define TESTING_STDERR_CAPTURE_H_

#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace testing_support {

class StderrCapture {
 public:
  StderrCapture() : previous_(std::cerr.rdbuf(captured_.rdbuf())) {}
  ~StderrCapture() { std::cerr.rdbuf(previous_); }
  StderrCapture(const StderrCapture&) = delete;
  StderrCapture& operator=(const StderrCapture&) = delete;

  std::string Text() const { return captured_.str(); }

  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    std::istringstream text(captured_.str());
    for (std::string line; std::getline(text, line);) lines.push_back(line);
    return lines;
  }

 private:
  std::ostringstream captured_;
  std::streambuf* previous_;
};

}  // namespace testing_support

#endif  // TESTING_STDERR_CAPTURE_H_
