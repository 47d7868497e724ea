// The desktop client over a slow network: the real main window against a
// tagwell-server process on its TLS face (--listen), reached through a
// proxy that delays every piece of data by half the round trip each way
// (DelayProxy). The argument of each benchmark is the round trip in ms.
//   NetBrowse/RTT  the address-space walk of Connect over 10,000 names.
//                  Counters walk_ms, names.
//   NetLoad/RTT    Load Configuration File of 1000 items. Counters load_ms,
//                  max_wait_ms (the longest spell the window's event loop
//                  was held).
//   NetTick/RTT    ticks of 1000 items: read, columns, Connection Monitor,
//                  recording into a SQLite file. Counters median_ms, p99_ms,
//                  max_wait_ms, stored (share of readings stored).
// Run it under an accessibility bus to see the cost of the bridge (one
// command line):
//   QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 xvfb-run -a
//     dbus-run-session -- sh -c '/usr/libexec/at-spi-bus-launcher
//     --launch-immediately & sleep 1; exec tagwell_network_bench'
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QListWidget>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <thread>

#include "DelayProxy.h"
#include "app/MainWindow.h"
#include "browse/AddItemDialog.h"
#include "db/Database.h"
#include "opc/Items.h"
#include "opc/Reading.h"
#include "platform/com/CallWait.h"
#include "platform/com/Memory.h"
#include "resources/ResourceIds.h"
#include "rpc/Activation.h"
#include "tests/support/FakeUi.h"
#include "tests/support/PgCluster.h"
#include "tests/support/Ports.h"
#include "tests/support/TempDir.h"

namespace tagwell {
namespace {

using Clock = std::chrono::steady_clock;
constexpr char kClsid[] = "{6E0C5A1D-3B7F-4C2E-9A41-2F8D7B1C9E53}";
constexpr int kItems = 1000;

testing::TempDir& Folder() {
  static testing::TempDir dir;
  return dir;
}

std::string ItemId(int n) {
  return "Device" + std::to_string(n / 1000) + ".Group" + std::to_string(n / 100 % 10) + ".Value" +
         std::to_string(n % 100);
}

// 10 devices of 10 groups of 100 items, and the heartbeat item.
void WritePlant(const std::string& path) {
  std::ofstream out(path);
  out << "<AddressSpace>\n"
         "  <Item name=\"OPC.ConnectionMonitor\" type=\"VT_I4\" access=\"readwrite\" "
         "value=\"0\"/>\n";
  for (int d = 0; d < 10; ++d) {
    out << "  <Branch name=\"Device" << d << "\">\n";
    for (int g = 0; g < 10; ++g) {
      out << "    <Branch name=\"Group" << g << "\">\n";
      for (int i = 0; i < 100; ++i)
        out << "      <Item name=\"Value" << i << "\" type=\"VT_R8\" signal=\"sine\" low=\"0\" "
            << "high=\"100\" period=\"60\"/>\n";
      out << "    </Branch>\n";
    }
    out << "  </Branch>\n";
  }
  out << "</AddressSpace>\n";
}

std::string ProgramFolder() {
  char path[4096];
  const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  std::string self(path, n > 0 ? static_cast<std::size_t>(n) : 0);
  return self.substr(0, self.rfind('/'));
}

// The server process, stopped at the end of main (which skips destructors).
pid_t serverPid = -1;

// tagwell-server on loopback TCP, letting any client in, with the plant.
class Server final {
 public:
  Server() {
    const std::string plant = Folder().File("plant.xml");
    WritePlant(plant);
    const std::string program = ProgramFolder() + "/tagwell-server";
    const std::string listen = std::to_string(port_);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::execl(program.c_str(), program.c_str(), "--allow-any-client", "--listen", listen.c_str(),
              "--address-space", plant.c_str(), static_cast<char*>(nullptr));
      std::_Exit(127);
    }
    serverPid = pid_;
    for (int i = 0; i < 400 && !testing::LoopbackPortListens(port_); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ~Server() {
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }
  std::uint16_t port() const { return port_; }

 private:
  std::uint16_t port_ = testing::FreeLoopbackPort();
  pid_t pid_ = -1;
};

// The longest time the event loop of this thread went without running a
// 1-ms timer while it lives.
class LoopWatch final {
 public:
  LoopWatch() {
    timer_.setInterval(1);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      maxMs_ = std::max(maxMs_, static_cast<double>(clock_.nsecsElapsed()) / 1e6);
      clock_.restart();
    });
    clock_.start();
    timer_.start();
  }
  double maxMs() const { return maxMs_; }
  void Reset() {
    maxMs_ = 0;
    clock_.restart();
  }

