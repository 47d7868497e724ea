// Why connections to a remote server were refused, as the activation tells
// it while the client waits for it (from the window's thread or a
// reconnection's): a log line per refusal, and the box that says why. The
// Connect sequence shows that box after its own, so that it is the one on
// top, and logs the lines; a reconnection logs them once per outage.
//
// Thread-safe: noted on any thread, taken on the window's.
#pragma once

#include <mutex>
#include <string>
#include <vector>

namespace tagwell {

class Client;

class Refusals final {
 public:
  void NoteLine(std::string line);
  // The box for the Connect under way; a later one replaces it.
  void NoteBox(std::string text);

  struct Taken {
    std::vector<std::string> lines;
    std::string box;  // empty: none
  };
  Taken Take();

 private:
  std::mutex mutex_;
  Taken noted_;
};

// After a Connect: logs the refusals noted meanwhile in Logfile.txt and
// shows the box that says why (modal to the main window), if any.
void ReportRefusals(Client& client);
// After a reconnection attempt that failed: logs the refusals noted
// meanwhile, each reason once while *lastLogged holds it; the box is
// dropped (the attempt runs unseen). Empty *lastLogged at the outage's end.
void LogReconnectRefusals(Client& client, std::string* lastLogged);

}  // namespace tagwell
