// COM start-up, the connection to one server (local or remote) and its
// tear-down.
#pragma once

#include "opc/ClientState.h"

namespace tagwell {

// CoInitialize, CoInitializeSecurity, CoGetMalloc into ptrIMalloc. 0 when COM
// is ready, 1 after a failure (reported with a box and a log line).
int LocalInit(Client& client);
// The server's IOPCServer (an owned reference), or null after a reported failure.
com::IOPCServer* InstantiateServer(Client& client, const com::WCHAR* name);
// The IUnknown of the object created (owned), or null after a reported failure.
com::IUnknown* CreateRemoteOPCServer(Client& client, const com::WCHAR* serverName,
                                     const com::WCHAR* computerName);
// Adds "<name>-- Supported" or "<name>--  Not supported" to the server information list.
void ReportInterface(Client& client, const char* name, HRESULT hr);
// The connect sequences of the Connect command.
void ConnectLocal(Client& client);
void ConnectRemote(Client& client);
// GetStatus into the server information list and the log.
void ReadServerStatus(Client& client);
// Releases the group, the server and the remote object and frees the
// connection's names (when connected is 1).
void ReleaseServer(Client& client);
// CoFreeUnusedLibraries, release of ptrIMalloc, CoUninitialize.
void UninitCom(Client& client);

}  // namespace tagwell
