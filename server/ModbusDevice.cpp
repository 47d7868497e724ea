#include "server/ModbusDevice.h"

#include <modbus/modbus.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <future>
#include <mutex>
#include <thread>

namespace tagwell::server {
namespace {

using Steady = std::chrono::steady_clock;

constexpr unsigned kMaxRegisters = 125;
constexpr unsigned kMaxBits = 2000;

// Neighbouring points of one register kind, read with one request.
struct Block {
  RegisterKind kind;
  unsigned start = 0;
  unsigned end = 0;  // one past the last register or bit
  std::vector<std::size_t> points;
};

enum class Outcome { Answered, Exception, NoAnswer };

struct Answer {
  Outcome outcome = Outcome::NoAnswer;
  int exception = 0;
  std::vector<std::uint16_t> words;  // from Block::start
};

// How a failed libmodbus call ended: errno tells a Modbus exception from
// a request that got no (usable) answer.
Answer Failed() {
  Answer answer;
  const int code = errno - MODBUS_ENOBASE;
  if (code >= MODBUS_EXCEPTION_ILLEGAL_FUNCTION && code <= MODBUS_EXCEPTION_GATEWAY_TARGET) {
    answer.outcome = Outcome::Exception;
    answer.exception = code;
  }
  return answer;
}

const char* ExceptionName(int code) {
  switch (code) {
    case 1:
      return "illegal function";
    case 2:
      return "illegal data address";
    case 3:
      return "illegal data value";
    case 4:
      return "server device failure";
    case 5:
      return "acknowledge";
    case 6:
      return "server device busy";
    case 7:
      return "negative acknowledge";
    case 8:
      return "memory parity error";
    case 10:
      return "gateway path unavailable";
    case 11:
      return "gateway target device failed to respond";
    default:
      return "unknown exception";
  }
}

}  // namespace

const char* ModbusErrorText(com::HRESULT code) {
  static const struct Texts {
    std::string texts[256];
    Texts() {
      for (int i = 1; i < 256; ++i)
        texts[i] = "The device refused the request with Modbus exception " + std::to_string(i) +
                   " (" + ExceptionName(i) + ").";
    }
  } texts;
  if (code == MODBUS_E_NOANSWER) return "The device did not answer within its response timeout.";
  const auto offset =
      static_cast<std::uint32_t>(code) - static_cast<std::uint32_t>(kModbusExceptionBase);
  if (offset >= 1 && offset < 256) return texts.texts[offset].c_str();
  return nullptr;
}

struct ModbusDevice::PendingRead {
  std::vector<std::size_t> points;
  bool done = false;
  ReadDone onDone;
};

struct ModbusDevice::State {
  struct WriteRequest {
    std::size_t point;
    std::vector<std::uint16_t> words;
    WriteDone onDone;
    com::HRESULT result = MODBUS_E_NOANSWER;
  };
  using Writes = std::vector<std::shared_ptr<WriteRequest>>;
  struct Cached {
    ItemReading reading;
    bool answered = false;
  };

  ModbusDeviceDefinition definition;
  std::vector<DevicePoint> points;
  std::shared_ptr<Clock> clock;

  std::mutex mutex;
  std::condition_variable wake;    // work for the thread, or stop
  std::condition_variable served;  // requests done
  bool stop = false;
  std::deque<std::shared_ptr<PendingRead>> reads;
  std::deque<std::shared_ptr<WriteRequest>> writes;
  std::vector<Cached> cache;
  Steady::time_point deadUntil{};
  bool dead = false;

  // The thread's own.
  modbus_t* context = nullptr;
  bool connected = false;
  std::thread thread;

