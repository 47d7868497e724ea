// tagwell_dcom_peer PORT ACCOUNTS [privacy]: the simulation served over
// DCOM on 127.0.0.1:PORT with the accounts file ACCOUNTS, for the process
// tests of the desktop client until tagwell-server has its DCOM face.
// "privacy" refuses activation below packet privacy. Prints "listening
// PORT" once it accepts connections; runs until it is killed.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "dcom/rpc/Server.h"
#include "tests/dcom/client/DcomPeer.h"

int main(int argc, char** argv) {
  using namespace tagwell::dcom;
  if (argc < 3) {
    std::fprintf(stderr, "usage: tagwell_dcom_peer PORT ACCOUNTS [privacy]\n");
    return 2;
  }
  const auto port = static_cast<std::uint16_t>(std::atoi(argv[1]));
  const AuthLevel minimum = argc > 3 && std::string(argv[3]) == "privacy"
                                ? AuthLevel::PacketPrivacy
                                : AuthLevel::PacketIntegrity;
  auto runtime = MakeSimulationRuntime(port, minimum);
  ServerOptions options;
  options.port = port;
  options.accountsPath = argv[2];
  options.log = [](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); };
  Server server(*runtime, options);
  std::string error;
  if (!server.Start(&error)) {
    std::fprintf(stderr, "tagwell_dcom_peer: %s\n", error.c_str());
    return 1;
  }
  std::printf("listening %u\n", static_cast<unsigned>(server.port()));
  std::fflush(stdout);
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTERM);
  sigaddset(&stop, SIGINT);
  sigprocmask(SIG_BLOCK, &stop, nullptr);
  int signal = 0;
  sigwait(&stop, &signal);
  server.Stop();
  return 0;
}
