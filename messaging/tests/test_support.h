// Shared pieces of the messaging tests.
#ifndef MESSAGING_TESTS_TEST_SUPPORT_H_
#define MESSAGING_TESTS_TEST_SUPPORT_H_

#include <gtest/gtest.h>

#include <iostream>
#include <sstream>
#include <string>

#include "messaging/tests/recording_embedder.h"

// Collects what the code under test writes to std::cerr for one scope.
class CerrCapture {
 public:
  CerrCapture() : previous(std::cerr.rdbuf(captured.rdbuf())) {}
  ~CerrCapture() { std::cerr.rdbuf(previous); }
  CerrCapture(const CerrCapture&) = delete;
  CerrCapture& operator=(const CerrCapture&) = delete;

  std::string Text() const { return captured.str(); }

 private:
  std::ostringstream captured;
  std::streambuf* previous;
};

// Starts every test with a fresh embedder and ends it by checking that the
// messenger's references and lock are back where they were and that no
// handle was used that the embedder never gave out.
class EmbedderTest : public ::testing::Test {
 protected:
  void SetUp() override { recording_embedder::ResetEmbedder(); }
  void TearDown() override {
    const recording_embedder::State& state = recording_embedder::Embedder();
    EXPECT_EQ(state.messengerReferences, 0);
    EXPECT_EQ(state.locksHeld, 0);
    EXPECT_EQ(state.foreignHandleCalls, 0);
  }
};

// Names parameterised cases after their `name` field.
struct CaseName {
  template <typename Info>
  std::string operator()(const Info& info) const {
    return info.param.name;
  }
};

#endif  // MESSAGING_TESTS_TEST_SUPPORT_H_
