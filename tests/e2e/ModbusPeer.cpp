#include "tests/e2e/ModbusPeer.h"

#include <sstream>

namespace tagwell::testing {

ModbusPeer::ModbusPeer() {
  process_ = std::make_unique<ChildProcess>("/usr/bin/python3",
                                            std::vector<std::string>{TAGWELL_MODBUS_PEER}, ".",
                                            std::map<std::string, std::string>{});
  auto line = process_->ReadLine(std::chrono::seconds(30),
                                 [](const std::string& l) { return l.rfind("port ", 0) == 0; });
  if (line) port_ = static_cast<std::uint16_t>(std::stoul(line->substr(5)));
}

ModbusPeer::~ModbusPeer() {
  process_->Send("quit");
  if (!process_->Wait(std::chrono::seconds(10))) process_->Terminate();
}

bool ModbusPeer::Set(const std::string& table, unsigned address,
                     const std::vector<unsigned>& values) {
  std::ostringstream command;
  command << "set " << table << " " << address;
  for (unsigned v : values) command << " " << v;
  return process_->Ask(command.str()) == "ok";
}

std::vector<unsigned> ModbusPeer::Get(const std::string& table, unsigned address, unsigned count) {
  std::istringstream answer(
      process_->Ask("get " + table + " " + std::to_string(address) + " " + std::to_string(count)));
  std::string ok;
  std::vector<unsigned> values;
  if (!(answer >> ok) || ok != "ok") return values;
  for (unsigned v; answer >> v;) values.push_back(v);
  return values;
}

bool ModbusPeer::Stop() {
  return process_->Ask("stop") == "ok";
}

bool ModbusPeer::Start() {
  return process_->Ask("start") == "ok";
}

bool ModbusPeer::Delay(double seconds) {
  return process_->Ask("delay " + std::to_string(seconds)) == "ok";
}

bool ModbusPeer::MuteWrites() {
  return process_->Ask("mute-writes") == "ok";
}

int ModbusPeer::MutedWrites() {
  const std::string answer = process_->Ask("muted");
  return answer.rfind("ok ", 0) == 0 ? std::stoi(answer.substr(3)) : -1;
}

}  // namespace tagwell::testing
