// Stubs of IOPCBrowseServerAddressSpace and IOPCItemProperties.
#include <string>
#include <vector>

#include "platform/opcda/BrowseBranches.h"
#include "rpc/Stub.h"

namespace tagwell::rpc {

using namespace com;
using namespace stub;

kj::Promise<void> ObjectStub::queryOrganization(QueryOrganizationContext context) {
  if (!browse_) return NoInterface(context);
  OPCNAMESPACETYPE type{};
  HRESULT hr = browse_->QueryOrganization(&type);
  context.getResults().setNameSpaceType(type);
  return Answer(context, hr);
}

kj::Promise<void> ObjectStub::changeBrowsePosition(ChangeBrowsePositionContext context) {
  if (!browse_) return NoInterface(context);
  auto params = context.getParams();
  WideArg name;
  if (!name.Assign(params.hasName(), params.getName())) return Fail(context, E_INVALIDARG);
  return Answer(context, browse_->ChangeBrowsePosition(
                             static_cast<OPCBROWSEDIRECTION>(params.getDirection()), name.get()));
}

kj::Promise<void> ObjectStub::browseOpcItemIds(BrowseOpcItemIdsContext context) {
  if (!browse_) return NoInterface(context);
  auto params = context.getParams();
  WideArg criteria;
  if (!criteria.Assign(params.hasFilterCriteria(), params.getFilterCriteria()))
    return Fail(context, E_INVALIDARG);
  IEnumString* enumerator = nullptr;
  HRESULT hr = browse_->BrowseOPCItemIDs(static_cast<OPCBROWSETYPE>(params.getFilterType()),
                                         criteria.get(), params.getDataTypeFilter(),
                                         params.getAccessRightsFilter(), &enumerator);
  PutObject(enumerator, rights_, [&] { return context.getResults().initEnumerator(); });
  return Answer(context, hr);
}

kj::Promise<void> ObjectStub::getItemId(GetItemIdContext context) {
  if (!browse_) return NoInterface(context);
  auto params = context.getParams();
  WideArg dataId;
  if (!dataId.Assign(params.hasItemDataId(), params.getItemDataId()))
    return Fail(context, E_INVALIDARG);
  LPWSTR itemId = nullptr;
  HRESULT hr = browse_->GetItemID(dataId.get(), &itemId);
  if (itemId) {
    context.getResults().setItemId(WideToWire(itemId));
    CoTaskMemFree(itemId);
  }
  return Answer(context, hr);
}

kj::Promise<void> ObjectStub::browseAccessPaths(BrowseAccessPathsContext context) {
  if (!browse_) return NoInterface(context);
  auto params = context.getParams();
  WideArg itemId;
  if (!itemId.Assign(params.hasItemId(), params.getItemId())) return Fail(context, E_INVALIDARG);
  IEnumString* enumerator = nullptr;
  HRESULT hr = browse_->BrowseAccessPaths(itemId.get(), &enumerator);
  PutObject(enumerator, rights_, [&] { return context.getResults().initEnumerator(); });
  return Answer(context, hr);
}

// At most this many names per describeBranches, so that one call cannot
// hold the server's loop for long.
constexpr unsigned kMostBranchesPerCall = 1000;

kj::Promise<void> ObjectStub::describeBranches(DescribeBranchesContext context) {
  if (!browse_) return NoInterface(context);
  auto params = context.getParams();
  auto names = params.getNames();
  if (names.size() > kMostBranchesPerCall) return Fail(context, E_INVALIDARG);
  std::vector<std::u16string> wanted;
  for (auto name : names) {
    WideArg text;
    if (!text.Assign(true, name)) return Fail(context, E_INVALIDARG);
    wanted.emplace_back(text.get());
  }
  std::vector<BranchContents> described;
  DescribeBranchesAt(*browse_.Get(), wanted, params.getLeafLimit(), &described);
  auto out = context.getResults().initBranches(names.size());
  for (unsigned i = 0; i < names.size(); ++i) {
    const BranchContents& inside = described[i];
    auto branch = out[i];
    branch.setEnter(inside.enter);
    branch.setList(inside.list);
    branch.setLeaves(inside.leaves);
    auto ids = branch.initItemIds(static_cast<unsigned>(inside.itemIds.size()));
    for (unsigned k = 0; k < inside.itemIds.size(); ++k)
      ids.set(k, WideToWire(inside.itemIds[k].c_str()));
    branch.setUp(inside.up);
  }
  return Answer(context, S_OK);
}

kj::Promise<void> ObjectStub::queryAvailableProperties(QueryAvailablePropertiesContext context) {
  if (!properties_) return NoInterface(context);
  auto params = context.getParams();
  WideArg itemId;
  if (!itemId.Assign(params.hasItemId(), params.getItemId())) return Fail(context, E_INVALIDARG);
  DWORD count = 0;
  DWORD* ids = nullptr;
  LPWSTR* descriptions = nullptr;
  VARTYPE* types = nullptr;
  HRESULT hr =
      properties_->QueryAvailableProperties(itemId.get(), &count, &ids, &descriptions, &types);
  auto results = context.getResults();
  results.setCount(count);
  if (ids) FillList(results.initPropertyIds(count), ids);
  if (descriptions) TextsToWire(descriptions, results.initDescriptions(count));
  if (types) FillList(results.initDataTypes(count), types);
  CoTaskMemFree(ids);
  FreeTaskArray(descriptions, descriptions ? count : 0);
  CoTaskMemFree(types);
  return Answer(context, hr);
}

kj::Promise<void> ObjectStub::getItemProperties(GetItemPropertiesContext context) {
  if (!properties_) return NoInterface(context);
  auto params = context.getParams();
  WideArg itemId;
  if (!itemId.Assign(params.hasItemId(), params.getItemId())) return Fail(context, E_INVALIDARG);
  auto ids = VectorFromWire<DWORD>(params.getPropertyIds());
  DWORD count = static_cast<DWORD>(ids.size());
  VARIANT* values = nullptr;
  HRESULT* errors = nullptr;
  HRESULT hr = properties_->GetItemProperties(itemId.get(), count, ids.data(), &values, &errors);
  auto results = context.getResults();
  HRESULT marshalled = values ? VariantsToWire(values, results.initValues(count)) : S_OK;
  FreeTaskArray(values, count);
  PutErrors(results, errors, count);
  if (FAILED(marshalled)) return Fail(context, marshalled);
  return Answer(context, hr);
}

kj::Promise<void> ObjectStub::lookupItemIds(LookupItemIdsContext context) {
  if (!properties_) return NoInterface(context);
  auto params = context.getParams();
  WideArg itemId;
  if (!itemId.Assign(params.hasItemId(), params.getItemId())) return Fail(context, E_INVALIDARG);
  auto ids = VectorFromWire<DWORD>(params.getPropertyIds());
  DWORD count = static_cast<DWORD>(ids.size());
  LPWSTR* newIds = nullptr;
  HRESULT* errors = nullptr;
  HRESULT hr = properties_->LookupItemIDs(itemId.get(), count, ids.data(), &newIds, &errors);
  auto results = context.getResults();
  if (newIds) TextsToWire(newIds, results.initNewItemIds(count));
  FreeTaskArray(newIds, count);
  PutErrors(results, errors, count);
  return Answer(context, hr);
}

}  // namespace tagwell::rpc
