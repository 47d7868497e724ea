// tagwell-recorder: the client without a window, for a service.
//
//   tagwell-recorder SESSION-FILE          record as the session file says
//   tagwell-recorder --check SESSION-FILE  check it; nothing is recorded
//
// Exit status 0, or 1 when the session file, the server, the items or the
// database cannot be used. SIGTERM and SIGINT end it in order (exit 0).
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <cctype>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "dcom/ClientActivation.h"
#include "dcom/TransportChoice.h"
#include "opc/Log.h"
#include "recorder/Journal.h"
#include "recorder/Notify.h"
#include "recorder/Recorder.h"
#include "recorder/SessionFile.h"
#include "rpc/Activation.h"
#include "rpc/Trust.h"

namespace {

using namespace tagwell::recorder;

Journal* journal = nullptr;
int stopPipe[2] = {-1, -1};

void EchoLog(std::string_view text) {
  if (journal) journal->WriteLog(text);
}

void OnStopSignal(int) {
  const char byte = 1;
  [[maybe_unused]] ssize_t n = ::write(stopPipe[1], &byte, 1);
}

// The remote server named with its fingerprint joins known-servers as an
// operator's Yes would add it ("host:port", the host in lower case).
void TrustSessionServer(const SessionSettings& settings) {
  if (settings.fingerprint.empty()) return;
  std::string computer;
  for (char c : settings.computer)
    computer += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const auto colon = computer.rfind(':');
  if (colon == std::string::npos || computer.back() == ']')
    computer += ":" + std::to_string(tagwell::rpc::kDefaultRemotePort);
  const std::string path = tagwell::rpc::KnownServersPath();
  if (tagwell::rpc::KnownServerFingerprint(path, computer)) return;
  std::string error;
  if (tagwell::rpc::AddKnownServer(path, computer, settings.fingerprint, &error))
    journal->Write(Priority::Notice, "Trusting the server at " + computer + " with fingerprint " +
                                         settings.fingerprint + " (" + settings.path + ")");
  else
    journal->Write(Priority::Error, "Cannot remember the server at " + computer + ": " + error);
}

int Usage() {
  std::fprintf(stderr,
               "usage: tagwell-recorder [--check] SESSION-FILE\n"
               "Records the items of an OPC server as the session file says; with --check,\n"
               "checks the file, the server, the items and the database, and records nothing.\n");
  return 2;
}

bool ReadSettings(const std::string& path, SessionSettings* settings) {
  Problems problems;
  const bool ok = ReadSessionFile(path, settings, &problems);
  for (const std::string& problem : problems) journal->Write(Priority::Error, problem);
  return ok;
}

// The check leaves nothing behind: its log goes to a folder of its own,
// removed at the end, and to standard output.
int RunCheck(tagwell::rpc::RpcActivator& activation, const SessionSettings& settings) {
  QTemporaryDir folder;
  Recorder recorder(settings, *journal, folder.isValid() ? folder.path().toStdString() : "");
  RecorderPrompt prompt(*journal, recorder.client().refusals);
  activation.SetPrompt(&prompt);
  const bool ok = recorder.Check();
  activation.SetPrompt(nullptr);
  journal->Write(ok ? Priority::Notice : Priority::Error,
                 settings.path + (ok ? ": ready to record" : ": cannot record as it stands"));
  return ok ? 0 : 1;
}

int RunService(QCoreApplication& application, tagwell::rpc::RpcActivator& activation,
               const SessionSettings& settings) {
  Notifier notifier;
  Recorder recorder(settings, *journal, settings.folder);
  RecorderPrompt prompt(*journal, recorder.client().refusals);
  activation.SetPrompt(&prompt);
  // The prompt goes before the recorder.
  struct Unset {
    tagwell::rpc::RpcActivator& activation;
    ~Unset() { activation.SetPrompt(nullptr); }
  } unset{activation};
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, stopPipe) != 0) return 1;
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  if (!recorder.Start(&notifier)) {
    notifier.Status("Not started: " + journal->LastError());
    return 1;
  }
  // The signal is seen between ticks: the tick in flight has ended and its
  // rows are stored.
  QSocketNotifier stop(stopPipe[0], QSocketNotifier::Read);
  QObject::connect(&stop, &QSocketNotifier::activated, [&] {
    stop.setEnabled(false);
    recorder.Stop();
    journal->Write(Priority::Notice, "Stopped: " + recorder.Status());
    notifier.Stopping("Stopped. " + recorder.Status());
    QCoreApplication::exit(0);
  });
  return application.exec();
}

}  // namespace

int main(int argc, char** argv) {
  bool check = false;
  std::string path;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--check")
      check = true;
    else if (argument == "--help" || argument == "-h" || !path.empty() || argument.empty() ||
             argument[0] == '-')
      return Usage();
    else
      path = argument;
  }
  if (path.empty()) return Usage();
  QCoreApplication application(argc, argv);
  std::setlocale(LC_NUMERIC, "C");
  // --check speaks to a person on standard output; the service to the
  // journal on standard error. The item list loader's attribute trace
  // (standard output) is for nobody here.
  const int out = ::dup(1);
  if (const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC); null >= 0) {
    ::dup2(null, 1);
    ::close(null);
  }
  Journal theJournal(check && out >= 0 ? out : 2, check, Priority::Notice);
  journal = &theJournal;
  tagwell::SetLogEcho(&EchoLog);
  SessionSettings settings;
  const bool readable = ReadSettings(path, &settings);
  if (!readable) {
    if (check) journal->Write(Priority::Error, path + ": cannot record as it stands");
    return 1;
  }
  // This computer's key and certificate and the servers it trusts.
  if (!settings.credentials.empty()) ::setenv("XDG_CONFIG_HOME", settings.credentials.c_str(), 1);
  TrustSessionServer(settings);
  // As in the window: tagwell-servers through rpc/, computers named the
  // Windows way through DCOM, with the accounts of the credentials folder's
  // file (tagwell/credentials; nobody is there to be asked for one).
  tagwell::rpc::RpcActivator tagwellServers;
  tagwell::credentials::FileCredentialStore accountsFile(
      tagwell::credentials::FileCredentialStore::DefaultPath());
  tagwell::credentials::CredentialBook accounts(&accountsFile);
  tagwell::dcom::ClientOptions dcomOptions;
  dcomOptions.credentials = &accounts;
  tagwell::dcom::DcomActivator dcomServers(dcomOptions);
  tagwell::dcom::ScopedTransportChoice activation(tagwellServers, dcomServers);
  const int status = check ? RunCheck(tagwellServers, settings)
                           : RunService(application, tagwellServers, settings);
  tagwell::SetLogEcho(nullptr);
  return status;
}