 private:
  QTimer timer_;
  QElapsedTimer clock_;
  double maxMs_ = 0;
};

// Runs work from the event loop and spins it until done() (at most 120 s).
void RunInLoop(const std::function<void()>& work, const std::function<bool()>& done) {
  QTimer::singleShot(0, work);
  const auto end = Clock::now() + std::chrono::seconds(120);
  do {
    QApplication::processEvents(QEventLoop::AllEvents, 5);
  } while (!done() && Clock::now() < end);
}

class ManualTimer final : public CycleTimer {
 public:
  void Start(unsigned) override {}
  void Stop() override {}
};

class AnsweringDesktop final : public Desktop {
 public:
  std::string GetOpenFileName(QWidget*, const QString&) override { return answer; }
  bool OpenFile(const std::string&) override { return true; }
  std::string answer;
};

// Answers Yes to the question whether to trust the server's certificate.
class TrustingPrompt final : public rpc::OperatorPrompt {
 public:
  bool Ask(const std::string&) override { return true; }
  void Tell(const std::string& text) override { std::fprintf(stderr, "%s\n", text.c_str()); }
};

// A window connected through a proxy of the given round trip.
class Window final {
 public:
  explicit Window(int rttMs) {
    static Server server;
    // Servers are reached through rpc/; the operator trusts the server.
    static rpc::ScopedServerActivator activation;
    static TrustingPrompt prompt;
    activation.SetPrompt(&prompt);
    proxy_ =
        std::make_unique<bench::DelayProxy>(server.port(), std::chrono::microseconds(rttMs * 500));
    folder_ = Folder().File("w" + std::to_string(++count_));
    ::mkdir(folder_.c_str(), 0700);
    boxes_.answers = {ui::IDYES, ui::IDYES, ui::IDYES};  // trust the server's certificate
    MainWindowOptions options;
    options.folder = folder_;
    options.messageBox = &boxes_;
    options.desktop = &desktop_;
    options.timer = &timer_;
    window_ = std::make_unique<MainWindow>(options);
  }

  // The Connect command (with the walk of the address space unless walk is
  // false); its ms.
  double Connect(bool walk = true) {
    if (!walk) window_->client().browseAddressSpace = nullptr;
    const std::pair<int, std::string> names[] = {
        {res::IDC_REMOTE_COMPUTER, "127.0.0.1:" + std::to_string(proxy_->port())},
        {res::IDC_REMOTE_SERVER, kClsid}};
    for (const auto& [box, text] : names) {
      window_->editBox(box)->setText(QString::fromStdString(text));
      window_->commands().OnCommand(box, 0x0501);  // EN_MAXTEXT: Enter
    }
    const auto start = Clock::now();
    window_->commands().OnCommand(res::IDC_CONNECT_BUTTON, 0);
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  }

  void WriteList(int items) {
    std::ofstream out(folder_ + "/list.xml");
    out << "<ItemList>\n  <Item><Name>OPC.ConnectionMonitor</Name></Item>\n";
    for (int n = 0; n + 1 < items; ++n) out << "  <Item><Name>" << ItemId(n) << "</Name></Item>\n";
    out << "</ItemList>\n";
    desktop_.answer = folder_ + "/list.xml";
  }

  std::string StartRecording() {
    const std::string database = folder_ + "/plant.db";
    std::system(("sqlite3 '" + database + "' < '" TAGWELL_OPCVALUES_SQL "'").c_str());
    Client& client = window_->client();
    client.writeDatabase = &WriteDatabase;
    client.flushDatabase = &FlushDatabase;
    client.databaseThread = std::make_shared<com::WorkThread>();  // as the program has it
    client.state.databasePath = database;
    client.state.databaseWriting = 1;
    window_->commands().OnCommand(res::IDC_READ_BUTTON, 0);
    window_->commands().OnCommand(res::IDM_MONITOR, 0);
    return database;
  }

