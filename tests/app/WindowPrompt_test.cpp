// The operator prompt of remote activation: boxes on the window's thread
// only.
#include "app/WindowPrompt.h"

#include <gtest/gtest.h>

#include <thread>

#include "tests/support/FakeUi.h"

namespace tagwell::testing {
namespace {

TEST(WindowPrompt, AsksAndTellsOnTheWindowThreadOnly) {
  RecordingMessageBox box;
  WindowPrompt prompt(&box);
  box.answers = {ui::IDYES, ui::IDNO};
  EXPECT_TRUE(prompt.Ask("trust?"));
  EXPECT_FALSE(prompt.Ask("trust?"));
  EXPECT_FALSE(prompt.Ask("trust?")) << "closing the box answers No";
  prompt.Tell("refused");
  ASSERT_EQ(box.shown.size(), 4u);
  EXPECT_EQ(box.shown[0].caption, "Remote Server connection");
  EXPECT_EQ(box.shown[0].owner, ui::Owner::MainWindow);
  EXPECT_EQ(box.shown[3].text, "refused");

  // A reconnection probe on a thread of its own never opens a box.
  box.answers = {ui::IDYES};
  bool answer = true;
  std::thread([&] {
    answer = prompt.Ask("trust?");
    prompt.Tell("refused");
  }).join();
  EXPECT_FALSE(answer);
  EXPECT_EQ(box.shown.size(), 4u);
}

}  // namespace
}  // namespace tagwell::testing
