// A COM object for transport tests: IOPCSyncIO whose Read gives back exactly
// the VARIANTs that Write stored, so every value's trip through the wire can
// be checked both ways. It counts its live instances and can hold a call.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>

#include "platform/opcda/OpcDa.h"
#include "rpc/ObjectServer.h"
#include "tests/rpc/RpcTestSupport.h"

namespace tagwell::testing {

// Shared by the test and every EchoObject it serves. Thread-safe.
class EchoControl final {
 public:
  std::atomic<int> live{0};
  std::atomic<int> writes{0};

  // Reads block until ReleaseHold() (or 30 s, so a broken test cannot hang).
  void HoldReads();
  void ReleaseHold();
  void WaitWhileHeld();

 private:
  std::mutex mutex_;
  std::condition_variable wake_;
  bool hold_ = false;
};

class EchoObject final : public com::IOPCSyncIO {
 public:
  explicit EchoObject(std::shared_ptr<EchoControl> control);

  com::HRESULT QueryInterface(com::REFIID riid, void** ppv) override;
  com::ULONG AddRef() override { return refs_.Increment(); }
  com::ULONG Release() override;
  // Unknown handles get OPC_E_INVALIDHANDLE (and S_FALSE); a known one its
  // value with quality GOOD and the time stamp {handle, 0x01CB0000}.
  com::HRESULT Read(com::OPCDATASOURCE source, com::DWORD count, com::OPCHANDLE* handles,
                    com::OPCITEMSTATE** states, com::HRESULT** errors) override;
  com::HRESULT Write(com::DWORD count, com::OPCHANDLE* handles, com::VARIANT* values,
                     com::HRESULT** errors) override;

 private:
  ~EchoObject();

  std::shared_ptr<EchoControl> control_;
  com::RefCount refs_;
  std::map<com::OPCHANDLE, com::Variant> values_;
};

// {5C1A7E90-2B3D-4F6A-8E1B-0D9C8B7A6F54}
inline constexpr com::CLSID CLSID_Echo = {
    0x5C1A7E90, 0x2B3D, 0x4F6A, {0x8E, 0x1B, 0x0D, 0x9C, 0x8B, 0x7A, 0x6F, 0x54}};

// A factory serving CLSID_Echo (REGDB_E_CLASSNOTREG for other classes).
rpc::ObjectFactory EchoFactory(std::shared_ptr<EchoControl> control);

}  // namespace tagwell::testing
