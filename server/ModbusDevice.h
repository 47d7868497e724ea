// One Modbus TCP device and the thread that talks to it (libmodbus, one
// connection, reconnected by itself).
//
// The thread polls every point once a poll period and serves device reads
// and writes in between: the reads queued while it was busy are merged into
// requests for neighbouring registers (at most 125 registers or 2000 bits
// each). A request the device does not answer within its response timeout
// (or a connection it refuses) makes the device dead until the next poll
// period, and at least for one more timeout: meanwhile reads answer at
// once from the cache with quality OPC_QUALITY_COMM_FAILURE and writes fail
// at once, so a dead device costs a caller at most one response timeout.
//
// Qualities: OPC_QUALITY_NOT_CONNECTED until the device first answers for a
// point, OPC_QUALITY_COMM_FAILURE while it does not answer,
// OPC_QUALITY_DEVICE_FAILURE after a Modbus exception, good otherwise. Time
// stamps are the clock's time of the device's answer.
//
// Thread-safe. A device read or write is queued for the device thread and
// completed there: the caller either hands a callback (called once, on the
// device thread, or on the caller's when nothing was queued) or waits.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "server/AddressSpace.h"
#include "server/ModbusPoint.h"

namespace tagwell::server {

// Write failures beside the OPC ones: a Modbus exception answered by the
// device (code 1..255 added to the base), and no answer at all.
inline constexpr com::HRESULT kModbusExceptionBase = com::MakeHresult(0xC0041000);
inline constexpr com::HRESULT MODBUS_E_NOANSWER = com::MakeHresult(0xC0041100);
// The text GetErrorString gives for a code above; null for any other code.
const char* ModbusErrorText(com::HRESULT code);

struct DevicePoint {
  ModbusPoint point;
  double euLow = 0.0;  // the scaling's EU range
  double euHigh = 0.0;
};

class ModbusDevice final {
 public:
  // Starts the thread; it connects at once. points are numbered by position.
  ModbusDevice(ModbusDeviceDefinition definition, std::vector<DevicePoint> points,
               std::shared_ptr<Clock> clock);
  // Stops and joins the thread (waiting out a request in flight).
  ~ModbusDevice();
  ModbusDevice(const ModbusDevice&) = delete;
  ModbusDevice& operator=(const ModbusDevice&) = delete;

  // A read of several points in two steps, so that a caller reading from
  // several devices waits for them all at once. Begin queues a device read
  // (nothing for a cache read or while the device is dead); done, when
  // given, is called once the read is served (the device thread holds no
  // lock then; at once when nothing was queued), and may call Finish.
  // Finish waits for it and gives the readings, in the order of `points`.
  struct PendingRead;
  using ReadDone = std::function<void(const PendingRead&)>;
  std::shared_ptr<PendingRead> Begin(std::vector<std::size_t> points, bool fromDevice,
                                     ReadDone done = {});
  void Finish(const PendingRead& read, ItemReading* out);

  // Writes the encoded value (EncodePoint) of a coil or holding-register
  // point: S_OK, kModbusExceptionBase + code, or MODBUS_E_NOANSWER, handed
  // to done once the device answered (at once while the device is dead).
  using WriteDone = std::function<void(com::HRESULT)>;
  void BeginWrite(std::size_t point, std::vector<std::uint16_t> words, WriteDone done);
  // The same, waiting for the answer.
  com::HRESULT Write(std::size_t point, std::vector<std::uint16_t> words);

  const ModbusDeviceDefinition& Definition() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace tagwell::server
