#include "opc/Connection.h"

#include <cstdio>

#include "opc/Items.h"
#include "opc/Log.h"
#include "opc/Reading.h"
#include "opc/TextHelpers.h"
#include "platform/com/Runtime.h"

namespace tagwell {
namespace {

constexpr const char* kNotSelected = "Connection error: server is not selected.";
constexpr const char* kLocalCaption = "Local Server connection";

void ShowNotSelected(Client& client) {
  ShowWarning(client, kNotSelected, kLocalCaption, ui::Owner::MainWindow);
  client.state.connected = 0;
}

void AddInfoLine(Client& client, std::string_view text) {
  if (client.ui.serverInfo) client.ui.serverInfo->AddString(text);
}

}  // namespace

void ReleaseInterfaces(ClientState& s) {
  ReleaseInterface(s.ptrIOPCItemMgt);
  ReleaseInterface(s.ptrIPersistFile);
  ReleaseInterface(s.ptrIEnumUnknown);
  ReleaseInterface(s.ptrIOPCServerPublicGroups);
  ReleaseInterface(s.ptrIOPCBrowseServerAddressSpace);
  ReleaseInterface(s.ptrIOPCItemProperties);
  ReleaseInterface(s.ptrIOPCServer);
  ReleaseInterface(s.ptrRemoteServer);
}

void QueryServerInterfaces(Client& client, com::IUnknown* object) {
  ClientState& s = client.state;
  com::IOPCServer* server = nullptr;
  s.hrIOPCServer = QueryInterfaceInto(object, com::IID_IOPCServer, &server);
  s.hrIPersistFile = QueryInterfaceInto(object, com::IID_IPersistFile, &s.ptrIPersistFile);
  s.hrIEnumUnknown = QueryInterfaceInto(object, com::IID_IEnumUnknown, &s.ptrIEnumUnknown);
  s.hrIOPCServerPublicGroups =
      QueryInterfaceInto(object, com::IID_IOPCServerPublicGroups, &s.ptrIOPCServerPublicGroups);
  s.hrIOPCBrowseServerAddressSpace = QueryInterfaceInto(
      object, com::IID_IOPCBrowseServerAddressSpace, &s.ptrIOPCBrowseServerAddressSpace);
  s.hrIOPCItemProperties =
      QueryInterfaceInto(object, com::IID_IOPCItemProperties, &s.ptrIOPCItemProperties);
  ReleaseInterface(s.ptrIOPCServer);
  s.ptrIOPCServer = server;
}

namespace {

void ReportInterfaces(Client& client) {
  const ClientState& s = client.state;
  AddInfoLine(client, "");
  AddInfoLine(client, "Interfaces implemented on OPC Server:");
  AddInfoLine(client, "");
  ReportInterface(client, "IUnknown       ", com::S_OK);
  ReportInterface(client, "IOPCServer     ", s.hrIOPCServer);
  ReportInterface(client, "IPersistFile   ", s.hrIPersistFile);
  ReportInterface(client, "IEnumUnknown   ", s.hrIEnumUnknown);
  ReportInterface(client, "IOPCServerPublicGroups ", s.hrIOPCServerPublicGroups);
  ReportInterface(client, "IOPCBrowseServerAddressSpace ", s.hrIOPCBrowseServerAddressSpace);
  ReportInterface(client, "IOPCItemProperties ", s.hrIOPCItemProperties);
}

// Steps shared by both connect sequences once the server object exists.
void FinishConnect(Client& client, com::IUnknown* object) {
  ClientState& s = client.state;
  QueryServerInterfaces(client, object);
  ReadServerStatus(client);
  if (client.browseAddressSpace) client.browseAddressSpace(client);
  AddGroup(client, s.ptrIOPCServer, &s.ptrIOPCItemMgt, &s.hServerGroup);
  ReportInterfaces(client);
  s.connected = 1;
  s.serverLost = 0;
  s.lastConnect.remote = s.remoteMode;
  s.lastConnect.server = com::WideView(s.remoteMode ? s.wszRemoteServerName : s.wszServerName);
  s.lastConnect.computer = s.remoteMode ? com::WideView(s.wszComputerName) : std::u16string_view();
}

void FreeStatus(Client& client, com::OPCSERVERSTATUS* status) {
  if (!status) return;
  FreeServerMemory(client, status->szVendorInfo);
  FreeServerMemory(client, status);
}

std::string OneLine(std::string text) {
  for (char& c : text)
    if (c == '\r' || c == '\n' || c == '\t') c = ' ';
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

}  // namespace

void ShowWarning(Client& client, std::string_view text, std::string_view caption, ui::Owner owner) {
  if (client.ui.messageBox) client.ui.messageBox->Show(text, caption, ui::Icon::Warning, owner);
}

void FreeServerMemory(Client& client, void* block) {
  if (!block) return;
  if (client.state.ptrIMalloc)
    client.state.ptrIMalloc->Free(block);
  else
    com::CoTaskMemFree(block);
}

bool ServerLost(HRESULT hr) {
  return hr == com::RPC_E_DISCONNECTED || hr == com::RPC_E_TIMEOUT ||
         hr == com::RPC_S_SERVER_UNAVAILABLE;
}

std::string ServerErrorText(Client& client, HRESULT code) {
  std::string text;
  com::LPWSTR wide = nullptr;
  com::IOPCServer* server = client.state.ptrIOPCServer;
  if (server && com::SUCCEEDED(server->GetErrorString(code, 0, &wide)) && wide)
    text = OneLine(WideText(wide));
  FreeServerMemory(client, wide);
  if (text.empty()) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(code));
    text = hex;
  }
  return text;
}

