// The one group of a connection and its items.
#pragma once

#include "opc/ClientState.h"

namespace tagwell {

int AddGroup(Client& client, com::IOPCServer* server, com::IOPCItemMgt** itemMgt,
             OPCHANDLE* hServerGroup);
// Adds szItemName as row lastRowIndex (the caller has put the name into the
// Item name column and set lastRowIndex and currentRow). 0, or 1 when the
// server call failed.
int AddItem(Client& client, com::IOPCItemMgt* itemMgt, OPCHANDLE* serverHandle);
// EU type of the group's last item into lastEUType and row currentItem.
void ReadItemAttributes(Client& client, com::IOPCItemMgt* itemMgt);
// Removes the item of row currentItem from the group.
void RemoveItem(Client& client, com::IOPCItemMgt* itemMgt, OPCHANDLE serverHandle);

// Type column text of a canonical type, EU text of an EU type.
const char* CanonicalTypeText(VARTYPE vt);
const char* EuTypeText(unsigned euType);

}  // namespace tagwell
