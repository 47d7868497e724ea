// A test-only driver of the desktop client: one real main window (offscreen)
// that takes its operator's commands from standard input, one per line, and
// answers each on standard output with one line starting "ok" or "error".
// Message boxes do not block: each is reported as a line "box CAPTION|TEXT".
//
//   connect PROGID      select PROGID under "Local OPC servers", press Connect
//   load FILE           Load Configuration File, answering the dialog with FILE
//   cycle TEXT          Select cycle duration, typing TEXT and pressing OK
//   read                Read Item
//   select ROW          click row ROW (from 0) of the item names
//   write TEXT          Write Item (to the selected row), typing TEXT and pressing OK
//   monitor             Options > Connection Monitor
//   database FILE       Connect to Database, answering the dialog with FILE
//   disconnect          Disconnect
//   exit                File > Exit
//   state               "ok role=.. connected=.. active=.. recorded=N"
//   records             "ok T1 T2 ..." wall-clock milliseconds of each recording
//   qualities           "ok Q1|Q2|..." the Quality column
//   remote HOST SERVER  type HOST into the remote computer box and SERVER into the
//                       remote server box, each with Enter, and press Connect
//   answer yes|no       how the next question box is answered (No when none is
//                       set); a question is reported as a line "ask CAPTION|TEXT"
//   outage              "ok bad=T" wall-clock milliseconds of the first moment every row
//                       showed "Bad - communication error" (watched every 20 ms), 0 if never
#include <QApplication>
#include <QDateTime>
#include <QDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "session/Commands.h"
#include "app/Desktop.h"
#include "app/MainWindow.h"
#include "app/WindowPrompt.h"
#include "db/Database.h"
#include "resources/MenuResource.h"
#include "resources/ResourceIds.h"
#include "resources/Resources.h"
#include "rpc/Activation.h"

namespace tagwell {
namespace {

void Say(const std::string& line) {
  std::string oneLine = line;
  for (char& c : oneLine)
    if (c == '\n') c = '|';
  std::fprintf(stdout, "%s\n", oneLine.c_str());
  std::fflush(stdout);
}

class ReportingMessageBox final : public ui::MessageBox {
 public:
  int Show(std::string_view text, std::string_view caption, ui::Icon, ui::Owner) override {
    Say("box " + std::string(caption) + "|" + std::string(text));
    return ui::IDOK;
  }
  int AskYesNo(std::string_view text, std::string_view caption, ui::Icon, ui::Owner) override {
    Say("ask " + std::string(caption) + "|" + std::string(text));
    int answer = answers.empty() ? ui::IDNO : answers.front();
    if (!answers.empty()) answers.erase(answers.begin());
    return answer;
  }
  std::vector<int> answers;
};

class ScriptedDesktop final : public Desktop {
 public:
  std::string GetOpenFileName(QWidget*, const QString&) override {
    std::string answer = next;
    next.clear();
    return answer;
  }
  bool OpenFile(const std::string&) override { return true; }
  std::string next;
};

// Every reading handed to the database writer, with its wall-clock time.
std::vector<qint64> recordTimes;

// With TAGWELL_E2E_RECORDS set, every recording time is also appended to
// that file at once, so that a client killed by the test leaves its times.
// A reading that a server database did not take (the writer's lease had
// gone to another client, or the database is out of reach) is no record.
int RecordingWriteDatabase(Client& client) {
  const qint64 now = QDateTime::currentMSecsSinceEpoch();
  const long fenced = client.dbWriter.fencedRows;
  const int result = WriteDatabase(client);
  if (client.dbWriter.fencedRows != fenced || client.dbWriter.outage) return result;
  recordTimes.push_back(now);
  if (const char* path = std::getenv("TAGWELL_E2E_RECORDS")) {
    if (FILE* file = std::fopen(path, "a")) {
      std::fprintf(file, "%lld\n", static_cast<long long>(now));
      std::fclose(file);
    }
  }
  return result;
}

// Types text into the first modal dialog that opens and presses its OK.
void AnswerDialogWith(const QString& text) {
  QTimer::singleShot(0, [text] {
    QWidget* modal = QApplication::activeModalWidget();
    auto* dialog = qobject_cast<QDialog*>(modal);
    if (!dialog) {
      AnswerDialogWith(text);  // not open yet: look again on the next turn
      return;
    }
    if (auto* edit = dialog->findChild<QLineEdit*>()) edit->setText(text);
    for (QPushButton* button : dialog->findChildren<QPushButton*>())
      if (button->isDefault()) {
        button->click();
        return;
      }
    dialog->accept();
  });
}

class Driver {
 public:
  Client& client() { return window_->client(); }

  Driver() {
    MainWindowOptions options;
    options.messageBox = &box_;
    options.desktop = &desktop_;
    options.quitOnExit = true;
    window_ = std::make_unique<MainWindow>(options);
    window_->client().writeDatabase = &RecordingWriteDatabase;
    window_->client().flushDatabase = &FlushDatabase;
    window_->show();
    watch_.callOnTimeout([this] { WatchQualities(); });
    watch_.start(20);
    input_ = std::make_unique<QSocketNotifier>(0, QSocketNotifier::Read);
    QObject::connect(input_.get(), &QSocketNotifier::activated, [this] { ReadCommand(); });
  }

 private:
  void ReadCommand() {
    std::string line;
    if (!std::getline(std::cin, line)) {
      input_->setEnabled(false);
      QApplication::exit(0);
      return;
    }
    std::istringstream words(line);
    std::string verb, argument;
    words >> verb;
    std::getline(words >> std::ws, argument);
    Run(verb, argument);
  }

  void Command(int id) { window_->commands().OnCommand(id, 0); }

