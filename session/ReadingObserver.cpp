#include "session/ReadingObserver.h"

#include "opc/TextHelpers.h"

namespace tagwell {

RowReading ReadingOfRow(const Client& client, int row) {
  RowReading r;
  if (row < 0 || row >= MAX_ITEMS) return r;
  const ItemRecord& record = client.table.rows[row];
  r.row = row;
  r.itemName = WideText(record.itemName.c_str());
  r.canonical = record.vtCanonical;
  r.value = record.vValue.get();
  r.timeStamp = record.ftTimeStamp;
  r.quality = record.wQuality;
  return r;
}

LastItemReading::LastItemReading(Client& client)
    : client_(client), valueTypeBefore_(client.reading.valueType) {
  client_.reading.valueType = 0;
}

RowReading LastItemReading::Take(int row, WORD quality) {
  RowReading r = ReadingOfRow(client_, row);
  r.quality = quality;
  r.value = nullptr;
  const CurrentReading& c = client_.reading;
  com::VARIANT& v = *value_.get();
  switch (c.valueType) {
    case 0:  // not a reading the record takes: leave the record as it was
      client_.reading.valueType = valueTypeBefore_;
      return r;
    case 1:
      v.vt = com::VT_BOOL;
      v.boolVal = c.booleanValue ? -1 : 0;
      break;
    case 2:
    case 3:
      v.vt = com::VT_I4;
      v.lVal = c.valueType == 2 ? c.integerValue : c.longValue;
      break;
    case 4:
      v.vt = com::VT_R4;
      v.fltVal = c.floatValue;
      break;
    case 5:
      v.vt = com::VT_R8;
      v.dblVal = c.doubleValue;
      break;
    default:  // a string: the trend takes no text
      return r;
  }
  r.value = value_.get();
  return r;
}

}  // namespace tagwell
