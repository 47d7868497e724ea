#include "session/Roles.h"

#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <random>

#include "opc/Log.h"
#include "opc/Writing.h"
#include "platform/profile/Profile.h"
#include "session/ConfigIni.h"

namespace tagwell {
namespace {

constexpr const char* kHolderKey = "ActiveClient";
constexpr const char* kCycleKey = "ActiveCycle";
constexpr const char* kLeaseKey = "LeaseUntil";
constexpr const char* kLeaseClockKey = "LeaseClock";
constexpr const char* kReleasedKey = "Released";

// A lease further ahead than this beyond its own length was written by a
// clock that has since been set back: it is not trusted.
constexpr long long kClockSlackMs = 60'000;

constexpr const char* kInProgress = "Data writing in database is in progress!";
constexpr const char* kStopped = "Data writing in database is stopped.";
constexpr const char* kUnreachable = "the role record cannot be reached";

long long Number(const std::string& text) {
  return std::strtoll(text.c_str(), nullptr, 10);
}

int Flag(const std::string& text) {
  const long long value = Number(text);
  return value > INT_MAX ? INT_MAX : value < INT_MIN ? INT_MIN : static_cast<int>(value);
}

void ToggleHeartbeat(ClientState& s) {
  if (s.monitorValueRead == 1)
    s.monitorValueNext = 0;
  else if (s.monitorValueRead == 0)
    s.monitorValueNext = 1;
}

void WriteHeartbeat(Client& client) {
  ClientState& s = client.state;
  ToggleHeartbeat(s);
  WriteConnectionMonitor(client, s.ptrIOPCItemMgt, s.lastServerHandle, s.currentValue.get());
}

}  // namespace

long long WallClockMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

long long BootClockMs() {
  timespec now{};
  ::clock_gettime(CLOCK_BOOTTIME, &now);
  return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1'000'000;
}

std::string BootClockName() {
  static const std::string name = [] {
    std::ifstream file("/proc/sys/kernel/random/boot_id");
    std::string id;
    std::getline(file, id);
    return "boottime:" + (id.empty() ? std::string("unknown") : id);
  }();
  return name;
}

std::string MakeClientIdentity() {
  char host[256] = "localhost";
  if (::gethostname(host, sizeof host - 1) != 0) host[0] = '\0';
  host[sizeof host - 1] = '\0';
  std::random_device random;
  char tail[32];
  std::snprintf(tail, sizeof tail, ":%ld:%08x", static_cast<long>(::getpid()),
                static_cast<unsigned>(random()));
  return std::string(host) + tail;
}

long long ConfigIniRoleStore::LeaseOnThisClock(const std::string& leaseText,
                                               const std::string& clock, long long now) const {
  const long long lease = Number(leaseText);
  if (clock == clockName_ || lease <= 0) return lease;
  if (!clock.empty()) return 0;  // another boot: its holder is gone
  // Written by an older client on the wall clock: the time it has left.
  const long long left = lease - WallClockMs();
  if (left <= 0) return 0;
  return left > LLONG_MAX - now ? LLONG_MAX : now + left;
}

bool ConfigIniRoleStore::Update(const std::function<bool(RoleRecord&, long long)>& change) {
  const long long now = nowMs_();
  return profile::UpdatePrivateProfileSection(
      kClientsSection,
      [&](const profile::ProfileReader& read) {
        RoleRecord before;
        before.active = Flag(read(kActiveKey));
        before.number = Flag(read(kNumberKey));
        before.holder = read(kHolderKey);
        before.cycleMs = Number(read(kCycleKey));
        const std::string clock = read(kLeaseClockKey);
        before.leaseUntil = LeaseOnThisClock(read(kLeaseKey), clock, now);
        before.released = read(kReleasedKey);
        RoleRecord after = before;
        profile::ProfileChanges changes;
        if (!change(after, now)) return changes;
        auto set = [&](const char* key, bool changed, std::string value) {
          if (changed) changes.emplace_back(key, std::move(value));
        };
        set(kActiveKey, after.active != before.active, std::to_string(after.active));
        set(kNumberKey, after.number != before.number, std::to_string(after.number));
        set(kHolderKey, after.holder != before.holder, after.holder);
        set(kCycleKey, after.cycleMs != before.cycleMs, std::to_string(after.cycleMs));
        const bool leaseChanged = after.leaseUntil != before.leaseUntil;
        set(kLeaseKey, leaseChanged, std::to_string(after.leaseUntil));
        set(kLeaseClockKey, leaseChanged && clock != clockName_, clockName_);
        set(kReleasedKey, after.released != before.released, after.released);
        return changes;
      },
      ConfigIniPath(client_));
}

bool ActiveStandby::Live(const RoleRecord& record, long long now) const {
  if (record.active != 1 || record.holder.empty() || record.leaseUntil <= now) return false;
  // The cycle comes from the file: one that no client could have written
  // (negative, or too long to count a lease with) does not hold the role.
  if (record.cycleMs < 0 || record.cycleMs > (LLONG_MAX - kClockSlackMs) / kLeaseCycles)
    return false;
  return record.leaseUntil - now <= kLeaseCycles * record.cycleMs + kClockSlackMs;
}

void ActiveStandby::Take(RoleRecord& record, long long now, unsigned cycleMs) {
  record.active = 1;
  record.holder = identity_;
  record.cycleMs = cycleMs;
  record.leaseUntil = now + kLeaseCycles * static_cast<long long>(cycleMs);
  record.released.clear();
}

void ActiveStandby::BecomeActive(const std::string& reason) {
  ClientState& s = client_.state;
  s.isActive = 1;
  ShowRole(client_, kRoleActive);
  if (s.databaseWriting == 1 && client_.ui.databaseStatus)
    client_.ui.databaseStatus->SetText(kInProgress);
  LogRoleChange(client_, kRoleActive, reason);
}

void ActiveStandby::BecomeStandBy(const std::string& reason) {
  ClientState& s = client_.state;
  const bool wasActive = s.isActive == 1;
  s.isActive = 0;
  ShowRole(client_, kRoleStandBy);
  if (wasActive && s.databaseWriting == 1 && client_.ui.databaseStatus)
    client_.ui.databaseStatus->SetText(kStopped);
  LogRoleChange(client_, kRoleStandBy, reason);
}

void ActiveStandby::GiveUp(const char* reason) {
  store_.Update([&](RoleRecord& r, long long) {
    if (r.active != 1 || r.holder != identity_) return false;
    r.active = 0;
    r.holder.clear();
    r.leaseUntil = 0;
    r.released = reason;
    return true;
  });
}

int ActiveStandby::MonitorCommand(unsigned cycleMs) {
  ClientState& s = client_.state;
  EnsureConfigFile(client_);
  if (s.monitorEnabled == 0) {
    s.monitorEnabled = 1;
    bool taken = false;
    std::string holder;
    const bool reached = store_.Update([&](RoleRecord& r, long long now) {
      s.clientsNumber = r.number;
      if (!Live(r, now) || r.holder == identity_) {
        Take(r, now, cycleMs);
        return taken = true;
      }
      holder = r.holder;
      if (r.number != 0) return false;
      r.number = 1;
      return true;
    });
    if (!reached)
      BecomeStandBy(kUnreachable);
    else if (taken)
      BecomeActive("no other client is active");
    else
      BecomeStandBy("client " + holder + " is active");
    return s.monitorEnabled;
  }
  s.monitorEnabled = 0;
  if (s.isActive == 1) {
    GiveUp("monitoring was switched off on the active client");
    s.isActive = 0;
    ShowRole(client_, kRoleNotMonitored);
    if (s.databaseWriting == 1 && client_.ui.databaseStatus)
      client_.ui.databaseStatus->SetText(kStopped);
    LogRoleChange(client_, kRoleNotMonitored, "monitoring switched off");
  } else {
    store_.Update([&](RoleRecord& r, long long) {
      s.clientsNumber = r.number;
      if (r.number != 1) return false;
      r.number = 0;
      return true;
    });
  }
  return s.monitorEnabled;
}

void ActiveStandby::Tick(unsigned cycleMs) {
  ClientState& s = client_.state;
  enum class Outcome { Same, Active, StandBy } outcome = Outcome::Same;
  std::string reason;
  const bool reached = store_.Update([&](RoleRecord& r, long long now) {
    s.clientsNumber = r.number;
    const bool mine = r.active == 1 && r.holder == identity_;
    if (s.isActive == 1) {
      if (mine || !Live(r, now)) {
        Take(r, now, cycleMs);
        return true;
      }
      outcome = Outcome::StandBy;
      reason = "client " + r.holder + " took over";
      return false;
    }
    if (!mine && Live(r, now)) return false;
    if (mine)
      reason = "this client holds the role";
    else if (r.active == 1)
      reason = "heartbeat stopped";
    else
      reason = r.released.empty() ? std::string("no client was active") : r.released;
    Take(r, now, cycleMs);
    outcome = Outcome::Active;
    return true;
  });
  // Without the record an active client cannot renew its lease: it stops
  // recording before a standby that reaches the record takes over. A
  // standby that cannot reach it takes nothing.
  if (!reached && s.isActive == 1) {
    BecomeStandBy(kUnreachable);
    return;
  }
  if (outcome == Outcome::Active) BecomeActive(reason);
  if (outcome == Outcome::StandBy) BecomeStandBy(reason);
}

void ActiveStandby::AfterRead(unsigned cycleMs) {
  ClientState& s = client_.state;
  if (s.monitorEnabled == 1 && s.isActive == 1) {
    bool renewed = false;
    std::string holder;
    const bool reached = store_.Update([&](RoleRecord& r, long long now) {
      holder = r.holder;
      if (r.active != 1 || r.holder != identity_) return false;
      Take(r, now, cycleMs);
      return renewed = true;
    });
    if (!reached)
      BecomeStandBy(kUnreachable);
    else if (!renewed)
      BecomeStandBy(holder.empty() ? std::string("the lease ran out")
                                   : "client " + holder + " took over");
  }
  if (s.monitorEnabled == 1) {
    ToggleHeartbeat(s);
    if (s.isActive == 1 && s.monitorItemPresent == 1)
      WriteConnectionMonitor(client_, s.ptrIOPCItemMgt, s.lastServerHandle, s.currentValue.get());
  }
  bool liveActive = false;
  int number = 0;
  store_.Update([&](RoleRecord& r, long long now) {
    liveActive = Live(r, now);
    number = r.number;
    return false;
  });
  // An unmonitored client alone keeps the heartbeat alive.
  if (s.monitorEnabled == 0 && !liveActive && number == 0 && s.monitorItemPresent == 1) {
    ShowRole(client_, kRoleNotMonitored);
    WriteHeartbeat(client_);
  }
  if (s.monitorEnabled == 0 && s.clientsNumber >= 0) ShowRole(client_, kRoleNotMonitored);
  if (s.monitorError == 1) ShowRole(client_, kRoleError);
}

void ActiveStandby::ServerLost() {
  if (client_.state.isActive != 1) return;
  GiveUp("the active client lost its server connection");
  BecomeStandBy("the server connection is lost");
}

void ActiveStandby::Disconnect() {
  ClientState& s = client_.state;
  EnsureConfigFile(client_);
  if (s.isActive == 1) GiveUp("the active client disconnected");
  store_.Update([&](RoleRecord& r, long long) {
    // An active client leaves no announcement behind; a standby withdraws
    // its own.
    if (r.number == 0 || (s.isActive == 0 && s.clientsNumber != 1)) return false;
    r.number = 0;
    return true;
  });
}

void ActiveStandby::Exit() {
  ClientState& s = client_.state;
  if (s.isActive == 1) GiveUp("the active client exited");
  store_.Update([&](RoleRecord& r, long long) {
    if (r.number == 0 || (s.isActive == 0 && s.monitorEnabled == 0)) return false;
    r.number = 0;
    return true;
  });
}

}  // namespace tagwell
