// Plant-scale speed of the desktop client: the real main window (offscreen)
// against a simulation server of 10,000 items served on a unix socket by a
// server thread of this process, reached through a registration file as
// tagwell-server is.
//   LoadItemList/N     Load Configuration File of an XML list of N items, as
//                      the window does it (add, first read, EU type, count).
//                      Counter us_per_item: must not grow with N.
//   Tick/1000          one read-cycle tick over 1000 items: reads, columns,
//                      role protocol (Connection Monitor on), recording into a
//                      SQLite file on disk. Counters median_ms, p99_ms.
//   TickLocked/1000    the same tick while another program holds the
//                      database's write lock for the whole tick.
//   Reference/1000     the floor of Tick: 1000 bare Cap'n Proto echo calls and
//                      one SQLite transaction of 1000 prepared inserts on the
//                      same disk. Tick / Reference is the goal's ratio.
//   OpenAddItemDialog  the Add Item dialog over the 10,000 names.
#include <benchmark/benchmark.h>
#include <capnp/rpc-twoparty.h>
#include <kj/async-io.h>
#include <sys/stat.h>

#include <QApplication>
#include <QListWidget>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sys/socket.h>

#include <thread>

#include "app/ItemListDialog.h"
#include "app/MainWindow.h"
#include "db/Database.h"
#include "echo.capnp.h"
#include "resources/ResourceIds.h"
#include "rpc/Activation.h"
#include "rpc/Apartment.h"
#include "rpc/ServerThread.h"
#include "server/AddressSpace.h"
#include "server/Simulation.h"
#include "tests/support/FakeUi.h"
#include "tests/support/TempDir.h"

namespace tagwell {
namespace {

using namespace com;
using Clock = std::chrono::steady_clock;

testing::TempDir& Folder() {
  static testing::TempDir dir;
  return dir;
}

std::string ItemId(int n) {
  return "Device" + std::to_string(n / 1000) + ".Group" + std::to_string(n / 100 % 10) +
         ".Value" + std::to_string(n % 100);
}

// 10 devices of 10 groups of 100 items, and the heartbeat item.
std::shared_ptr<server::AddressSpace> PlantSpace() {
  server::AddressSpaceDefinition definition;
  server::ItemDefinition monitor;
  monitor.name = "OPC.ConnectionMonitor";
  monitor.accessRights = OPC_READABLE | OPC_WRITEABLE;
  monitor.initialValue->vt = VT_I4;
  definition.root.items.push_back(std::move(monitor));
  for (int d = 0; d < 10; ++d) {
    server::BranchDefinition device{"Device" + std::to_string(d), {}, {}};
    for (int g = 0; g < 10; ++g) {
      server::BranchDefinition group{"Group" + std::to_string(g), {}, {}};
      for (int i = 0; i < 100; ++i) {
        server::ItemDefinition item;
        item.name = "Value" + std::to_string(i);
        item.canonicalType = VT_R8;
        item.initialValue->vt = VT_R8;
        item.initialValue->dblVal = i + 0.25;
        group.items.push_back(std::move(item));
      }
      device.branches.push_back(std::move(group));
    }
    definition.root.branches.push_back(std::move(device));
  }
  std::string error;
  auto space =
      server::AddressSpace::Create(std::move(definition), server::MakeSystemClock(), {}, &error);
  if (!space) std::fprintf(stderr, "address space: %s\n", error.c_str());
  return space;
}

// The server thread and the registration that names its socket.
class Plant final {
 public:
  Plant()
      : space_(PlantSpace()), thread_([this](const CLSID& clsid, IUnknown** object) -> HRESULT {
          if (clsid != server::CLSID_TagwellSimulation) return REGDB_E_CLASSNOTREG;
          return server::CreateSimulationServer(space_, IID_IUnknown,
                                                reinterpret_cast<void**>(object));
        }) {
    const std::string runtime = Folder().File("runtime");
    const std::string config = Folder().File("config");
    ::mkdir(runtime.c_str(), 0700);
    ::mkdir(config.c_str(), 0700);
    ::mkdir((config + "/tagwell").c_str(), 0700);
    ::mkdir((config + "/tagwell/servers").c_str(), 0700);
    ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    const std::string socket = runtime + "/plant.sock";
    thread_.ListenUnix(socket);
    std::ofstream(config + "/tagwell/servers/Tagwell.Simulation.1.server")
        << "[Server]\nProgID=Tagwell.Simulation.1\nCLSID={6E0C5A1D-3B7F-4C2E-9A41-"
           "2F8D7B1C9E53}\nOPC=1\nDescription=plant bench\nEndpoint=unix:"
        << socket << "\n";
    std::ofstream list(Folder().File("items.xml"));
    list << "<ItemList>\n  <Item><Name>OPC.ConnectionMonitor</Name></Item>\n";
    for (int n = 0; n < 999; ++n) list << "  <Item><Name>" << ItemId(n) << "</Name></Item>\n";
    list << "</ItemList>\n";
  }

