// The OPC item properties of the simulated items.
#pragma once

#include <vector>

#include "server/AddressSpace.h"

namespace tagwell::server {

// Property IDs of OPC DA 2.0.
inline constexpr com::DWORD kPropCanonicalType = 1;
inline constexpr com::DWORD kPropValue = 2;
inline constexpr com::DWORD kPropQuality = 3;
inline constexpr com::DWORD kPropTimeStamp = 4;
inline constexpr com::DWORD kPropAccessRights = 5;
inline constexpr com::DWORD kPropScanRate = 6;
inline constexpr com::DWORD kPropEuType = 7;
inline constexpr com::DWORD kPropEuInfo = 8;
inline constexpr com::DWORD kPropEuUnits = 100;
inline constexpr com::DWORD kPropDescription = 101;
inline constexpr com::DWORD kPropHighEu = 102;
inline constexpr com::DWORD kPropLowEu = 103;

// The fastest rate the simulation refreshes at, in milliseconds; also the
// smallest group update rate.
inline constexpr com::DWORD kFastestRateMs = 100;

struct PropertyInfo {
  com::DWORD id;
  const char* description;
  com::VARTYPE type;
};

// The properties the item has: 1 to 7 always; 8 for analog and enumerated
// items; 100 and 101 when units or a description are configured; 102 and
// 103 for analog items.
std::vector<PropertyInfo> AvailableProperties(const Item& item);

// The value of property id into *value (initialised by the caller), or
// OPC_E_INVALID_PID when the item does not have it.
com::HRESULT PropertyValue(const AddressSpace& space, const Item& item, com::DWORD id,
                           com::VARIANT* value);

// The EU info of an item: analog -> VT_ARRAY|VT_R8 {low, high};
// enumerated -> VT_ARRAY|VT_BSTR with the state texts, state 0 first;
// otherwise VT_EMPTY.
void EuInfo(const Item& item, com::VARIANT* value);

// FILETIME (UTC) as an OLE date (days since 1899-12-30).
com::DATE FileTimeToDate(const com::FILETIME& ft);

}  // namespace tagwell::server
