#include "session/ReadCycle.h"

#include <algorithm>

#include "opc/Log.h"
#include "opc/Numbers.h"
#include "opc/Prefetch.h"
#include "opc/Reading.h"
#include "opc/Writing.h"
#include "platform/com/CallWait.h"
#include "session/ConfigIni.h"

namespace tagwell {
namespace {

constexpr unsigned kDefaultPeriodMs = 5000;

// Resets a flag when the scope ends, also on early returns.
class FlagGuard {
 public:
  explicit FlagGuard(bool& flag) : flag_(flag) { flag_ = true; }
  ~FlagGuard() { flag_ = false; }
  FlagGuard(const FlagGuard&) = delete;
  FlagGuard& operator=(const FlagGuard&) = delete;

 private:
  bool& flag_;
};

// The message box port of a tick: every box is posted, so the tick goes on.
class PostingMessageBox final : public ui::MessageBox {
 public:
  explicit PostingMessageBox(ui::MessageBox* inner) : inner_(inner) {}
  int Show(std::string_view text, std::string_view caption, ui::Icon icon,
           ui::Owner /*owner*/) override {
    if (inner_) inner_->Post(text, caption, icon);
    return ui::IDOK;
  }
  bool Post(std::string_view text, std::string_view caption, ui::Icon icon) override {
    return inner_ ? inner_->Post(text, caption, icon) : false;
  }

 private:
  ui::MessageBox* inner_;
};

// Puts the posting port in place for the scope of a tick.
class TickMessageBoxes {
 public:
  explicit TickMessageBoxes(Client& client)
      : client_(client), saved_(client.ui.messageBox), posting_(saved_) {
    client_.ui.messageBox = &posting_;
  }
  ~TickMessageBoxes() { client_.ui.messageBox = saved_; }
  TickMessageBoxes(const TickMessageBoxes&) = delete;
  TickMessageBoxes& operator=(const TickMessageBoxes&) = delete;

