// The operator prompt of remote activation (rpc/Activation.h) on the
// window's message boxes: the question about a server seen for the first
// time, and why a connection was refused.
//
// The box port is looked up at each call, so that within a tick of the
// read cycle (a reconnection) the tick's port serves: it posts boxes and
// answers every question No without waiting.
//
// Thread rules: boxes open only on the thread that made the prompt (the
// window's). Elsewhere (a reconnection probe) nothing is shown: a question
// is answered No and a refusal is left to the activation's log line.
#pragma once

#include <string>
#include <thread>

#include "opc/Refusals.h"
#include "platform/ui/Ui.h"
#include "rpc/Activation.h"

namespace tagwell {

class WindowPrompt final : public rpc::OperatorPrompt {
 public:
  // box is the client's port slot (client.ui.messageBox); it must outlive
  // the prompt, as must refusals (the client's) when given.
  explicit WindowPrompt(ui::MessageBox* const& box, Refusals* refusals = nullptr)
      : box_(box), refusals_(refusals), windowThread_(std::this_thread::get_id()) {}

  // A Yes/No box modal to the main window, No the default.
  bool Ask(const std::string& text) override;
  // With refusals, the box is left there for the Connect under way to show
  // after its own. Without, a box that does not wait for the operator: a
  // refusal repeated while it is open (a reconnection trying again) opens
  // no second one.
  void Tell(const std::string& text) override;
  // Noted in refusals, from any thread, for the client's log.
  void Refused(const std::string& line) override;

 private:
  bool OnWindowThread() const { return std::this_thread::get_id() == windowThread_; }

  ui::MessageBox* const& box_;
  Refusals* refusals_;
  std::thread::id windowThread_;
};

}  // namespace tagwell