  MainWindow* operator->() { return window_.get(); }
  int rows() const { return window_->listBox(res::IDC_ITEM_NAMES)->count(); }
  bool connected() { return window_->client().state.connected == 1; }

 private:
  static inline int count_ = 0;
  std::unique_ptr<bench::DelayProxy> proxy_;
  std::string folder_;
  testing::RecordingMessageBox boxes_;
  AnsweringDesktop desktop_;
  ManualTimer timer_;
  std::unique_ptr<MainWindow> window_;
};

void EnsureApplication() {
  static int argc = 1;
  static char name[] = "tagwell_network_bench";
  static char* argv[] = {name, nullptr};
  static QApplication* application = [] {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    const std::string runtime = Folder().File("runtime");
    const std::string config = Folder().File("config");
    ::mkdir(runtime.c_str(), 0700);
    ::mkdir(config.c_str(), 0700);
    ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    return new QApplication(argc, argv);
  }();
  (void)application;
}

// One window per round trip, connected and loaded once.
Window& LoadedWindow(int rttMs, double* loadMs = nullptr, double* waitMs = nullptr) {
  static std::map<int, std::unique_ptr<Window>> windows;
  auto& window = windows[rttMs];
  if (!window) {
    window = std::make_unique<Window>(rttMs);
    window->Connect(/*walk=*/false);  // NetBrowse times the walk
    window->WriteList(kItems);
    LoopWatch watch;
    const auto start = Clock::now();
    bool loaded = false;
    RunInLoop(
        [&] {
          (*window)->commands().OnCommand(res::IDM_LOADCONFIG, 0);
          loaded = true;
        },
        [&] { return loaded; });
    if (loadMs) *loadMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    if (waitMs) *waitMs = watch.maxMs();
  }
  return *window;
}

void NetBrowse(benchmark::State& state) {
  EnsureApplication();
  const int rtt = static_cast<int>(state.range(0));
  for (auto _ : state) {
    Window window(rtt);
    state.counters["walk_ms"] = window.Connect();
    state.counters["names"] = window->client().browse.browseItemCount;
    if (!window.connected()) state.SkipWithError("not connected");
  }
}
BENCHMARK(NetBrowse)->Arg(2)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// The whole-space listing of the 10,000 names (OPC_FLAT at the root), read
// with Next of `batch` names a call: 1 as the walk did, 100 as it does.
void NetList(benchmark::State& state) {
  EnsureApplication();
  const int rtt = static_cast<int>(state.range(0));
  const auto batch = static_cast<com::ULONG>(state.range(1));
  static std::map<int, std::unique_ptr<Window>> windows;
  auto& window = windows[rtt];
  if (!window) {
    window = std::make_unique<Window>(rtt);
    window->Connect();
  }
  com::IOPCBrowseServerAddressSpace* browser =
      (*window)->client().state.ptrIOPCBrowseServerAddressSpace;
  if (!browser) {
    state.SkipWithError("no browse interface");
    return;
  }
  int names = 0;
  for (auto _ : state) {
    browser->ChangeBrowsePosition(com::OPC_BROWSE_TO, u"");
    com::IEnumString* list = nullptr;
    browser->BrowseOPCItemIDs(com::OPC_FLAT, u"", com::VT_EMPTY, 0, &list);
    names = 0;
    std::vector<com::LPOLESTR> got(batch);
    for (;;) {
      com::ULONG fetched = 0;
      const com::HRESULT hr = list ? list->Next(batch, got.data(), &fetched) : com::E_FAIL;
      for (com::ULONG i = 0; i < fetched && com::SUCCEEDED(hr); ++i) {
        com::CoTaskMemFree(got[i]);
        ++names;
      }
      if (hr != com::S_OK) break;
    }
    if (list) list->Release();
  }
  state.counters["names"] = names;
}
BENCHMARK(NetList)
    ->Args({2, 1})
    ->Args({2, 100})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void NetLoad(benchmark::State& state) {
  EnsureApplication();
  const int rtt = static_cast<int>(state.range(0));
  double loadMs = 0, waitMs = 0;
  for (auto _ : state) LoadedWindow(rtt, &loadMs, &waitMs);
  state.counters["load_ms"] = loadMs;
  state.counters["max_wait_ms"] = waitMs;
  if (LoadedWindow(rtt).rows() != kItems) state.SkipWithError("not every item was added");
}
BENCHMARK(NetLoad)->Arg(2)->Arg(20)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void NetTick(benchmark::State& state) {
  EnsureApplication();
  const int rtt = static_cast<int>(state.range(0));
  Window& window = LoadedWindow(rtt);
  static std::map<int, std::string> databases;
  if (!databases.count(rtt)) databases[rtt] = window.StartRecording();
  std::vector<double> ms;
  LoopWatch watch;
  int ticks = 0;
  for (auto _ : state) {
    bool done = false;
    const auto start = Clock::now();
    RunInLoop(
        [&] {
          window->readCycle().Tick();
          done = true;
        },
        [&] { return done; });
    ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    ++ticks;
  }
  std::sort(ms.begin(), ms.end());
  state.counters["median_ms"] = ms[ms.size() / 2];
  state.counters["p99_ms"] = ms[std::min(ms.size() - 1, ms.size() * 99 / 100)];
  state.counters["max_wait_ms"] = watch.maxMs();
  QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "count" + QString::number(rtt));
  db.setDatabaseName(QString::fromStdString(databases[rtt]));
  if (db.open()) {
    QSqlQuery count("SELECT count(*) FROM OPCvalues", db);
    if (count.next())
      state.counters["stored"] = count.value(0).toDouble() / (static_cast<double>(ticks) * kItems);
  }
}
BENCHMARK(NetTick)->Arg(2)->Arg(20)->Iterations(30)->Unit(benchmark::kMillisecond)->UseRealTime();

