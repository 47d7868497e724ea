#include "platform/opcda/BrowseBranches.h"

#include "platform/com/Memory.h"

namespace com {
namespace {

constexpr ULONG kLeavesPerNext = 100;

// The leaves at the browser's position (at most limit of them) and the
// item IDs of those that have one; the listing's result.
HRESULT DescribeLeaves(IOPCBrowseServerAddressSpace& browse, ULONG limit, BranchContents* out) {
  IEnumString* names = nullptr;
  HRESULT hr = browse.BrowseOPCItemIDs(OPC_LEAF, u"", VT_EMPTY, 0, &names);
  if (hr != S_OK || !names) {
    if (names) names->Release();
    return hr;
  }
  LPOLESTR batch[kLeavesPerNext];
  for (HRESULT next = S_OK; next == S_OK && out->leaves < limit;) {
    ULONG fetched = 0;
    next = names->Next(kLeavesPerNext, batch, &fetched);
    if (FAILED(next) || fetched > kLeavesPerNext) fetched = 0;
    for (ULONG i = 0; i < fetched; ++i) {
      if (batch[i] && out->leaves < limit) {
        ++out->leaves;
        LPWSTR id = nullptr;
        if (SUCCEEDED(browse.GetItemID(batch[i], &id)) && id) out->itemIds.emplace_back(id);
        CoTaskMemFree(id);
      }
      CoTaskMemFree(batch[i]);
    }
    if (fetched == 0) break;
  }
  names->Release();
  return hr;
}

}  // namespace

void DescribeBranchesAt(IOPCBrowseServerAddressSpace& browse,
                        const std::vector<std::u16string>& names, ULONG leafLimit,
                        std::vector<BranchContents>* contents) {
  contents->assign(names.size(), BranchContents{});
  for (std::size_t i = 0; i < names.size(); ++i) {
    BranchContents& inside = (*contents)[i];
    inside.enter = browse.ChangeBrowsePosition(OPC_BROWSE_TO, names[i].c_str());
    if (inside.enter == S_OK) inside.list = DescribeLeaves(browse, leafLimit, &inside);
    inside.up = browse.ChangeBrowsePosition(OPC_BROWSE_UP, names[i].c_str());
  }
}

}  // namespace com
