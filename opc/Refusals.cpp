#include "opc/Refusals.h"

#include "opc/ClientState.h"
#include "opc/Connection.h"
#include "opc/Log.h"

namespace tagwell {

void Refusals::NoteLine(std::string line) {
  std::lock_guard lock(mutex_);
  noted_.lines.push_back(std::move(line));
}

void Refusals::NoteBox(std::string text) {
  std::lock_guard lock(mutex_);
  noted_.box = std::move(text);
}

Refusals::Taken Refusals::Take() {
  std::lock_guard lock(mutex_);
  return std::exchange(noted_, Taken{});
}

void ReportRefusals(Client& client) {
  Refusals::Taken taken = client.refusals.Take();
  for (const std::string& line : taken.lines)
    AppendLog(client, LogOpen::Checked, "*** Connection refused: " + line + "\n");
  if (!taken.box.empty())
    ShowWarning(client, taken.box, "Remote Server connection", ui::Owner::MainWindow);
}

void LogReconnectRefusals(Client& client, std::string* lastLogged) {
  Refusals::Taken taken = client.refusals.Take();
  for (const std::string& line : taken.lines) {
    if (line == *lastLogged) continue;
    AppendLog(client, LogOpen::Unchecked, "*** Reconnection refused: " + line + "\n");
    *lastLogged = line;
  }
}

}  // namespace tagwell