  std::vector<std::string> Qualities() const {
    std::vector<std::string> texts;
    QListWidget* column = window_->listBox(res::IDC_QUALITIES);
    for (int i = 0; i < column->count(); ++i)
      texts.push_back(column->item(i)->text().toStdString());
    return texts;
  }

  void WatchQualities() {
    if (badSince_ != 0) return;
    auto texts = Qualities();
    if (texts.empty()) return;
    for (const auto& text : texts)
      if (text != "Bad - communication error") return;
    badSince_ = QDateTime::currentMSecsSinceEpoch();
  }

  void Run(const std::string& verb, const std::string& argument) {
    Client& client = window_->client();
    if (verb == "connect") {
      QListWidget* servers = window_->listBox(res::IDC_LOCAL_SERVERS);
      auto found = servers->findItems(QString::fromStdString(argument), Qt::MatchExactly);
      if (!found.isEmpty()) servers->setCurrentItem(found.front());
      Command(res::IDC_CONNECT_BUTTON);
      Say("ok connected=" + std::to_string(client.state.connected));
    } else if (verb == "remote") {
      // "remote COMPUTER SERVER": both names typed and committed, then Connect.
      const auto blank = argument.find(' ');
      const std::pair<int, std::string> names[] = {
          {res::IDC_REMOTE_COMPUTER, argument.substr(0, blank)},
          {res::IDC_REMOTE_SERVER, blank == std::string::npos ? "" : argument.substr(blank + 1)}};
      for (const auto& [box, text] : names) {
        window_->editBox(box)->setText(QString::fromStdString(text));
        window_->commands().OnCommand(box, EN_MAXTEXT);
      }
      Command(res::IDC_CONNECT_BUTTON);
      Say("ok connected=" + std::to_string(client.state.connected));
    } else if (verb == "load") {
      desktop_.next = argument;
      Command(res::IDM_LOADCONFIG);
      Say("ok items=" + std::to_string(client.state.itemsAdded));
    } else if (verb == "cycle") {
      AnswerDialogWith(QString::fromStdString(argument));
      Command(res::IDM_CYCLE);
      Say("ok cycle=" + client.state.cycleText.str());
    } else if (verb == "read") {
      Command(res::IDC_READ_BUTTON);
      Say("ok");
    } else if (verb == "select") {
      window_->listBox(res::IDC_ITEM_NAMES)->setCurrentRow(std::atoi(argument.c_str()));
      Say("ok row=" + std::to_string(client.state.selectedRow));
    } else if (verb == "write") {
      AnswerDialogWith(QString::fromStdString(argument));
      Command(res::IDM_WRITEITEM);
      Say("ok");
    } else if (verb == "monitor") {
      Command(res::IDM_MONITOR);
      Say("ok monitor=" + std::to_string(client.state.monitorEnabled));
    } else if (verb == "database") {
      desktop_.next = argument;
      Command(res::IDM_DB_CONNECT);
      Say("ok writing=" + std::to_string(client.state.databaseWriting));
    } else if (verb == "disconnect") {
      Command(res::IDC_DISCONNECT_BUTTON);
      Say("ok");
    } else if (verb == "exit") {
      Say("ok");
      Command(res::IDM_EXIT);
    } else if (verb == "state") {
      QListWidget* role = window_->listBox(res::IDC_ROLE_BOX);
      std::string roleText = role->count() ? role->item(0)->text().toStdString() : "";
      for (char& c : roleText)
        if (c == ' ') c = '_';
      Say("ok role=" + roleText + " connected=" + std::to_string(client.state.connected) +
          " active=" + std::to_string(client.state.isActive) +
          " recorded=" + std::to_string(recordTimes.size()));
    } else if (verb == "qualities") {
      std::string out = "ok ";
      for (const auto& text : Qualities()) out += text + "|";
      Say(out);
    } else if (verb == "remote") {
      std::istringstream names(argument);
      std::string computer, server;
      names >> computer >> server;
      window_->editBox(res::IDC_REMOTE_COMPUTER)->setText(QString::fromStdString(computer));
      window_->commands().OnCommand(res::IDC_REMOTE_COMPUTER, EN_MAXTEXT);
      window_->editBox(res::IDC_REMOTE_SERVER)->setText(QString::fromStdString(server));
      window_->commands().OnCommand(res::IDC_REMOTE_SERVER, EN_MAXTEXT);
      Command(res::IDC_CONNECT_BUTTON);
      Say("ok connected=" + std::to_string(client.state.connected));
    } else if (verb == "answer") {
      box_.answers.push_back(argument == "yes" ? ui::IDYES : ui::IDNO);
      Say("ok");
    } else if (verb == "outage") {
      Say("ok bad=" + std::to_string(badSince_));
    } else if (verb == "records") {
      std::string out = "ok";
      for (qint64 t : recordTimes) out += " " + std::to_string(t);
      Say(out);
    } else {
      Say("error unknown command " + verb);
    }
  }

  ReportingMessageBox box_;
  ScriptedDesktop desktop_;
  std::unique_ptr<MainWindow> window_;
  std::unique_ptr<QSocketNotifier> input_;
  QTimer watch_;
  qint64 badSince_ = 0;
};

}  // namespace
}  // namespace tagwell

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  tagwell::res::InitResources();
  tagwell::rpc::ScopedServerActivator activation;
  tagwell::Driver driver;
  tagwell::WindowPrompt prompt(driver.client().ui.messageBox);
  activation.SetPrompt(&prompt);
  int status = QApplication::exec();
  activation.SetPrompt(nullptr);
  return status;
}

// Fontconfig keeps a few blocks of its font cache to the end of the process;
// they are not the program's. Read only by LeakSanitizer builds.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}
