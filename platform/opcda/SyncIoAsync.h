// IOPCSyncIO's calls completed through a callback instead of on return: a
// Tagwell interface (not OPC's) that an in-process server object offers
// beside IOPCSyncIO, so that the transport serving it never waits for a
// device while other clients' calls are due.
#pragma once

#include <functional>

#include "platform/opcda/OpcDa.h"

namespace com {

// {5A3C1E70-94B2-4E1D-8C6F-2B7D0E9A4C31}
inline constexpr IID IID_ISyncIOAsync = {
    0x5A3C1E70, 0x94B2, 0x4E1D, {0x8C, 0x6F, 0x2B, 0x7D, 0x0E, 0x9A, 0x4C, 0x31}};

class ISyncIOAsync : public IUnknown {
 public:
  // What IOPCSyncIO::Read would return and hand out; the callee owns states
  // and errors (task allocator) once called.
  using ReadDone = std::function<void(HRESULT hr, OPCITEMSTATE* states, HRESULT* errors)>;
  using WriteDone = std::function<void(HRESULT hr, HRESULT* errors)>;

  // As IOPCSyncIO::Read and Write; done is called exactly once, before the
  // call returns or later from another thread (a device's). The arguments
  // are used before the call returns. done needs nothing of the object:
  // the caller may release it before done is called.
  virtual void BeginRead(OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE* phServer,
                         ReadDone done) = 0;
  virtual void BeginWrite(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues,
                          WriteDone done) = 0;
};

}  // namespace com
