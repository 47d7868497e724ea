// A tick reads its rows in one call and an item list adds its entries in
// batches; the window, the boxes, Logfile.txt and the database must end
// exactly as with one call per row. Two windows on one server: one driven
// row by row through the one-row operations (the reference), one through
// the tick and the loader.
#include <gtest/gtest.h>

#include <QListWidget>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <fstream>
#include <map>
#include <sstream>

#include "browse/AddItemDialog.h"
#include "browse/XmlItemList.h"
#include "db/Database.h"
#include "opc/Items.h"
#include "opc/Reading.h"
#include "resources/ResourceIds.h"
#include "tests/app/AppTestSupport.h"

namespace tagwell {
namespace {

using namespace res;
using testing::Call;
using testing::Fault;
using testing::Plant;
using testing::ReadFile;
using testing::TestWindow;
using Lines = std::vector<std::string>;

// Row 0 is no heartbeat item: the tick would write it, the reference does not.
const Lines kItems = {"Boiler.Burner.Flame",  "Boiler.Pressure", "Line1.Speed",
                      "Boiler.Burner.Starts", "Line1.Batch",     "Boiler.Mode"};

// The one-item steps of the loader for each entry, as it ran before batches.
void AddOneByOne(Client& client, const Lines& ids) {
  ClientState& s = client.state;
  for (const std::string& id : ids) {
    PutChosenItem(client, id);
    AddItem(client, s.ptrIOPCItemMgt, &s.lastServerHandle);
    WORD quality = 0;
    ReadItem(client, s.ptrIOPCItemMgt, s.lastServerHandle, s.currentValue.get(), &quality);
    ReadItemAttributes(client, s.ptrIOPCItemMgt);
    s.itemsAdded += 1;
    ShowItemCount(client);
  }
}

// The rows of the tick read one call each, as the tick read them before.
void TickOneByOne(Client& client) {
  RecordingBatch batch(client);
  ClientState& s = client.state;
  for (int row = 0; row <= s.lastRowIndex; ++row) {
    if (s.serverLost == 1) break;
    s.currentItem = s.currentRow = row;
    ReadGroup(client, s.ptrIOPCItemMgt, client.table.serverHandles[row], s.currentValue.get());
    for (ui::ListBox* column : {client.ui.itemNames, client.ui.values, client.ui.timeStamps,
                                client.ui.qualities, client.ui.types})
      column->SetCurSel(s.selectedRow);
  }
}

Lines DatabaseRows(const std::string& path) {
  Lines rows;
  {
    QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "batched.peek");
    db.setDatabaseName(QString::fromStdString(path));
    EXPECT_TRUE(db.open());
    QSqlQuery query("SELECT * FROM OPCvalues ORDER BY rowid", db);
    while (query.next()) {
      std::string row;
      for (int i = 0; i < 11; ++i) row += query.value(i).toString().toStdString() + "|";
      rows.push_back(row);
    }
  }
  QSqlDatabase::removeDatabase("batched.peek");
  return rows;
}

// What an operator and the records can see of one window.
struct Outcome {
  std::map<int, Lines> columns;
  Lines boxes, log, database;
  int itemsAdded = 0, selected = 0;
  std::vector<WORD> euTypes;
  bool operator==(const Outcome&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Outcome& o) {
  for (const auto& [id, lines] : o.columns) {
    out << "\ncolumn " << id << ":";
    for (const auto& line : lines) out << " [" << line << "]";
  }
  for (const auto& box : o.boxes) out << "\nbox " << box;
  out << "\nlog:\n";
  for (const auto& line : o.log) out << line << "\n";
  for (const auto& row : o.database) out << "row " << row << "\n";
  return out << "items " << o.itemsAdded << " selected " << o.selected;
}

struct Side {
  TestWindow w;
  std::string database = w.dir.File("plant.db");