  void Run();
  void Serve(std::unique_lock<std::mutex>& lock, Steady::time_point* nextPoll);
  bool Cycle(bool poll, const std::vector<std::shared_ptr<PendingRead>>& served,
             const Writes& written);
  void Complete(std::unique_lock<std::mutex>& lock,
                const std::vector<std::shared_ptr<PendingRead>>& taken, const Writes& writing);
  bool Connect();
  void Disconnect();
  std::vector<Block> Blocks(std::vector<std::size_t> wanted) const;
  Answer ReadBlock(const Block& block);
  bool ReadAndStore(const Block& block);
  com::HRESULT DoWrite(const WriteRequest& request);
  void Store(const Block& block, const Answer& answer);
  void MarkDead(const char* why);
  bool IsDead(Steady::time_point now) const { return dead && now < deadUntil; }
};

ModbusDevice::ModbusDevice(ModbusDeviceDefinition definition, std::vector<DevicePoint> points,
                           std::shared_ptr<Clock> clock)
    : state_(std::make_unique<State>()) {
  State& s = *state_;
  s.definition = std::move(definition);
  s.points = std::move(points);
  s.clock = std::move(clock);
  const com::FILETIME now = s.clock->Now();
  for (const DevicePoint& p : s.points) {
    State::Cached& c = s.cache.emplace_back();
    const std::vector<std::uint16_t> zeros(PointWidth(p.point), 0);
    c.reading.value = DecodePoint(p.point, zeros.data(), p.euLow, p.euHigh);
    c.reading.quality = com::OPC_QUALITY_NOT_CONNECTED;
    c.reading.timeStamp = now;
  }
  const std::string port = std::to_string(s.definition.port);
  s.context = modbus_new_tcp_pi(s.definition.host.c_str(), port.c_str());
  if (s.context) {
    modbus_set_slave(s.context, s.definition.unit);
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(s.definition.timeout);
    const auto sec = static_cast<std::uint32_t>(us.count() / 1000000);
    const auto usec = static_cast<std::uint32_t>(us.count() % 1000000);
    modbus_set_response_timeout(s.context, sec, usec);
    modbus_set_byte_timeout(s.context, sec, usec);
  }
  s.thread = std::thread([&s] { s.Run(); });
}

ModbusDevice::~ModbusDevice() {
  {
    std::lock_guard lock(state_->mutex);
    state_->stop = true;
  }
  state_->wake.notify_all();
  state_->thread.join();
  state_->Disconnect();
  if (state_->context) modbus_free(state_->context);
}

const ModbusDeviceDefinition& ModbusDevice::Definition() const {
  return state_->definition;
}

std::shared_ptr<ModbusDevice::PendingRead> ModbusDevice::Begin(std::vector<std::size_t> points,
                                                               bool fromDevice, ReadDone done) {
  auto read = std::make_shared<PendingRead>();
  read->points = std::move(points);
  {
    std::lock_guard lock(state_->mutex);
    if (fromDevice && !state_->stop && !state_->IsDead(Steady::now())) {
      read->onDone = std::move(done);
      state_->reads.push_back(read);
      state_->wake.notify_all();
      return read;
    }
    read->done = true;
  }
  if (done) done(*read);
  return read;
}

void ModbusDevice::Finish(const PendingRead& read, ItemReading* out) {
  std::unique_lock lock(state_->mutex);
  state_->served.wait(lock, [&] { return read.done; });
  for (std::size_t i = 0; i < read.points.size(); ++i)
    out[i] = state_->cache[read.points[i]].reading;
}

void ModbusDevice::BeginWrite(std::size_t point, std::vector<std::uint16_t> words, WriteDone done) {
  {
    std::lock_guard lock(state_->mutex);
    if (!state_->stop && !state_->IsDead(Steady::now())) {
      state_->writes.push_back(std::make_shared<State::WriteRequest>(
          State::WriteRequest{point, std::move(words), std::move(done)}));
      state_->wake.notify_all();
      return;
    }
  }
  done(MODBUS_E_NOANSWER);
}

com::HRESULT ModbusDevice::Write(std::size_t point, std::vector<std::uint16_t> words) {
  std::promise<com::HRESULT> answer;
  BeginWrite(point, std::move(words), [&answer](com::HRESULT hr) { answer.set_value(hr); });
  return answer.get_future().get();
}

void ModbusDevice::State::Run() {
  Steady::time_point nextPoll = Steady::now();
  std::unique_lock lock(mutex);
  while (!stop) {
    wake.wait_until(lock, nextPoll, [&] { return stop || !reads.empty() || !writes.empty(); });
    if (!stop) Serve(lock, &nextPoll);
  }
  // Nobody is left waiting for an answer that will not come.
  std::vector<std::shared_ptr<PendingRead>> taken(reads.begin(), reads.end());
  Writes writing(writes.begin(), writes.end());
  reads.clear();
  writes.clear();
  Complete(lock, taken, writing);
}

// Marks the requests served and calls their callbacks without the lock
// (they read the cache). Called and returns with the lock held.
void ModbusDevice::State::Complete(std::unique_lock<std::mutex>& lock,
                                   const std::vector<std::shared_ptr<PendingRead>>& taken,
                                   const Writes& writing) {
  std::vector<std::pair<const PendingRead*, ReadDone>> callbacks;
  for (auto& read : taken) {
    read->done = true;
    if (read->onDone) callbacks.emplace_back(read.get(), std::move(read->onDone));
  }
  served.notify_all();
  lock.unlock();
  for (auto& [read, callback] : callbacks) callback(*read);
  for (auto& write : writing) write->onDone(write->result);
  lock.lock();
}

// One round: the requests queued so far, and the poll when it is due.
// Called and returns with the lock held; talks to the device without it.
void ModbusDevice::State::Serve(std::unique_lock<std::mutex>& lock, Steady::time_point* nextPoll) {
  const Steady::time_point start = Steady::now();
  const bool poll = start >= *nextPoll;
  std::vector<std::shared_ptr<PendingRead>> taken(reads.begin(), reads.end());
  Writes writing(writes.begin(), writes.end());
  reads.clear();
  writes.clear();
  if (IsDead(start) && !poll) {
    // Asked while dead (queued before it died): the cache answers.
    Complete(lock, taken, writing);
    return;
  }
  lock.unlock();
  const bool alive = Cycle(poll, taken, writing);
  lock.lock();
  if (poll) *nextPoll = std::max(start + definition.period, Steady::now());
  if (!alive) {
    // Until the next poll, and at least one timeout from now: with a poll
    // period shorter than the timeout, reads would otherwise wait for
    // attempt after attempt.
    deadUntil = std::max(start + definition.period, Steady::now() + definition.timeout);
    *nextPoll = deadUntil;
  }
  Complete(lock, taken, writing);
}

bool ModbusDevice::State::Cycle(bool poll, const std::vector<std::shared_ptr<PendingRead>>& served,
                                const Writes& written) {
  if (!Connect()) return false;
  for (const auto& write : written) {
    write->result = DoWrite(*write);
    if (write->result == MODBUS_E_NOANSWER) return false;
  }
  std::vector<std::size_t> wanted;
  if (poll) {
    for (std::size_t i = 0; i < points.size(); ++i) wanted.push_back(i);
  } else {
    for (const auto& read : served)
      wanted.insert(wanted.end(), read->points.begin(), read->points.end());
  }
  for (const Block& block : Blocks(std::move(wanted)))
    if (!ReadAndStore(block)) return false;
  return true;
}

bool ModbusDevice::State::Connect() {
  if (connected) return true;
  if (context && modbus_connect(context) == 0) {
    connected = true;
    return true;
  }
  MarkDead(modbus_strerror(errno));
  return false;
}

void ModbusDevice::State::Disconnect() {
  if (connected) modbus_close(context);
  connected = false;
}

std::vector<Block> ModbusDevice::State::Blocks(std::vector<std::size_t> wanted) const {
  std::sort(wanted.begin(), wanted.end(), [&](std::size_t a, std::size_t b) {
    const ModbusPoint& pa = points[a].point;
    const ModbusPoint& pb = points[b].point;
    return std::tie(pa.kind, pa.address, a) < std::tie(pb.kind, pb.address, b);
  });
  wanted.erase(std::unique(wanted.begin(), wanted.end()), wanted.end());
  std::vector<Block> blocks;
  for (std::size_t index : wanted) {
    const ModbusPoint& p = points[index].point;
    const unsigned end = p.address + PointWidth(p);
    const unsigned limit = IsBitKind(p.kind) ? kMaxBits : kMaxRegisters;
    if (!blocks.empty()) {
      Block& last = blocks.back();
      if (last.kind == p.kind && p.address <= last.end &&
          std::max(last.end, end) - last.start <= limit) {
        last.end = std::max(last.end, end);
        last.points.push_back(index);
        continue;
      }
    }
    blocks.push_back(Block{p.kind, p.address, end, {index}});
  }
  return blocks;
}

Answer ModbusDevice::State::ReadBlock(const Block& block) {
  const int count = static_cast<int>(block.end - block.start);
  const int start = static_cast<int>(block.start);
  Answer answer;
  answer.words.assign(static_cast<std::size_t>(count), 0);
  int rc = -1;
  if (IsBitKind(block.kind)) {
    std::vector<std::uint8_t> bits(static_cast<std::size_t>(count), 0);
    rc = block.kind == RegisterKind::Coil
             ? modbus_read_bits(context, start, count, bits.data())
             : modbus_read_input_bits(context, start, count, bits.data());
    std::copy(bits.begin(), bits.end(), answer.words.begin());
  } else if (block.kind == RegisterKind::HoldingRegister) {
    rc = modbus_read_registers(context, start, count, answer.words.data());
  } else {
    rc = modbus_read_input_registers(context, start, count, answer.words.data());
  }
  if (rc == count) {
    answer.outcome = Outcome::Answered;
    return answer;
  }
  return Failed();
}

// Reads the block and stores what the device said; false when it did not
// answer. A block refused with an exception is asked again point by point,
// so that one bad address does not spoil its neighbours.
bool ModbusDevice::State::ReadAndStore(const Block& block) {
  const Answer answer = ReadBlock(block);
  if (answer.outcome == Outcome::NoAnswer) {
    MarkDead(modbus_strerror(errno));
    return false;
  }
  if (answer.outcome == Outcome::Exception && block.points.size() > 1) {
    for (std::size_t index : block.points) {
      const ModbusPoint& p = points[index].point;
      if (!ReadAndStore(Block{p.kind, p.address, p.address + PointWidth(p), {index}})) return false;
    }
    return true;
  }
  Store(block, answer);
  return true;
}

void ModbusDevice::State::Store(const Block& block, const Answer& answer) {
  const com::FILETIME now = clock->Now();
  std::lock_guard lock(mutex);
  if (dead)
    std::fprintf(stderr, "tagwell-server: device %s answers again\n", definition.path.c_str());
  dead = false;
  for (std::size_t index : block.points) {
    const DevicePoint& p = points[index];
    Cached& c = cache[index];
    c.answered = true;
    c.reading.timeStamp = now;
    if (answer.outcome == Outcome::Exception) {
      c.reading.quality = com::OPC_QUALITY_DEVICE_FAILURE;
      continue;
    }
    c.reading.value = DecodePoint(p.point, answer.words.data() + (p.point.address - block.start),
                                  p.euLow, p.euHigh);
    c.reading.quality = com::OPC_QUALITY_GOOD;
  }
}

com::HRESULT ModbusDevice::State::DoWrite(const WriteRequest& request) {
  const ModbusPoint& p = points[request.point].point;
  int rc = -1;
  if (p.kind == RegisterKind::Coil)
    rc = modbus_write_bit(context, p.address, request.words[0] != 0 ? 1 : 0);
  else if (request.words.size() == 1)
    rc = modbus_write_register(context, p.address, request.words[0]);
  else
    rc = modbus_write_registers(context, p.address, static_cast<int>(request.words.size()),
                                request.words.data());
  if (rc != -1) return com::S_OK;
  const Answer answer = Failed();
  if (answer.outcome == Outcome::Exception)
    return static_cast<com::HRESULT>(static_cast<std::uint32_t>(kModbusExceptionBase) +
                                     static_cast<std::uint32_t>(answer.exception));
  MarkDead(modbus_strerror(errno));
  return MODBUS_E_NOANSWER;
}

// The device did not answer: its points keep their last values with a bad
// quality, and the connection is dropped (a late answer must not be taken
// for the next one).
void ModbusDevice::State::MarkDead(const char* why) {
  Disconnect();
  std::lock_guard lock(mutex);
  if (!dead)
    std::fprintf(stderr, "tagwell-server: device %s (%s port %u) does not answer: %s\n",
                 definition.path.c_str(), definition.host.c_str(),
                 static_cast<unsigned>(definition.port), why);
  dead = true;
  for (Cached& c : cache)
    c.reading.quality = c.answered ? com::OPC_QUALITY_COMM_FAILURE : com::OPC_QUALITY_NOT_CONNECTED;
}

}  // namespace tagwell::server
