// IEnumOPCItemAttributes over a snapshot of a group's items.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/opcda/OpcDa.h"

namespace tagwell::server {

struct ItemAttributesRecord {
  std::string itemId;  // UTF-8
  com::BOOL active = com::FALSE;
  com::OPCHANDLE clientHandle = 0;
  com::OPCHANDLE serverHandle = 0;
  com::DWORD accessRights = 0;
  com::VARTYPE requestedType = com::VT_EMPTY;
  com::VARTYPE canonicalType = com::VT_EMPTY;
  com::OPCEUTYPE euType = com::OPC_NOENUM;
  com::Variant euInfo;
};

// One reference, owned by the caller. Next hands out one task-allocator
// block of records whose access path (always "") and item ID strings and EU
// info are the caller's to free too; no blobs.
com::IEnumOPCItemAttributes* MakeEnumItemAttributes(
    std::shared_ptr<const std::vector<ItemAttributesRecord>> records);

}  // namespace tagwell::server
