#include "app/WindowPrompt.h"

namespace tagwell {

namespace {

constexpr const char* kCaption = "Remote Server connection";

}  // namespace

// The port slot is read on the window's thread only: a tick swaps it.
bool WindowPrompt::Ask(const std::string& text) {
  if (!OnWindowThread() || !box_) return false;
  return box_->AskYesNo(text, kCaption, ui::Icon::Warning, ui::Owner::MainWindow) == ui::IDYES;
}

void WindowPrompt::Tell(const std::string& text) {
  if (OnWindowThread() && box_) box_->Post(text, kCaption, ui::Icon::Warning);
}

}  // namespace tagwell
