// COM start-up, the connection to one server (local or remote) and its
// tear-down, and the small helpers every server call of the client uses.
#pragma once

#include <string>
#include <string_view>

#include "opc/ClientState.h"

namespace tagwell {

// CoInitialize, CoInitializeSecurity, CoGetMalloc into ptrIMalloc. 0 when COM
// is ready, 1 after a failure (reported with a box, then a log line). Security
// already set by an earlier call in this process (RPC_E_TOO_LATE) is no
// failure.
int LocalInit(Client& client);
// The server's IOPCServer (an owned reference), or null after a reported
// failure. name is a ProgID or a CLSID in braces.
com::IOPCServer* InstantiateServer(Client& client, const com::WCHAR* name);
// The IUnknown of the object created (owned), or null after a reported
// failure. An empty (or null) computer name creates the server on this
// machine through its local server.
com::IUnknown* CreateRemoteOPCServer(Client& client, const com::WCHAR* serverName,
                                     const com::WCHAR* computerName);
// Adds "<name>-- Supported" or "<name>--  Not supported" to the server
// information list.
void ReportInterface(Client& client, const char* name, HRESULT hr);
// The connect sequences of the Connect command. On success connected is 1;
// after a failure they have shown their message and connected is 0.
// Interfaces still held from an earlier connection are released first.
void ConnectLocal(Client& client);
void ConnectRemote(Client& client);
// GetStatus into the server information list and the log. When GetStatus
// fails the list is only cleared: no vendor or start-time lines, no log block.
void ReadServerStatus(Client& client);
// Releases every interface still held (group, optional interfaces, server,
// remote object; each set to null) and frees the connection's wide names.
// Safe to call in any state; a second call does nothing.
void ReleaseServer(Client& client);
// Every interface of the connection (each set to null), in the order they
// are given up: the group first, the server object last.
void ReleaseInterfaces(ClientState& s);
// The server object's interfaces, in the order of the interface report,
// with their results. The reference the creation handed out is replaced by
// the one queried here, so the server is held once.
void QueryServerInterfaces(Client& client, com::IUnknown* object);
// CoFreeUnusedLibraries, release of ptrIMalloc, CoUninitialize.
void UninitCom(Client& client);

// --- Helpers for the server calls of the operations -------------------------

// A message box with the warning icon; owner None unless given.
void ShowWarning(Client& client, std::string_view text, std::string_view caption,
                 ui::Owner owner = ui::Owner::None);

// Frees a block a server handed out, with ptrIMalloc (or the task allocator
// directly while COM is down). Null is fine.
void FreeServerMemory(Client& client, void* block);

// QueryInterface into a typed pointer: *out is the owned interface on
// success and null otherwise. A success without a pointer gives E_POINTER.
template <class T>
HRESULT QueryInterfaceInto(com::IUnknown* object, com::REFIID iid, T** out) {
  void* p = nullptr;
  HRESULT hr = object ? object->QueryInterface(iid, &p) : com::E_POINTER;
  if (com::SUCCEEDED(hr) && !p) hr = com::E_POINTER;
  *out = com::SUCCEEDED(hr) ? static_cast<T*>(p) : nullptr;
  return hr;
}

// An interface handed out as IUnknown* (MULTI_QI entries, AddGroup,
// CreateEnumerator) holds the pointer of the interface that was asked for.
template <class T>
T* InterfaceFrom(com::IUnknown* p) {
  return static_cast<T*>(static_cast<void*>(p));
}

template <class T>
void ReleaseInterface(T*& p) {
  if (p) {
    T* q = p;
    p = nullptr;
    q->Release();
  }
}

// True for the results of a call whose server is gone or does not answer.
bool ServerLost(HRESULT hr);

// The server's text for an error code (IOPCServer::GetErrorString), or the
// code as "0x%08X" when the server has none. One line, without trailing
// blanks.
std::string ServerErrorText(Client& client, HRESULT code);

}  // namespace tagwell
