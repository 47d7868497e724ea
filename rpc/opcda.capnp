# The OPC DA 2.0 custom interfaces on Cap'n Proto RPC: what travels between
# a Tagwell client and an OPC server process, locally or over TCP.
#
# Every COM object that crosses the wire (the server object, a group, an
# enumerator) is one ComObject capability together with the IIDs of the
# interfaces the real object answers to, so a proxy's QueryInterface answers
# exactly what the object answers. Releasing the last proxy drops the
# capability; a dropped connection drops every capability it carried.
#
# Results are HRESULTs in `hr`, unchanged; Cap'n Proto exceptions mean
# transport faults only. Out-arrays are present exactly when the server
# handed them out (non-null), and then hold as many entries as the request
# had items. BOOL parameters travel as Int32 so their value is kept.

@0xa201bd787396c487;

using Cxx = import "/capnp/c++.capnp";
$Cxx.namespace("tagwell::rpc::wire");

using WString = Data;
# A wide string: its UTF-16 code units, little-endian, without the
# terminating zero. An absent field is a null pointer.

struct OptionalText {
  # An entry of a list of wide strings that may hold null pointers.
  text @0 :WString;
}

using FileTime = UInt64;
# (dwHighDateTime << 32) | dwLowDateTime: 100-ns ticks since 1601, UTC.

struct Guid {
  data1 @0 :UInt32;
  data2 @1 :UInt16;
  data3 @2 :UInt16;
  data4 @3 :UInt64;
  # Data4[0] in the most significant byte.
}

struct SafeArray {
  # A one-dimensional SAFEARRAY of a numeric element type or of VT_BSTR.
  elementType @0 :UInt16;
  lowerBound @1 :Int32;
  elementSize @2 :UInt32;
  data @3 :Data;
  # Numeric elements as laid out in memory (little-endian), elementSize each.
  strings @4 :List(OptionalText);
  # VT_BSTR elements (absent text: a null BSTR).
}

struct Variant {
  vt @0 :UInt16;
  # The VARTYPE as is; the union carries the member that vt selects.
  value :union {
    none @1 :Void;        # VT_EMPTY, VT_NULL
    signed @2 :Int64;     # VT_I1, VT_I2, VT_I4, VT_I8, VT_INT, VT_BOOL, VT_ERROR, VT_CY
    unsigned @3 :UInt64;  # VT_UI1, VT_UI2, VT_UI4, VT_UI8, VT_UINT
    real4 @4 :Float32;    # VT_R4
    real8 @5 :Float64;    # VT_R8, VT_DATE
    bstr @6 :WString;     # VT_BSTR; absent: a null BSTR
    array @7 :SafeArray;  # VT_ARRAY | element type
  }
}

struct Object {
  # A COM object handed out by the server.
  cap @0 :ComObject;
  interfaces @1 :List(Guid);
  # IIDs the object answers to besides IUnknown.
}

struct ServerStatus {
  startTime @0 :FileTime;
  currentTime @1 :FileTime;
  lastUpdateTime @2 :FileTime;
  serverState @3 :UInt32;
  groupCount @4 :UInt32;
  bandWidth @5 :UInt32;
  majorVersion @6 :UInt16;
  minorVersion @7 :UInt16;
  buildNumber @8 :UInt16;
  reserved @9 :UInt16;
  vendorInfo @10 :WString;
}

struct ItemDef {
  accessPath @0 :WString;
  itemId @1 :WString;
  active @2 :Int32;
  clientHandle @3 :UInt32;
  blob @4 :Data;
  requestedDataType @5 :UInt16;
  reserved @6 :UInt16;
}

struct ItemResult {
  serverHandle @0 :UInt32;
  canonicalDataType @1 :UInt16;
  reserved @2 :UInt16;
  accessRights @3 :UInt32;
  blob @4 :Data;
}

struct ItemState {
  clientHandle @0 :UInt32;
  timeStamp @1 :FileTime;
  quality @2 :UInt16;
  reserved @3 :UInt16;
  value @4 :Variant;
}

struct ItemAttributes {
  accessPath @0 :WString;
  itemId @1 :WString;
  active @2 :Int32;
  clientHandle @3 :UInt32;
  serverHandle @4 :UInt32;
  accessRights @5 :UInt32;
  blob @6 :Data;
  requestedDataType @7 :UInt16;
  canonicalDataType @8 :UInt16;
  euType @9 :UInt32;
  euInfo @10 :Variant;
}

# --- One Cap'n Proto interface per COM interface ---------------------------
# Method names are unique over all of them, because ComObject inherits them
# all.

interface OpcServer {
  addGroup @0 (name :WString, active :Int32, requestedUpdateRate :UInt32,
               clientGroup :UInt32, timeBias :Int32, hasTimeBias :Bool,
               percentDeadband :Float32, hasPercentDeadband :Bool, lcid :UInt32,
               iid :Guid)
      -> (hr :Int32, serverGroup :UInt32, revisedUpdateRate :UInt32, group :Object);
  getErrorString @1 (error :Int32, locale :UInt32) -> (hr :Int32, text :WString);
  getGroupByName @2 (name :WString, iid :Guid) -> (hr :Int32, group :Object);
  getStatus @3 () -> (hr :Int32, status :ServerStatus);
  removeGroup @4 (serverGroup :UInt32, force :Int32) -> (hr :Int32);
  createGroupEnumerator @5 (scope :UInt32, iid :Guid) -> (hr :Int32, enumerator :Object);
}

