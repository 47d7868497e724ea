// The Add Item dialog's rules, over the ui ports so that they run without a
// window: the list of names offered (the server's name as the root line,
// then every name the address-space walk stored), the item field that a
// selection fills, and what OK and Cancel do. app/ holds the Qt dialog that
// draws the list and calls these.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "opc/ClientState.h"

namespace tagwell {

// Tree levels kept as the lines' item data: the indentation of the drawing.
inline constexpr std::intptr_t kRootLevel = 0;
inline constexpr std::intptr_t kNameLevel = 2;

// Longest item ID in bytes that szItemName holds with its terminator.
inline constexpr std::size_t kMaxItemIdLength = decltype(ClientState::szItemName)::kCapacity - 1;

// Empties list, appends the root line (szServerName, or szRemoteServerName
// in remote mode) at level 0 and the first browseItemCount names at level 2,
// and selects line 0 (no notification, so the item field stays empty).
// Names are shown whole.
void FillItemList(const Client& client, ui::ListBox& list);

// The text for the item field after a selection change or double click in
// list: the selected line, or "" for a device or group name (any of the
// first browseGroupCount group names), for the root line (the text equals
// szServerName or szRemoteServerName) and when nothing is selected.
std::string SelectListItem(const Client& client, const ui::ListBox& list);

// OK with typed, the text of the item field (its first line counts). Returns
// true when the dialog ends: the ID is in szItemName, appended as a new row
// of the Item name column, currentRow and lastRowIndex name that row and
// itemChosen is 1. Returns false, with a message box and nothing else
// changed, for an empty field or an ID longer than kMaxItemIdLength bytes
// (refused rather than cut, which would add a different item).
bool AcceptItemId(Client& client, std::string_view typed);

// Cancel, Escape and the close box: itemChosen becomes 0.
void CancelItemDialog(Client& client);

// --- Shared by the Add Item command and the XML loader ----------------------

// Appends name as a new row of the Item name column and gives the four
// other columns an empty line up to the same row, so that row n stays row n
// in every column even when the item is refused or its first read fails.
// Returns the new row's index.
int AppendItemRow(Client& client, std::string_view name);

// The item chosen for addition: id into szItemName, appended as a new row
// (AppendItemRow), currentRow and lastRowIndex set to that row, itemChosen 1.
// id fits szItemName (the callers refuse longer ones).
void PutChosenItem(Client& client, std::string_view id);

// Shows the number of rows of the Item name column ("%4i") in the
// item-count box and keeps it as displayedItemCount; returns it.
int ShowItemCount(Client& client);

}  // namespace tagwell
