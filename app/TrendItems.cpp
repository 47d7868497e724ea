#include "app/TrendItems.h"

#include "opc/Connection.h"
#include "opc/Reconnect.h"
#include "opc/TextHelpers.h"

namespace tagwell {
namespace {

constexpr com::DWORD kEuUnitsProperty = 100;
// Up to this many rows, every row's units are asked.
constexpr int kUnitsForAllRows = 50;

}  // namespace

std::string EuUnits(Client& client, const std::string& itemId) {
  ClientState& s = client.state;
  if (!s.ptrIOPCItemProperties || s.connected == 0 || s.serverLost == 1) return {};
  com::WCHAR* wide = AnsiToWide(itemId.c_str());
  if (!wide) return {};
  com::DWORD propertyId = kEuUnitsProperty;
  com::VARIANT* data = nullptr;
  HRESULT* errors = nullptr;
  const HRESULT hr =
      s.ptrIOPCItemProperties->GetItemProperties(wide, 1, &propertyId, &data, &errors);
  FreeWide(wide);
  std::string units;
  if (com::SUCCEEDED(hr) && data && !(errors && com::FAILED(errors[0]))) {
    com::Variant text;
    if (com::SUCCEEDED(com::VariantChangeType(text.get(), &data[0], 0, com::VT_BSTR)))
      units = WideText(text->bstrVal);
  }
  if (data && com::SUCCEEDED(hr)) com::VariantClear(&data[0]);
  FreeServerMemory(client, data);
  FreeServerMemory(client, errors);
  MarkServerLost(client, hr);
  return units;
}

std::vector<TrendItem> TrendItemsOf(Client& client) {
  std::vector<TrendItem> items;
  const int rows = client.ui.itemNames ? client.ui.itemNames->GetCount() : 0;
  // The row the operator sees selected in the Item name column.
  const int selected = rows > 0 ? client.ui.itemNames->GetCurSel() : -1;
  for (int row = 0; row < rows && row < MAX_ITEMS; ++row) {
    const ItemRecord& record = client.table.rows[row];
    TrendItem item;
    item.name = WideText(record.itemName.c_str());
    item.kind = KindOfType(record.vtCanonical);
    item.chosen =
        (selected < 0 || selected >= rows || selected == row) && item.kind != CurveKind::NoCurve;
    if (item.chosen || rows <= kUnitsForAllRows) item.units = EuUnits(client, item.name);
    items.push_back(std::move(item));
  }
  return items;
}

}  // namespace tagwell
