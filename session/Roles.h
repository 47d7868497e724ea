// The active/standby protocol between clients that share one server and one
// database: at most one client, the active one, records and writes the
// heartbeat item; the others stand by and take over when the active client
// stops for any reason.
//
// The active client holds a lease in the shared role record and renews it
// at the start and the end of every tick for two of its own cycles, so that
// only a tick that hangs for longer lets it run out; a standby takes the role once
// the lease has run out (the active client crashed, hangs or lost its
// server), or at once when the active client gave it up (Disconnect, Exit,
// monitoring switched off). A client that finds another one holding the
// role steps down. Time is the role store's, so the record can move from
// Config.ini to a shared store without changing the tick.
//
// Thread rules: the window's thread only.
#pragma once

#include <functional>
#include <string>

#include "opc/ClientState.h"

namespace tagwell {

// The shared role record.
struct RoleRecord {
  int active = 0;            // Active: 1 while some client holds the active role
  int number = 0;            // Number: 1 while a standby client has announced itself
  std::string holder;        // ActiveClient: who holds the active role
  long long cycleMs = 0;     // ActiveCycle: the active client's cycle
  long long leaseUntil = 0;  // LeaseUntil: the end of its lease, on the store's clock (ms)
  std::string released;      // Released: why the last active client gave the role up
};

// Where the role record lives.
class RoleStore {
 public:
  virtual ~RoleStore() = default;
  // Reads the record and hands it to change with the store's time (ms);
  // when change returns true, the changed record is written. The whole step
  // is one: no other client reads or writes the record in between. False
  // when the record could not be read or written (nothing changed then).
  virtual bool Update(const std::function<bool(RoleRecord& record, long long nowMs)>& change) = 0;
};

// Milliseconds of the wall clock (older clients counted their leases in
// it).
long long WallClockMs();
// Milliseconds since the computer started (CLOCK_BOOTTIME): every process
// of the computer shares it, nobody sets it, and it goes on while the
// computer sleeps, so a clock step never ends a healthy client's lease.
long long BootClockMs();
// Names the boot that BootClockMs counts from ("boottime:" and the
// kernel's boot id): a lease of an earlier boot holds nothing.
std::string BootClockName();

// The record as keys of [Clients] in Config.ini, each step under the
// profile writers' lock; only the keys that changed are written. The lease
// is counted on nowMs, whose name (clockName) goes into LeaseClock beside
// it; a lease of a record without LeaseClock was counted on the wall clock
// and is read on it.
class ConfigIniRoleStore final : public RoleStore {
 public:
  explicit ConfigIniRoleStore(const Client& client, std::function<long long()> nowMs = BootClockMs,
                              std::string clockName = BootClockName())
      : client_(client), nowMs_(std::move(nowMs)), clockName_(std::move(clockName)) {}
  bool Update(const std::function<bool(RoleRecord&, long long)>& change) override;

 private:
  long long LeaseOnThisClock(const std::string& leaseText, const std::string& clock,
                             long long now) const;

  const Client& client_;
  std::function<long long()> nowMs_;
  std::string clockName_;
};

// The lease is this many of the active client's cycles long: a standby
// takes over at most this many cycles after the active client's last tick,
// plus one of its own to notice, so recording misses at most three cycles.
inline constexpr int kLeaseCycles = 2;

// Who this client is in the record: host, process and a random part.
std::string MakeClientIdentity();

class ActiveStandby final {
 public:
  // client and store outlive this object.
  ActiveStandby(Client& client, RoleStore& store, std::string identity = MakeClientIdentity())
      : client_(client), store_(store), identity_(std::move(identity)) {}

  // The Connection Monitor command. Switching on: ACTIVE when no client
  // holds a live lease (the lease is taken), STAND BY otherwise (Number is
  // announced). Switching off: an active client gives the role up and stops
  // recording; a standby withdraws its announcement. Returns the new
  // monitorEnabled, for the menu item's check mark.
  int MonitorCommand(unsigned cycleMs);

  // The role step of a tick, before the rows are read (monitorEnabled 1):
  // the active client renews its lease or steps down when another client
  // took over; a standby takes over when the lease has run out or was given
  // up. cycleMs: this client's cycle.
  void Tick(unsigned cycleMs);

  // After the rows were read: the active client renews its lease again and
  // writes the next heartbeat (an unmonitored client alone writes it too);
  // the role box shows the state.
  void AfterRead(unsigned cycleMs);

  // An active client that lost its server gives the role up, so that a
  // standby with a working connection takes over at once.
  void ServerLost();

  // Disconnect and exit, before the role state is cleared: an active client
  // gives the role up; a monitoring standby withdraws its announcement.
  // Nothing of another client's role is touched, and the file stays.
  void Disconnect();
  void Exit();

  const std::string& identity() const { return identity_; }

 private:
  bool Live(const RoleRecord& record, long long now) const;
  void Take(RoleRecord& record, long long now, unsigned cycleMs);
  void GiveUp(const char* reason);
  void BecomeActive(const std::string& reason);
  void BecomeStandBy(const std::string& reason);

  Client& client_;
  RoleStore& store_;
  std::string identity_;
};

}  // namespace tagwell