 private:
  Client& client_;
  ui::MessageBox* saved_;
  PostingMessageBox posting_;
};

}  // namespace

std::optional<float> CycleSeconds(std::string_view text) {
  const std::optional<double> seconds = ParseNumber(text);
  if (!seconds || *seconds < kShortestCycleSeconds || *seconds > kLongestCycleSeconds)
    return std::nullopt;
  return static_cast<float>(*seconds);
}

unsigned ReadCycle::TimerPeriod(float periodMs) {
  // The float-to-int conversion of x86 gives INT_MIN out of range and for
  // NaN, which as unsigned is above the maximum.
  if (!(periodMs > -2147483648.0f && periodMs < 2147483648.0f)) return kMaxPeriodMs;
  auto period = static_cast<unsigned>(static_cast<int>(periodMs));
  if (period < kMinPeriodMs) return kMinPeriodMs;
  if (period > kMaxPeriodMs) return kMaxPeriodMs;
  return period;
}

unsigned ReadCycle::ReadItemCommand() {
  ClientState& s = client_.state;
  s.readingStarted = 1;
  float seconds = 0;
  unsigned period = 0;
  if (s.itemsAdded > 0) {
    // Only the cycle dialog sets cycleText, and it takes only a valid
    // cycle; anything else keeps the default.
    const std::optional<float> chosen =
        s.cycleSelected == 1 ? CycleSeconds(s.cycleText.view()) : std::nullopt;
    if (!chosen) {
      period = kDefaultPeriodMs;
      seconds = 5;
    } else {
      seconds = *chosen;
      period = TimerPeriod(static_cast<float>(seconds * 1000.0));
    }
    timer_.Start(period);
    periodMs_ = period;
  }
  if (s.databaseWriting == 1) {
    if (StandsBy(s)) return period;
    client_.ui.messageBox->Show(
        "Information: read/write cycle duration is set\n(or changed while writing in database).",
        "WriteDatabase function", ui::Icon::Information, ui::Owner::None);
    client_.ui.databaseStatus->SetText("Data writing in database is in progress!");
  }
  const std::string text = FixedPointText(seconds, 1, 6);  // "%6.1f"
  LogCycleDuration(client_, text);
  SetOneLineBox(*client_.ui.cycleBox, text);
  return period;
}

void ReadCycle::Tick() {
  // A tick that comes while a server call waits (of an earlier tick, or of
  // a command) is dropped: the next one reads.
  if (ticking_ || com::OutgoingCallWaiting()) return;
  FlagGuard guard(ticking_);
  TickMessageBoxes boxes(client_);
  // The columns show the tick's rows all at once when it ends.
  const WindowPorts& ui = client_.ui;
  ui::HeldUpdates held{ui.itemNames, ui.values, ui.timeStamps, ui.qualities, ui.types};
  // The readings of the tick are stored together when it ends.
  RecordingBatch batch(client_);
  ClientState& s = client_.state;
  if (s.connected == 0) return;
  if (s.serverLost == 1) {
    // Whoever still can records: an active client without its server gives
    // the role up.
    if (s.monitorEnabled == 1) roles_.ServerLost();
    if (!PollReconnect()) return;
  }
  if (s.ptrIOPCItemMgt == nullptr) return;
  s.clientsNumber = ReadClientsKey(client_, kNumberKey);
  if (s.itemsAdded > 1) {
    // The role is settled before the rows are read, so that a client that
    // lost it records nothing more.
    if (s.monitorEnabled == 1) roles_.Tick(periodMs_);
    // In a server database the rows go in only under this client's lease.
    const bool fenced = s.monitorEnabled == 1 && s.isActive == 1 && roleStore_.InServer();
    client_.dbWriter.roleHolder = fenced ? roles_.identity() : std::string();
    ReadAllRows();
    if (s.serverLost == 1 && s.monitorEnabled == 1) roles_.ServerLost();
    if (s.connected == 0 || s.serverLost == 1) return;
    roles_.AfterRead(periodMs_);
  } else {
    ReadLastItem();
  }
}

bool ReadCycle::PollReconnect(Reconnector::Clock::time_point now) {
  if (com::OutgoingCallWaiting()) return false;
  return reconnector_.Poll(now);
}

// The row loop keeps its own index: a command run from a message box of a
// read (Remove Item, Disconnect) may change the table and the cursors.
// The rows are read a chunk at a time in one call (opc/Prefetch.h); each
// row is then shown, logged and recorded by ReadGroup as before.
void ReadCycle::ReadAllRows() {
  ClientState& s = client_.state;
  PrefetchScope kept(client_);
  int row = 0;
  for (; row <= s.lastRowIndex && row < MAX_ITEMS; ++row) {
    if (s.connected == 0 || s.serverLost == 1 || s.ptrIOPCItemMgt == nullptr) return;
    if (row % kReadChunk == 0) {
      client_.prefetch.reset();
      const int last = std::min(row + kReadChunk - 1, s.lastRowIndex);
      if (PrefetchReads(client_, s.ptrIOPCItemMgt, row, last)) return;
    }
    s.currentItem = row;
    s.currentRow = row;
    const int failed = ReadGroup(client_, s.ptrIOPCItemMgt, client_.table.serverHandles[row],
                                 s.currentValue.get());
    if (observer_ && !failed) observer_->OnReading(ReadingOfRow(client_, row));
    RestoreSelection();
  }
  s.currentItem = row;
  s.currentRow = row;
}

// In the one-item mode the most recently added item is in the last row.
void ReadCycle::ReadLastItem() {
  ClientState& s = client_.state;
  if (s.lastRowIndex < 0 || client_.ui.itemNames->GetCount() == 0) return;
  s.currentRow = s.lastRowIndex;
  s.currentItem = s.lastRowIndex;
  WORD quality = 0;
  LastItemReading kept(client_);
  const int failed =
      ReadItem(client_, s.ptrIOPCItemMgt, s.lastServerHandle, s.currentValue.get(), &quality);
  RowReading reading = kept.Take(s.lastRowIndex, quality);
  if (observer_ && !failed) observer_->OnReading(reading);
  RestoreSelection();
}

void ReadCycle::RestoreSelection() {
  const WindowPorts& ui = client_.ui;
  int row = client_.state.selectedRow;
  for (ui::ListBox* column : {ui.itemNames, ui.values, ui.timeStamps, ui.qualities, ui.types})
    column->SetCurSel(row);
}

}  // namespace tagwell
