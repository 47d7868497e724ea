// The account dialog of a DCOM computer (ui::CredentialsPrompt): user,
// domain, password and "remember", modal to the main window. The password
// box never shows what is typed and is empty each time it opens.
#pragma once

#include <QPointer>
#include <QWidget>

#include "platform/ui/Ui.h"

namespace tagwell {

class QtCredentialsPrompt final : public ui::CredentialsPrompt {
 public:
  explicit QtCredentialsPrompt(QWidget* mainWindow) : mainWindow_(mainWindow) {}
  bool Ask(std::string_view computer, std::string_view reason,
           credentials::Credentials* credentials, bool* remember) override;

 private:
  QPointer<QWidget> mainWindow_;
};

}  // namespace tagwell
