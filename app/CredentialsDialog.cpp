#include "app/CredentialsDialog.h"

#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace tagwell {
namespace {

QString Text(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

struct Fields {
  QLineEdit* user;
  QLineEdit* domain;
  QLineEdit* password;
  QCheckBox* remember;
  QPushButton* ok;
};

Fields Build(QDialog& dialog, std::string_view computer, std::string_view reason) {
  auto* layout = new QVBoxLayout(&dialog);
  auto* why = new QLabel(Text(reason) + "\n" +
                         QObject::tr("Log on to %1 with a Windows account of that computer or of "
                                     "its domain.")
                             .arg(Text(computer)));
  why->setWordWrap(true);
  layout->addWidget(why);
  auto* form = new QFormLayout;
  Fields f{new QLineEdit, new QLineEdit, new QLineEdit,
           new QCheckBox(QObject::tr("&Remember the account for this computer")), nullptr};
  f.user->setObjectName("user");
  f.domain->setObjectName("domain");
  f.password->setObjectName("password");
  f.remember->setObjectName("remember");
  f.password->setEchoMode(QLineEdit::Password);
  f.domain->setPlaceholderText(QObject::tr("empty: an account of the computer itself"));
  form->addRow(QObject::tr("&User:"), f.user);
  form->addRow(QObject::tr("&Domain:"), f.domain);
  form->addRow(QObject::tr("&Password:"), f.password);
  layout->addLayout(form);
  layout->addWidget(f.remember);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  f.ok = buttons->button(QDialogButtonBox::Ok);
  f.ok->setDefault(true);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  layout->addWidget(buttons);
  return f;
}

}  // namespace

bool QtCredentialsPrompt::Ask(std::string_view computer, std::string_view reason,
                              credentials::Credentials* credentials, bool* remember) {
  QDialog dialog(mainWindow_);
  dialog.setWindowTitle(QObject::tr("Account for %1").arg(Text(computer)));
  Fields f = Build(dialog, computer, reason);
  f.user->setText(QString::fromStdString(credentials->user));
  f.domain->setText(QString::fromStdString(credentials->domain));
  f.remember->setChecked(*remember);
  auto enable = [&f] { f.ok->setEnabled(!f.user->text().trimmed().isEmpty()); };
  QObject::connect(f.user, &QLineEdit::textChanged, &dialog, enable);
  enable();
  (credentials->user.empty() ? f.user : f.password)->setFocus();
  if (dialog.exec() != QDialog::Accepted) return false;
  credentials->user = f.user->text().trimmed().toStdString();
  credentials->domain = f.domain->text().trimmed().toStdString();
  credentials->password = f.password->text().toStdString();
  *remember = f.remember->isChecked();
  f.password->clear();
  return true;
}

}  // namespace tagwell