 private:
  std::shared_ptr<server::AddressSpace> space_;
  rpc::ServerThread thread_;
};

class NoTimer final : public CycleTimer {
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

// A connected window in its own folder, with its first `items` rows of the
// list (the heartbeat item first).
class Window final {
 public:
  explicit Window(int items) {
    static Plant plant;
    static rpc::ScopedServerActivator activation;
    folder_ = Folder().File("w" + std::to_string(++count_));
    ::mkdir(folder_.c_str(), 0700);
    MainWindowOptions options;
    options.folder = folder_;
    options.messageBox = &boxes_;
    options.desktop = &desktop_;
    options.timer = &timer_;
    window_ = std::make_unique<MainWindow>(options);
    QListWidget* servers = window_->listBox(res::IDC_LOCAL_SERVERS);
    auto found = servers->findItems("Tagwell.Simulation.1", Qt::MatchExactly);
    if (!found.isEmpty()) servers->setCurrentItem(found.front());
    window_->commands().OnCommand(res::IDC_CONNECT_BUTTON, 0);
    if (items > 0) LoadList(items);
  }

  // Load Configuration File of the first `items` entries of the plant's list.
  void LoadList(int items) {
    std::ifstream in(Folder().File("items.xml"));
    std::ofstream out(folder_ + "/list.xml");
    std::string line;
    std::getline(in, line);
    out << line << "\n";
    for (int n = 0; n < items && std::getline(in, line); ++n) out << line << "\n";
    out << "</ItemList>\n";
    out.close();
    desktop_.answer = folder_ + "/list.xml";
    window_->commands().OnCommand(res::IDM_LOADCONFIG, 0);
  }

  // Recording into a SQLite file of this window's folder, monitoring on,
  // reading started.
  std::string StartRecording() {
    const std::string database = folder_ + "/plant.db";
    std::system(("sqlite3 '" + database + "' < '" TAGWELL_OPCVALUES_SQL "'").c_str());
    Client& client = window_->client();
    client.writeDatabase = &WriteDatabase;
    client.flushDatabase = &FlushDatabase;
    client.state.databasePath = database;
    client.state.databaseWriting = 1;
    window_->commands().OnCommand(res::IDC_READ_BUTTON, 0);
    window_->commands().OnCommand(res::IDM_MONITOR, 0);
    return database;
  }

  MainWindow& operator*() { return *window_; }
  MainWindow* operator->() { return window_.get(); }
  int rows() const { return window_->listBox(res::IDC_ITEM_NAMES)->count(); }

