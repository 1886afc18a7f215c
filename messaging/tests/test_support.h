// Shared pieces of the messaging tests.
#ifndef MESSAGING_TESTS_TEST_SUPPORT_H_
#define MESSAGING_TESTS_TEST_SUPPORT_H_

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "messaging/tests/recording_embedder.h"
#include "testing/stderr_capture.h"

using recording_embedder::Bytes;
using recording_embedder::DeliverMessage;
using recording_embedder::Embedder;
using testing_support::StderrCapture;
using Calls = std::vector<std::string>;
using Lines = std::vector<std::string>;

// Starts every test with a fresh embedder and ends it by checking that the
// messenger's references and lock are back where they were and that no
// handle was used that the embedder never gave out.
class EmbedderTest : public ::testing::Test {
 protected:
  void SetUp() override { recording_embedder::ResetEmbedder(); }
  void TearDown() override {
    EXPECT_EQ(Embedder().messengerReferences, 0);
    EXPECT_EQ(Embedder().locksHeld, 0);
    EXPECT_EQ(Embedder().foreignHandleCalls, 0);
  }
};

#endif  // MESSAGING_TESTS_TEST_SUPPORT_H_
