// A client wired to fake window ports, working in a temporary folder, with
// the simulation server ("Tagwell.Simulation.1") and the fault-scripted test
// server ("Tagwell.TestServer.1") creatable in process over one address
// space (the built-in plant) and one stopped clock.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "browse/Browse.h"
#include "opc/ClientState.h"
#include "opc/Connection.h"
#include "opc/Items.h"
#include "opc/Reading.h"
#include "opc/TextHelpers.h"
#include "opc/Writing.h"
#include "platform/com/Com.h"
#include "server/AddressSpaceXml.h"
#include "server/Simulation.h"
#include "tests/support/FakeUi.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestServer.h"

namespace tagwell::testing {

using Lines = std::vector<std::string>;

// Sets an environment variable for the scope and restores it afterwards.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, const std::string& value);
  ~ScopedEnvironment();
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  std::string name_;
  std::string old_;
  bool had_ = false;
};

// TZ for the scope, applied to the process's time conversions.
class ScopedTimeZone final {
 public:
  explicit ScopedTimeZone(const char* tz);
  ~ScopedTimeZone();

 private:
  std::optional<ScopedEnvironment> tz_;
};

class OpsTest : public ::testing::Test {
 protected:
  OpsTest();
  ~OpsTest() override;

  // The Connect command on the local path with progId selected.
  void Connect(const std::string& progId = server::kSimulationProgId);
  // The Add Item command after its dialog: the name becomes the next row of
  // the Item name column, then AddItem, ReadItem, ReadItemAttributes. Checks
  // that no server memory is left over. Returns AddItem's result.
  int Add(const std::string& itemId);
  // Add, with the item requested in its own canonical type (no carry-over
  // from the previous item). Returns the item's row.
  int AddCanonical(const std::string& itemId);
  // ReadGroup of row k, as the read cycle calls it.
  int ReadRow(int k);
  // The write-value dialog's OK on row k with text.
  int Write(int k, const std::string& text);
  // The Remove Item command on row k.
  void RemoveRow(int k);
  // The captions of the message boxes shown so far.
  Lines Captions() const;
  // The Disconnect command's calls into the operations.
  void Disconnect();

  // What the server holds for an item now (read past the client).
  com::Variant ServerValue(const std::string& itemId);
  // The log file as written so far.
  std::string Log() const;
  void ExpectNoServerMemoryHeld();
  // Readings handed to the database writer since the fixture began.
  int DatabaseWrites() const;

  ScopedTimeZone utc_{"UTC"};
  std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>(TestEpoch());
  std::shared_ptr<server::AddressSpace> space = server::MakeDefaultAddressSpace(clock);
  std::shared_ptr<FaultScript> script = std::make_shared<FaultScript>();
  TempDir dir;
  FakeClient fake{dir.path()};
  Client& client = fake.client;
  FakeWindow& window = fake.window;

 private:
  com::DWORD simulationCookie_ = 0;
  com::DWORD testServerCookie_ = 0;
  std::size_t taskMemoryBaseline_ = 0;
};

}  // namespace tagwell::testing
