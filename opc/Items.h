// The one group of a connection and its items.
#pragma once

#include <string_view>

#include "opc/ClientState.h"

namespace tagwell {

// Creates the group ("Group", inactive, 100 ms) and its IOPCItemMgt. 0, or 1
// after a reported failure (itemMgt stays null).
int AddGroup(Client& client, com::IOPCServer* server, com::IOPCItemMgt** itemMgt,
             OPCHANDLE* hServerGroup);
// Adds szItemName as row lastRowIndex (the caller has put the name into the
// Item name column and set lastRowIndex and currentRow). The item is
// requested in its canonical type (VT_EMPTY). 0, or 1 when the server
// call failed or the addition was refused before it (no group, no room). An
// item the server refuses (S_FALSE) is reported to the operator and returns
// 0; its row keeps only name and client handle. serverHandle receives the
// new item's handle, or the refused row's empty handle.
int AddItem(Client& client, com::IOPCItemMgt* itemMgt, OPCHANDLE* serverHandle);
// EU type of the item just added (the group's newest) into lastEUType and
// row currentItem: asked of the server's item properties for that item
// alone, or, from a server without them, the last record of the group's
// attribute enumeration. lastEUType is 0 when neither answers.
void ReadItemAttributes(Client& client, com::IOPCItemMgt* itemMgt);
// Removes the item of row currentItem from the group (its name goes to
// szReadItemName for the removal's log line). Removing row 0 ends the
// connection monitor item.
void RemoveItem(Client& client, com::IOPCItemMgt* itemMgt, OPCHANDLE serverHandle);

// Type column text of a canonical type, EU text of an EU type.
const char* CanonicalTypeText(VARTYPE vt);
const char* EuTypeText(unsigned euType);

// --- Gates the adding commands use before they put a name into the column ---

// True, after telling the operator, when the table has no room for another
// item (MAX_ITEMS rows).
bool RefuseWhenTableFull(Client& client);
// True, after telling the operator, when itemMgt (the connection's
// ptrIOPCItemMgt) is null because AddGroup failed. caption names the
// operation that was refused.
bool RefuseWithoutGroup(Client& client, com::IOPCItemMgt* itemMgt, std::string_view caption);

// Rewrites row `row` of a column (insert, then delete the row after it). A
// column shorter than row is first filled with empty lines so that row n of
// every column stays row n of the table; a negative row does nothing.
void SetColumnRow(ui::ListBox* column, int row, std::string_view text);

}  // namespace tagwell