int LocalInit(Client& client) {
  constexpr const char* kCaption = "LocalInit function";
  if (com::FAILED(com::CoInitialize(nullptr))) {
    ShowWarning(client, "Error initializing COM (CoInitialize).", kCaption);
    LogCoInitializeError(client);
    return 1;
  }
  HRESULT hr =
      com::CoInitializeSecurity(nullptr, -1, nullptr, nullptr, com::RPC_C_AUTHN_LEVEL_NONE,
                                com::RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, com::EOAC_NONE, nullptr);
  // Security is set once per process; a later start-up finds it in place.
  if (com::FAILED(hr) && hr != com::RPC_E_TOO_LATE) {
    ShowWarning(
        client,
        "COM Security or DCOM error (CoInitializeSecurity):\nmay be wrong name of OPC server.",
        kCaption);
    LogCoInitializeSecurityError(client);
    return 1;
  }
  com::IMalloc* allocator = nullptr;
  if (com::FAILED(com::CoGetMalloc(com::MEMCTX_TASK, &allocator)) || !allocator) {
    ShowWarning(client, "Error of memory allocation (CoGetMalloc).", kCaption);
    LogCoGetMallocError(client);
    com::CoUninitialize();
    return 1;
  }
  // A start-up without a shut-down in between keeps one reference.
  ReleaseInterface(client.state.ptrIMalloc);
  client.state.ptrIMalloc = allocator;
  return 0;
}

com::IOPCServer* InstantiateServer(Client& client, const com::WCHAR* name) {
  constexpr const char* kCaption = "InstantiateServer function";
  com::CLSID clsid{};
  if (com::FAILED(com::CLSIDFromString(name, &clsid))) {
    ShowWarning(client,
                "Error to get object's CLSID (CLSIDFromString):\nmay be wrong name of Local OPC "
                "server.",
                kCaption);
    return nullptr;
  }
  com::MULTI_QI queue{&com::IID_IOPCServer, nullptr, com::S_OK};
  HRESULT hr = com::CoCreateInstanceEx(clsid, nullptr, com::CLSCTX_SERVER, nullptr, 1, &queue);
  if (com::FAILED(hr)) {
    ReleaseInterface(queue.pItf);
    ShowWarning(client,
                "Error of object creation (CoCreateIntstanceEx):\nwrong name of OPC server or "
                "server is not started.",
                kCaption);
    return nullptr;
  }
  return InterfaceFrom<com::IOPCServer>(queue.pItf);
}

com::IUnknown* CreateRemoteOPCServer(Client& client, const com::WCHAR* serverName,
                                     const com::WCHAR* computerName) {
  constexpr const char* kCaption = "CreateRemoteOPCServer function";
  com::CLSID clsid{};
  if (com::FAILED(com::CLSIDFromString(serverName, &clsid))) {
    ShowWarning(client,
                "Error to get object's CLSID (CLSIDFromString):\nmay be wrong name of Remote OPC "
                "server.",
                kCaption);
    return nullptr;
  }
  // Without a computer name the server is created on this machine.
  const bool named = computerName && computerName[0] != 0;
  com::COSERVERINFO serverInfo{0, const_cast<com::WCHAR*>(computerName), nullptr, 0};
  com::MULTI_QI multipleQueryInterface{&com::IID_IUnknown, nullptr, com::S_OK};
  HRESULT hr = com::CoCreateInstanceEx(clsid, nullptr,
                                       named ? com::CLSCTX_REMOTE_SERVER : com::CLSCTX_LOCAL_SERVER,
                                       named ? &serverInfo : nullptr, 1, &multipleQueryInterface);
  if (com::FAILED(hr) || com::FAILED(multipleQueryInterface.hr) || !multipleQueryInterface.pItf) {
    ReleaseInterface(multipleQueryInterface.pItf);
    ShowWarning(client,
                "Error of object creation (CoCreateInstance):\nmay be wrong name of OPC server or "
                "server is not started.",
                kCaption);
    return nullptr;
  }
  return multipleQueryInterface.pItf;
}

