#include "browse/XmlItemList.h"

#include <algorithm>
#include <cstdio>

#include "browse/AddItemDialog.h"
#include "opc/Items.h"
#include "opc/Log.h"
#include "opc/Prefetch.h"
#include "opc/Reading.h"

namespace tagwell {
namespace {

constexpr const char* kCaption = "Load XML file";

void Warn(Client& client, const std::string& text) {
  if (client.ui.messageBox)
    client.ui.messageBox->Show(text, kCaption, ui::Icon::Warning, ui::Owner::None);
}

// An entry whose Name holds nothing but white space names no item.
bool IsBlank(const std::string& id) {
  return id.find_first_not_of(" \t\r\n") == std::string::npos;
}

// The item-adding steps for one entry.
void AddEntry(Client& client, const std::string& id) {
  ClientState& s = client.state;
  PutChosenItem(client, id);
  AddItem(client, s.ptrIOPCItemMgt, &s.lastServerHandle);
  WORD quality = 0;
  ReadItem(client, s.ptrIOPCItemMgt, s.lastServerHandle, s.currentValue.get(), &quality);
  ReadItemAttributes(client, s.ptrIOPCItemMgt);
  s.itemsAdded += 1;
  ShowItemCount(client);
}

bool Skipped(const std::string& id) {
  return IsBlank(id) || id.size() > kMaxItemIdLength;
}

// The entries from index `from` on that become the next rows, at most
// kAddChunk and no more than the table has room for; *end is the index
// after the last of them.
std::vector<std::string> NextAdditions(const Client& client, const std::vector<std::string>& ids,
                                       std::size_t from, std::size_t* end) {
  const int room = MAX_ITEMS - client.ui.itemNames->GetCount();
  std::vector<std::string> chunk;
  std::size_t i = from;
  for (; i < ids.size() && static_cast<int>(chunk.size()) < std::min(room, kAddChunk); ++i)
    if (!Skipped(ids[i])) chunk.push_back(ids[i]);
  *end = i;
  return chunk;
}

// The server calls of the entries from `from` on are made for a chunk of
// them at once; the entries are then added one by one as before.
void AddAhead(Client& client, const std::vector<std::string>& ids, std::size_t from,
              std::size_t* end) {
  client.prefetch.reset();
  const std::vector<std::string> chunk = NextAdditions(client, ids, from, end);
  PrefetchAdditions(client, client.state.ptrIOPCItemMgt, client.ui.itemNames->GetCount(), chunk);
}

}  // namespace

void LoadXMLFile(Client& client, const char* path) {
  if (RefuseWithoutGroup(client, client.state.ptrIOPCItemMgt, kCaption)) return;
  std::string reason;
  auto ids = ReadXmlItemList(path ? path : "", &reason);
  if (!ids) {
    Warn(client, "Error: failed to load XML file. Check the file name.");
    LogXmlLoadFailed(client, path ? path : "", reason);
    return;
  }
  int blank = 0;
  int tooLong = 0;
  PrefetchScope kept(client);
  const WindowPorts& ui = client.ui;
  ui::HeldUpdates held{ui.itemNames, ui.values, ui.timeStamps, ui.qualities, ui.types};
  std::size_t aheadEnd = 0;
  for (std::size_t i = 0; i < ids->size(); ++i) {
    const std::string& id = (*ids)[i];
    // A message box of an earlier entry may have let the operator disconnect.
    if (client.state.ptrIOPCItemMgt == nullptr) return;
    if (i >= aheadEnd && !Skipped(id) && !TableIsFull(client)) AddAhead(client, *ids, i, &aheadEnd);
    if (IsBlank(id)) {
      LogXmlBlankNameSkipped(client);
      ++blank;
      continue;
    }
    if (id.size() > kMaxItemIdLength) {
      LogXmlItemSkipped(client, id);
      ++tooLong;
      continue;
    }
    if (RefuseWhenTableFull(client)) return;  // the rest of the file is not added
    AddEntry(client, id);
  }
  if (blank + tooLong > 0) {
    char text[240];
    std::snprintf(text, sizeof text,
                  "Warning: %d item ID(s) were not added: %d with an empty name, %d longer than "
                  "127 characters.\nSee Logfile.txt for the names.",
                  blank + tooLong, blank, tooLong);
    Warn(client, text);
  }
}

}  // namespace tagwell