interface OpcServerPublicGroups {
  getPublicGroupByName @0 (name :WString, iid :Guid) -> (hr :Int32, group :Object);
  removePublicGroup @1 (serverGroup :UInt32, force :Int32) -> (hr :Int32);
}

interface OpcBrowseServerAddressSpace {
  queryOrganization @0 () -> (hr :Int32, nameSpaceType :UInt32);
  changeBrowsePosition @1 (direction :UInt32, name :WString) -> (hr :Int32);
  browseOpcItemIds @2 (filterType :UInt32, filterCriteria :WString, dataTypeFilter :UInt16,
                       accessRightsFilter :UInt32)
      -> (hr :Int32, enumerator :Object);
  getItemId @3 (itemDataId :WString) -> (hr :Int32, itemId :WString);
  browseAccessPaths @4 (itemId :WString) -> (hr :Int32, enumerator :Object);
  describeBranches @5 (names :List(WString), leafLimit :UInt32)
      -> (hr :Int32, branches :List(BranchContents));
  # Tagwell's own (ITagwellBrowseBranches): for each name, the calls the
  # address-space walk makes, made by the server in the walk's order.
}

struct BranchContents {
  enter @0 :Int32;
  list @1 :Int32;
  leaves @2 :UInt32;
  itemIds @3 :List(WString);
  up @4 :Int32;
}

interface OpcItemProperties {
  queryAvailableProperties @0 (itemId :WString)
      -> (hr :Int32, count :UInt32, propertyIds :List(UInt32),
          descriptions :List(OptionalText), dataTypes :List(UInt16));
  getItemProperties @1 (itemId :WString, propertyIds :List(UInt32))
      -> (hr :Int32, values :List(Variant), errors :List(Int32));
  lookupItemIds @2 (itemId :WString, propertyIds :List(UInt32))
      -> (hr :Int32, newItemIds :List(OptionalText), errors :List(Int32));
}

interface PersistFile {
  getClassId @0 () -> (hr :Int32, clsid :Guid);
  isDirty @1 () -> (hr :Int32);
  load @2 (fileName :WString, mode :UInt32) -> (hr :Int32);
  save @3 (fileName :WString, remember :Int32) -> (hr :Int32);
  saveCompleted @4 (fileName :WString) -> (hr :Int32);
  getCurFile @5 () -> (hr :Int32, fileName :WString);
}

# The enumerators. `wantFetched` false passes a null pceltFetched on. The
# string and IUnknown enumerators take at most 65536 entries per call (the
# proxies split larger requests).
interface EnumUnknown {
  unknownNext @0 (count :UInt32, wantFetched :Bool) -> (hr :Int32, items :List(Object));
  unknownSkip @1 (count :UInt32) -> (hr :Int32);
  unknownReset @2 () -> (hr :Int32);
  unknownClone @3 () -> (hr :Int32, enumerator :Object);
}

interface EnumString {
  stringNext @0 (count :UInt32, wantFetched :Bool) -> (hr :Int32, items :List(WString));
  stringSkip @1 (count :UInt32) -> (hr :Int32);
  stringReset @2 () -> (hr :Int32);
  stringClone @3 () -> (hr :Int32, enumerator :Object);
}

interface EnumItemAttributes {
  attributesNext @0 (count :UInt32) -> (hr :Int32, items :List(ItemAttributes));
  attributesSkip @1 (count :UInt32) -> (hr :Int32);
  attributesReset @2 () -> (hr :Int32);
  attributesClone @3 () -> (hr :Int32, enumerator :Object);
}

interface OpcItemMgt {
  addItems @0 (items :List(ItemDef))
      -> (hr :Int32, results :List(ItemResult), errors :List(Int32));
  validateItems @1 (items :List(ItemDef), blobUpdate :Int32)
      -> (hr :Int32, results :List(ItemResult), errors :List(Int32));
  removeItems @2 (serverHandles :List(UInt32)) -> (hr :Int32, errors :List(Int32));
  setActiveState @3 (serverHandles :List(UInt32), active :Int32)
      -> (hr :Int32, errors :List(Int32));
  setClientHandles @4 (serverHandles :List(UInt32), clientHandles :List(UInt32))
      -> (hr :Int32, errors :List(Int32));
  setDatatypes @5 (serverHandles :List(UInt32), requestedDataTypes :List(UInt16))
      -> (hr :Int32, errors :List(Int32));
  createEnumerator @6 (iid :Guid) -> (hr :Int32, enumerator :Object);
}

interface OpcSyncIo {
  read @0 (source :UInt32, serverHandles :List(UInt32))
      -> (hr :Int32, states :List(ItemState), errors :List(Int32));
  write @1 (serverHandles :List(UInt32), values :List(Variant))
      -> (hr :Int32, errors :List(Int32));
}

interface ComObject extends(OpcServer, OpcServerPublicGroups, OpcBrowseServerAddressSpace,
                            OpcItemProperties, PersistFile, EnumUnknown, EnumString,
                            EnumItemAttributes, OpcItemMgt, OpcSyncIo) {
  # Any COM object; `Object.interfaces` says which of the inherited
  # interfaces it implements. A call on an interface it lacks gives
  # E_NOINTERFACE.
}

interface Activator {
  # The bootstrap capability of every connection: COM activation.
  create @0 (clsid :Guid) -> (hr :Int32, object :Object);
  # A new instance of class clsid (REGDB_E_CLASSNOTREG when it is not
  # served here).
  sync @1 () -> ();
  # Answers once everything sent before it on the connection has been
  # handled: a client waits on it to make a release take effect at once.
}
