// tagwell-server: hosts the simulation OPC DA server for Tagwell clients.
#include <cstdio>
#include <exception>

#include "server/host/DcomFace.h"
#include "server/host/Host.h"
#include "server/host/Identity.h"

int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv + 1, argv + argc);
  std::string error;
  auto options = tagwell::host::ParseHostOptions(arguments, &error);
  if (!options) {
    std::fprintf(stderr, "tagwell-server: %s\n\n%s", error.c_str(),
                 tagwell::host::HostUsage().c_str());
    return 2;
  }
  if (options->help) {
    std::fputs(tagwell::host::HostUsage().c_str(), stdout);
    return 0;
  }
  try {
    if (options->printFingerprint) return tagwell::host::PrintFingerprint();
    if (options->authorize) return tagwell::host::AuthorizeClient(*options);
    if (options->addDcomAccount) return tagwell::host::AddDcomAccountFromTerminal(*options);
    return tagwell::host::RunHost(*options);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tagwell-server: stopped by a fault: %s\n", e.what());
    return 1;
  }
}