  Side() {
    testing::ConnectTo(w, "Tagwell.TestServer.1");
    testing::MakeRecordingDatabase(database);
    Client& client = w.client();
    client.writeDatabase = &WriteDatabase;
    client.flushDatabase = &FlushDatabase;
    client.state.databasePath = database;
    client.state.databaseWriting = 1;
  }
  Outcome Seen() {
    Outcome o;
    for (int id : {IDC_ITEM_NAMES, IDC_VALUES, IDC_TIME_STAMPS, IDC_QUALITIES, IDC_TYPES})
      o.columns[id] = w.Lines(id);
    for (const auto& box : w.messages.shown) o.boxes.push_back(box.caption + "|" + box.text);
    std::istringstream log(ReadFile(w.dir.File("Logfile.txt")));
    for (std::string line; std::getline(log, line);) o.log.push_back(line);
    o.database = DatabaseRows(database);
    o.itemsAdded = w.client().state.itemsAdded;
    o.selected = w->listBox(IDC_VALUES)->currentRow();
    for (int row = 0; row < o.itemsAdded; ++row)
      o.euTypes.push_back(w.client().table.rows[row].euType);
    return o;
  }
};

struct Case {
  const char* name;
  std::function<void(testing::FaultScript&)> fault;
};

// Each case: the list is loaded and two ticks run with the fault armed
// after the load (a failing AddItems is armed before it).
const Case kCases[] = {
    {"no fault", [](testing::FaultScript&) {}},
    {"one row's read fails inside the batch (S_FALSE)",
     [](testing::FaultScript& f) {
       f.SetTargetItem("Line1.Speed");
       f.Set(Fault::ReadReturnsFalse);
     }},
    {"the batch call fails because of one row (E_FAIL)",
     [](testing::FaultScript& f) {
       f.SetTargetItem("Boiler.Burner.Starts");
       f.Set(Fault::ReadFails);
     }},
    {"the server drops the connection at the read",
     [](testing::FaultScript& f) { f.DropConnectionAt(Call::Read); }},
};

TEST(BatchedTick, GivesWhatOneCallPerRowGives) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    Plant plant;
    Outcome outcomes[2];
    for (int batched = 0; batched < 2; ++batched) {
      plant.faults->ClearAll();
      plant.faults->ComeBack();
      plant.clock->Set(testing::TestEpoch());
      Side side;
      Client& client = side.w.client();
      if (batched) {
        std::ofstream(side.w.dir.File("list.xml")) << [] {
          std::string xml = "<ItemList>";
          for (const auto& id : kItems) xml += "<Item><Name>" + id + "</Name></Item>";
          return xml + "</ItemList>";
        }();
        LoadXMLFile(client, side.w.dir.File("list.xml").c_str());
      } else {
        AddOneByOne(client, kItems);
      }
      side.w->listBox(IDC_ITEM_NAMES)->setCurrentRow(3);
      c.fault(*plant.faults);
      for (int tick = 0; tick < 2; ++tick) {
        if (batched)
          side.w->readCycle().Tick();
        else
          TickOneByOne(client);
        plant.clock->Advance(std::chrono::seconds(1));
      }
      outcomes[batched] = side.Seen();
    }
    EXPECT_EQ(outcomes[1], outcomes[0]);
    EXPECT_EQ(outcomes[0].itemsAdded, static_cast<int>(kItems.size()));
  }
}

// Entries the server refuses, or whose AddItems fails, in the middle of a
// batch keep their rows, boxes and log lines.
TEST(BatchedLoad, RefusedAndFailedEntriesAsOneByOne) {
  const Case cases[] = {
      {"refused",
       [](testing::FaultScript& f) {
         f.SetTargetItem("Line1.Speed");
         f.Set(Fault::AddItemsRefuses);
       }},
      {"AddItems fails",
       [](testing::FaultScript& f) {
         f.SetTargetItem("Line1.Speed");
         f.Set(Fault::AddItemsFails);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Plant plant;
    Outcome outcomes[2];
    for (int batched = 0; batched < 2; ++batched) {
      plant.faults->ClearAll();
      plant.clock->Set(testing::TestEpoch());
      Side side;
      c.fault(*plant.faults);
      Client& client = side.w.client();
      if (batched) {
        std::ofstream(side.w.dir.File("list.xml"))
            << "<ItemList><Item><Name>Boiler.Pressure</Name><Name>Line1.Speed</Name>"
               "<Name>Boiler.Mode</Name></Item></ItemList>";
        LoadXMLFile(client, side.w.dir.File("list.xml").c_str());
      } else {
        AddOneByOne(client, {"Boiler.Pressure", "Line1.Speed", "Boiler.Mode"});
      }
      outcomes[batched] = side.Seen();
    }
    EXPECT_EQ(outcomes[1], outcomes[0]);
  }
}

}  // namespace
}  // namespace tagwell