void ReportInterface(Client& client, const char* name, HRESULT hr) {
  FixedText<256> line;
  if (com::SUCCEEDED(hr))
    line.Format("%s-- Supported", name);
  else
    line.Format("%s--  Not supported", name);
  AddInfoLine(client, line.view());
}

void ConnectLocal(Client& client) {
  ClientState& s = client.state;
  ui::ListBox* servers = client.ui.localServers;
  std::string selected;
  int row = servers ? servers->GetCurSel() : ui::LB_ERR;
  if (row < 0 || servers->GetText(row, &selected) < 0) {
    ShowNotSelected(client);
    return;
  }
  s.szServerName = selected;
  const std::string serverName = s.szServerName.str();
  ReleaseInterfaces(s);
  LocalInit(client);
  FreeWide(s.wszServerName);
  s.wszServerName = AnsiToWide(s.szServerName.c_str());
  s.ptrIOPCServer = InstantiateServer(client, s.wszServerName);
  if (!s.ptrIOPCServer) {
    servers->ResetContent();
    ShowNotSelected(client);
    return;
  }
  servers->ResetContent();
  servers->AddString(serverName);
  FinishConnect(client, s.ptrIOPCServer);
}

void ConnectRemote(Client& client) {
  ClientState& s = client.state;
  ReleaseInterfaces(s);
  // COM is started when the computer name is committed; a connect with only
  // the server name committed starts it here.
  if (!s.ptrIMalloc) LocalInit(client);
  const com::WCHAR* serverName = s.wszRemoteServerName ? s.wszRemoteServerName : u"";
  s.ptrRemoteServer = CreateRemoteOPCServer(client, serverName, s.wszComputerName);
  if (!s.ptrRemoteServer) {
    ShowWarning(client,
                "Error: couldn't connect to remote OPC server.\nWrong name of Remote computer or "
                "server.",
                "Remote Server connection", ui::Owner::MainWindow);
    // Why, when the activation knows: last, on top of the boxes above.
    ReportRefusals(client);
    s.connected = 0;
    return;
  }
  ReportRefusals(client);
  if (client.ui.localServers)
    client.ui.localServers->AddString("OPC server is started on Remote computer");
  FinishConnect(client, s.ptrRemoteServer);
}

void ReadServerStatus(Client& client) {
  ClientState& s = client.state;
  com::OPCSERVERSTATUS* status = nullptr;
  HRESULT hr = s.ptrIOPCServer ? s.ptrIOPCServer->GetStatus(&status) : com::E_POINTER;
  if (client.ui.serverInfo) client.ui.serverInfo->ResetContent();
  if (com::FAILED(hr) || !status) {
    FreeStatus(client, status);
    return;
  }
  s.ptrServerStatus = status;
  const std::string vendor = WideText(status->szVendorInfo);
  const com::FILETIME startTime = status->ftStartTime;
  FreeStatus(client, status);
  s.ptrServerStatus = nullptr;

  s.szVendorText.Format("   %s", vendor.c_str());
  AddInfoLine(client, "Vendor information = ");
  AddInfoLine(client, s.szVendorText.view());
  const com::SYSTEMTIME st = LocalSystemTime(startTime);
  s.szTimeText.Format("Server start time: %d:%d:%d, %d.%d.%d", st.wHour, st.wMinute, st.wSecond,
                      st.wDay, st.wMonth, st.wYear);
  AddInfoLine(client, s.szTimeText.view());
  LogConnectBlock(client, vendor,
                  s.remoteMode ? s.szRemoteServerName.view() : s.szServerName.view(), st);
}

void ReleaseServer(Client& client) {
  ClientState& s = client.state;
  ReleaseInterfaces(s);
  for (com::WCHAR** name :
       {&s.wszComputerName, &s.wszRemoteServerName, &s.wszServerName, &s.wszItemName}) {
    FreeWide(*name);
    *name = nullptr;
  }
}

void UninitCom(Client& client) {
  com::CoFreeUnusedLibraries();
  ReleaseInterface(client.state.ptrIMalloc);
  com::CoUninitialize();
}

}  // namespace tagwell
