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
  ui::MessageBox* port = &box;
  WindowPrompt prompt(port);
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

// A port that cannot ask (a read-cycle tick's, which posts its boxes) gets
// the question and answers No without waiting.
TEST(WindowPrompt, UsesThePortInPlaceAtTheTimeOfTheQuestion) {
  class PostingOnly final : public ui::MessageBox {
   public:
    int Show(std::string_view, std::string_view, ui::Icon, ui::Owner) override { return ui::IDOK; }
  } tick;
  RecordingMessageBox box;
  box.answers = {ui::IDYES};
  ui::MessageBox* port = &box;
  WindowPrompt prompt(port);
  port = &tick;
  EXPECT_FALSE(prompt.Ask("trust?"));
  port = &box;
  EXPECT_TRUE(prompt.Ask("trust?"));
}

}  // namespace
}  // namespace tagwell::testing