 private:
  static inline int count_ = 0;
  std::string folder_;
  testing::RecordingMessageBox boxes_;
  AnsweringDesktop desktop_;
  NoTimer timer_;
  std::unique_ptr<MainWindow> window_;
};

void EnsureApplication() {
  static int argc = 1;
  static char name[] = "tagwell_plant_bench";
  static char* argv[] = {name, nullptr};
  static QApplication* application = [] {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    return new QApplication(argc, argv);
  }();
  (void)application;
}

void LoadItemList(benchmark::State& state) {
  EnsureApplication();
  const int items = static_cast<int>(state.range(0));
  double us = 0;
  for (auto _ : state) {
    state.PauseTiming();
    Window window(0);
    state.ResumeTiming();
    auto start = Clock::now();
    window.LoadList(items);
    us += std::chrono::duration<double, std::micro>(Clock::now() - start).count();
    state.PauseTiming();
    if (window.rows() != items) state.SkipWithError("not every item was added");
    state.ResumeTiming();
  }
  state.counters["us_per_item"] = us / static_cast<double>(state.iterations()) / items;
}
BENCHMARK(LoadItemList)->Arg(250)->Arg(500)->Arg(1000)->Iterations(2)->Unit(
    benchmark::kMillisecond)->UseRealTime();

// Ticks timed one by one, for the median and the 99th percentile.
void TimedTicks(benchmark::State& state, Window& window) {
  std::vector<double> ms;
  for (auto _ : state) {
    auto start = Clock::now();
    window->readCycle().Tick();
    ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  std::sort(ms.begin(), ms.end());
  state.counters["median_ms"] = ms[ms.size() / 2];
  state.counters["p99_ms"] = ms[std::min(ms.size() - 1, ms.size() * 99 / 100)];
}

void Tick(benchmark::State& state) {
  EnsureApplication();
  static Window window(static_cast<int>(state.range(0)));
  static const std::string database = window.StartRecording();
  if (window.rows() != state.range(0)) state.SkipWithError("not every item was added");
  TimedTicks(state, window);
  QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "count");
  db.setDatabaseName(QString::fromStdString(database));
  if (db.open()) {
    QSqlQuery count("SELECT count(*) FROM OPCvalues", db);
    if (count.next()) state.counters["rows"] = count.value(0).toDouble();
  }
}
BENCHMARK(Tick)->Arg(1000)->Iterations(30)->Unit(benchmark::kMillisecond)->UseRealTime();

void TickLocked(benchmark::State& state) {
  EnsureApplication();
  static Window window(static_cast<int>(state.range(0)));
  static const std::string database = window.StartRecording();
  QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "lock");
  db.setDatabaseName(QString::fromStdString(database));
  if (!db.open() || !QSqlQuery(db).exec("BEGIN IMMEDIATE")) state.SkipWithError("no lock");
  TimedTicks(state, window);
  QSqlQuery(db).exec("ROLLBACK");
}
BENCHMARK(TickLocked)->Arg(1000)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

class EchoImpl final : public bench::Echo::Server {
 protected:
  kj::Promise<void> echo(EchoContext context) override {
    context.getResults().setValue(context.getParams().getValue());
    return kj::READY_NOW;
  }
};

void Reference(benchmark::State& state) {
  EnsureApplication();
  const int n = static_cast<int>(state.range(0));
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
    state.SkipWithError("no socket pair");
    return;
  }
  // The echo is served by a thread of its own, as the server thread serves
  // the proxies' calls.
  std::thread server([fd = fds[1]] {
    auto io = kj::setupAsyncIo();
    auto stream = io.lowLevelProvider->wrapSocketFd(fd, kj::LowLevelAsyncIoProvider::TAKE_OWNERSHIP);
    capnp::TwoPartyVatNetwork network(*stream, capnp::rpc::twoparty::Side::SERVER);
    auto rpc = capnp::makeRpcServer(network, kj::heap<EchoImpl>());
    network.onDisconnect().wait(io.waitScope);
  });
  {
    // This thread's event loop is the proxies' apartment.
    auto apartment = rpc::Apartment::ForThisThread();
    auto stream =
        apartment->lowLevel().wrapSocketFd(fds[0], kj::LowLevelAsyncIoProvider::TAKE_OWNERSHIP);
    capnp::TwoPartyClient client(*stream);
    auto echo = client.bootstrap().castAs<bench::Echo>();
    const std::string database = Folder().File("reference.db");
    std::system(("rm -f '" + database + "'; sqlite3 '" + database + "' < '" TAGWELL_OPCVALUES_SQL
                 "'")
                    .c_str());
    QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "reference");
    db.setDatabaseName(QString::fromStdString(database));
    db.open();
    for (auto _ : state) {
      for (int i = 0; i < n; ++i) {
        auto request = echo.echoRequest();
        request.setValue(i);
        benchmark::DoNotOptimize(request.send().wait(apartment->waitScope()).getValue());
      }
      db.transaction();
      QSqlQuery insert(db);
      insert.prepare(
          "INSERT INTO OPCvalues (Number, Name, Type, Hours, Minutes, Seconds, Day, Month, Year, "
          "Value, Quality) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
      for (int i = 0; i < n; ++i) {
        for (const QVariant& v : {QVariant(i), QVariant(QString::fromStdString(ItemId(i))),
                                  QVariant("double"), QVariant(12), QVariant(30), QVariant(5),
                                  QVariant(8), QVariant(12), QVariant(2026), QVariant("1.25"),
                                  QVariant("Good")})
          insert.addBindValue(v);
        insert.exec();
      }
      db.commit();
    }
    db.close();
  }
  server.join();
}
BENCHMARK(Reference)->Arg(1000)->Iterations(30)->Unit(benchmark::kMillisecond)->UseRealTime();

void OpenAddItemDialog(benchmark::State& state) {
  EnsureApplication();
  static Window window(0);
  for (auto _ : state) {
    ItemListDialog dialog(window->client(), &*window);
    dialog.show();
    QApplication::processEvents();
    benchmark::DoNotOptimize(dialog.list()->count());
    state.counters["names"] = dialog.list()->count();
  }
}
BENCHMARK(OpenAddItemDialog)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace tagwell

// The windows, the server thread and the activator live to the end of the
// process; it ends without tearing them down in an order nobody chose.
int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::fflush(stdout);
  std::_Exit(0);
}
