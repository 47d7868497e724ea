#include "browse/AddItemDialog.h"

#include <algorithm>
#include <cstdio>

namespace tagwell {
namespace {

constexpr const char* kCaption = "AddItem dialog";

std::string_view RootName(const Client& client) {
  return client.state.remoteMode == 0 ? client.state.szServerName.view()
                                      : client.state.szRemoteServerName.view();
}

bool IsGroupName(const Client& client, const std::string& text) {
  const BrowseLists& b = client.browse;
  int count = std::clamp(b.browseGroupCount, 0, static_cast<int>(b.browseGroupNames.size()));
  auto end = b.browseGroupNames.begin() + count;
  return std::find(b.browseGroupNames.begin(), end, text) != end;
}

std::string_view FirstLine(std::string_view text) {
  return text.substr(0, text.find_first_of("\r\n"));
}

void Refuse(Client& client, const char* text) {
  if (client.ui.messageBox)
    client.ui.messageBox->Show(text, kCaption, ui::Icon::Warning, ui::Owner::None);
}

}  // namespace

void FillItemList(const Client& client, ui::ListBox& list) {
  list.ResetContent();
  int row = list.InsertString(-1, RootName(client));
  list.SetItemData(row, kRootLevel);
  const BrowseLists& b = client.browse;
  int count = std::clamp(b.browseItemCount, 0, static_cast<int>(b.browseItemNames.size()));
  for (int i = 0; i < count; ++i) {
    row = list.InsertString(-1, b.browseItemNames[i]);
    list.SetItemData(row, kNameLevel);
  }
  list.SetCurSel(0);
}

std::string SelectListItem(const Client& client, const ui::ListBox& list) {
  std::string text;
  if (list.GetText(list.GetCurSel(), &text) == ui::LB_ERR) return {};
  if (IsGroupName(client, text)) return {};
  if (text == client.state.szServerName.view() || text == client.state.szRemoteServerName.view())
    return {};
  return text;
}

bool AcceptItemId(Client& client, std::string_view typed) {
  std::string_view id = FirstLine(typed);
  if (id.empty()) {
    Refuse(client,
           "Error selecting item from the list!\nProbably device or group name was selected.");
    return false;
  }
  if (id.size() > kMaxItemIdLength) {
    Refuse(client, "Error: item ID is too long.\nAn item ID can have at most 127 characters.");
    return false;
  }
  PutChosenItem(client, id);
  return true;
}

void PutChosenItem(Client& client, std::string_view id) {
  ClientState& s = client.state;
  s.szItemName = id;
  int row = AppendItemRow(client, s.szItemName.view());
  s.currentRow = row;
  s.lastRowIndex = row;
  s.itemChosen = 1;
}

void CancelItemDialog(Client& client) {
  client.state.itemChosen = 0;
}

int AppendItemRow(Client& client, std::string_view name) {
  const WindowPorts& ui = client.ui;
  int row = ui.itemNames->AddString(name);
  for (ui::ListBox* column : {ui.values, ui.timeStamps, ui.qualities, ui.types}) {
    while (column->GetCount() <= row) column->AddString("");
  }
  return row;
}

int ShowItemCount(Client& client) {
  int count = client.ui.itemNames->GetCount();
  client.state.displayedItemCount = count;
  char text[16];
  std::snprintf(text, sizeof text, "%4i", count);
  SetOneLineBox(*client.ui.itemCount, text);
  return count;
}

}  // namespace tagwell
