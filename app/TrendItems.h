// The items a trend window offers: the rows of the item table (their EU
// units asked of the server), or the names recorded in a database.
#pragma once

#include <string>
#include <vector>

#include "app/TrendBuffer.h"
#include "opc/ClientState.h"

namespace tagwell {

struct TrendItem {
  std::string name;
  std::string units;  // item property 100; "" when the server gives none
  CurveKind kind = CurveKind::Number;
  bool chosen = false;  // drawn when the window opens
};

// The rows of the table, the row selected in the Item name column chosen
// (every row when none is selected). Units are asked of the server's item
// properties while it is connected, one call per item: for the chosen
// rows, and for all of them only in a short table (a remote server would
// keep the window waiting for a thousand calls); a server without them
// gives none.
std::vector<TrendItem> TrendItemsOf(Client& client);

// Item property 100 (EU units) of itemId; "" when there is none.
std::string EuUnits(Client& client, const std::string& itemId);

}  // namespace tagwell