// --- Recording into PostgreSQL behind a link that stops carrying -------------
//   NetPgOutage/RTT  a 1000-item window records into PostgreSQL (and keeps its
//                    role there) through a proxy; ticks every second; the link
//                    swallows everything for 10 s (established connections and
//                    new ones: the server cannot be reached), then carries
//                    again. Counters max_wait_ms (the window's longest held
//                    spell), resumed (1 when rows were stored after the
//                    outage), twice (rows stored twice), stored_ticks.

void RunTicks(Window& window, int count, LoopWatch& watch, bench::DelayProxy* stall = nullptr,
              int stallFrom = -1, int stallTo = -1) {
  for (int tick = 0; tick < count; ++tick) {
    if (stall && tick == stallFrom) stall->SetStalled(true);
    if (stall && tick == stallTo) stall->SetStalled(false);
    bool done = false;
    const auto next = Clock::now() + std::chrono::seconds(1);
    RunInLoop(
        [&] {
          window->readCycle().Tick();
          done = true;
        },
        [&] { return done; });
    while (Clock::now() < next) QApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  (void)watch;
}

void NetPgOutage(benchmark::State& state) {
  EnsureApplication();
  std::string why;
  if (!testing::PgCluster::Available(&why)) {
    state.SkipWithError(why.c_str());
    return;
  }
  static testing::PgCluster cluster;
  if (!cluster.ok() || !cluster.MakeDatabase("recording")) {
    state.SkipWithError("no PostgreSQL cluster");
    return;
  }
  bench::DelayProxy link(static_cast<std::uint16_t>(cluster.port()),
                         std::chrono::microseconds(state.range(0) * 500));
  const std::string file = cluster.ConnectionFile(Folder().path(), "recording");
  {
    std::ifstream in(file);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string from = "port = " + std::to_string(cluster.port());
    text.replace(text.find(from), from.size(), "port = " + std::to_string(link.port()));
    std::ofstream(file) << text;
  }
  Window& window = LoadedWindow(static_cast<int>(state.range(0)));
  Client& client = window->client();
  const std::string sqlite = client.state.databasePath.str();
  client.writeDatabase = &WriteDatabase;
  client.flushDatabase = &FlushDatabase;
  client.databaseThread = std::make_shared<com::WorkThread>();
  client.state.databasePath = file;
  client.state.databaseWriting = 1;
  window->commands().OnCommand(res::IDC_READ_BUTTON, 0);
  if (client.state.monitorEnabled == 0) window->commands().OnCommand(res::IDM_MONITOR, 0);
  auto rows = [&] {
    std::string out;
    cluster.Sql("recording", "SELECT count(*) FROM OPCvalues", &out);
    return std::atol(out.c_str());
  };
  for (auto _ : state) {
    RunTicks(window, 3, *std::make_unique<LoopWatch>());
    LoopWatch watch;
    const long before = rows();
    RunTicks(window, 12, watch, &link, 0, 10);  // 10 s swallowed, 2 s carried
    const long afterOutage = rows();
    RunTicks(window, 8, watch);
    const long after = rows();
    state.counters["max_wait_ms"] = watch.maxMs();
    state.counters["resumed"] = after > afterOutage ? 1 : 0;
    state.counters["stored_ticks"] = static_cast<double>(after - before) / kItems;
  }
  std::string twice;
  cluster.Sql("recording",
              "SELECT count(*) - count(DISTINCT (Name, Hours, Minutes, Seconds, Value)) FROM "
              "OPCvalues",
              &twice);
  state.counters["twice"] = std::atof(twice.c_str());
  // Back to the SQLite file for the benchmarks after.
  client.state.databasePath = sqlite;
}
BENCHMARK(NetPgOutage)->Arg(2)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// --- The same work one call per row, as before the batches -----------------
// (The window's pump is taken away meanwhile: the calls held the window.)

class WithoutPump final {
 public:
  WithoutPump() : pump_(com::GetCallWaitPump()) { com::SetCallWaitPump(nullptr); }
  ~WithoutPump() { com::SetCallWaitPump(pump_); }

 private:
  com::CallWaitPump pump_;
};

void NetLoadOneByOne(benchmark::State& state) {
  EnsureApplication();
  const int rtt = static_cast<int>(state.range(0));
  Window window(rtt);
  window.Connect(/*walk=*/false);
  WithoutPump unpumped;
  Client& client = window->client();
  ClientState& s = client.state;
  LoopWatch watch;
  double ms = 0;
  for (auto _ : state) {
    bool done = false;
    const auto start = Clock::now();
    RunInLoop(
        [&] {
          for (int n = 0; n < kItems; ++n) {
            PutChosenItem(client, n == 0 ? "OPC.ConnectionMonitor" : ItemId(n - 1));
            AddItem(client, s.ptrIOPCItemMgt, &s.lastServerHandle);
            WORD quality = 0;
            ReadItem(client, s.ptrIOPCItemMgt, s.lastServerHandle, s.currentValue.get(), &quality);
            ReadItemAttributes(client, s.ptrIOPCItemMgt);
            s.itemsAdded += 1;
            ShowItemCount(client);
          }
          done = true;
        },
        [&] { return done; });
    ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  }
  state.counters["load_ms"] = ms;
  state.counters["max_wait_ms"] = watch.maxMs();
}
BENCHMARK(NetLoadOneByOne)->Arg(2)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void NetTickOneByOne(benchmark::State& state) {
  EnsureApplication();
  const int rtt = static_cast<int>(state.range(0));
  Window& window = LoadedWindow(rtt);
  static std::map<int, bool> started;
  if (!started[rtt]) started[rtt] = !window.StartRecording().empty();
  WithoutPump unpumped;
  Client& client = window->client();
  client.databaseThread.reset();  // the window's thread stored the rows
  ClientState& s = client.state;
  std::vector<double> ms;
  LoopWatch watch;
  for (auto _ : state) {
    bool done = false;
    const auto start = Clock::now();
    RunInLoop(
        [&] {
          RecordingBatch batch(client);
          for (int row = 0; row <= s.lastRowIndex && s.serverLost == 0; ++row) {
            s.currentItem = s.currentRow = row;
            ReadGroup(client, s.ptrIOPCItemMgt, client.table.serverHandles[row],
                      s.currentValue.get());
            for (ui::ListBox* column : {client.ui.itemNames, client.ui.values, client.ui.timeStamps,
                                        client.ui.qualities, client.ui.types})
              column->SetCurSel(s.selectedRow);
          }
          done = true;
        },
        [&] { return done; });
    ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  std::sort(ms.begin(), ms.end());
  state.counters["median_ms"] = ms[ms.size() / 2];
  state.counters["p99_ms"] = ms[std::min(ms.size() - 1, ms.size() * 99 / 100)];
  state.counters["max_wait_ms"] = watch.maxMs();
}
BENCHMARK(NetTickOneByOne)->Arg(2)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace tagwell

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (tagwell::serverPid > 0) ::kill(tagwell::serverPid, SIGTERM);
  std::fflush(stdout);
  std::_Exit(0);
}
