// Tagwell's own companion of IOPCBrowseServerAddressSpace, answered by the
// proxies of tagwell-server's objects: what the address-space walk asks of
// each name below a branch (enter it, list its leaves with their item IDs,
// go back up), for many names in one call, so that walking a large space
// over a slow link costs a call per hundred names instead of several per
// name. The server makes exactly the browse calls the walk would make, in
// the same order, on the same browse position. Servers that do not know it
// answer E_NOTIMPL; the walk then makes the calls itself.
#pragma once

#include <string>
#include <vector>

#include "platform/opcda/OpcDa.h"

namespace com {

inline constexpr IID IID_ITagwellBrowseBranches = {
    0x5A3E41C7, 0x9B2D, 0x4E8F, {0xA1, 0x06, 0x7C, 0x33, 0xD4, 0x58, 0xE2, 0x91}};

// What one name gave.
struct BranchContents {
  HRESULT enter = S_OK;  // ChangeBrowsePosition(OPC_BROWSE_TO, name)
  HRESULT list = S_OK;   // BrowseOPCItemIDs(OPC_LEAF) there, when entered
  ULONG leaves = 0;      // leaf names listed (at most the limit asked)
  // The item IDs of the leaves that have one, in the listing's order.
  std::vector<std::u16string> itemIds;
  HRESULT up = S_OK;  // ChangeBrowsePosition(OPC_BROWSE_UP, name), always made
};

class ITagwellBrowseBranches : public IUnknown {
 public:
  // For each name in order: enter, list at most leafLimit leaves, ask each
  // leaf's item ID, go up. *contents gets one entry per name on success.
  virtual HRESULT DescribeBranches(const std::vector<std::u16string>& names, ULONG leafLimit,
                                   std::vector<BranchContents>* contents) = 0;
};

// What ITagwellBrowseBranches answers, made with the plain browse calls on
// browse: for each name, ChangeBrowsePosition to it; when that succeeds,
// BrowseOPCItemIDs(OPC_LEAF), each leaf's GetItemID (at most leafLimit
// leaves); ChangeBrowsePosition up. One entry per name.
void DescribeBranchesAt(IOPCBrowseServerAddressSpace& browse,
                        const std::vector<std::u16string>& names, ULONG leafLimit,
                        std::vector<BranchContents>* contents);

}  // namespace com
