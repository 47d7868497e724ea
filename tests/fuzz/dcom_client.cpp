// The DCOM client's decoding of a hostile server's answers: the first byte
// picks what the client asks (the activation answer, or one call of one
// OPC proxy), the rest is the answer's stub data as the transport hands it
// over. Whatever comes back, the client hands out nothing half-decoded and
// leaks nothing (the task allocator's blocks are counted).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "dcom/ClientActivation.h"
#include "dcom/ClientObject.h"
#include "platform/com/Memory.h"
#include "platform/opcda/OpcDa.h"

namespace {

using namespace com;
using namespace tagwell::dcom;

std::vector<std::uint8_t> answer;

// An object of the hostile exporter with every OPC interface asked for.
template <class T>
T* Interface(const std::shared_ptr<ClientSession>& session, const IID& iid) {
  StdObjref std;
  std.oxid = 7;
  std.oid = 8;
  std.ipid = {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
  auto object = RemoteObject::FromStd(session, std, iid);
  void* p = nullptr;
  if (!object || FAILED(object->QueryInterface(iid, &p))) return nullptr;
  return static_cast<T*>(p);
}

void FreeStates(OPCITEMSTATE* states, HRESULT* errors) {
  if (states) {
    VariantClear(&states[0].vDataValue);
    VariantClear(&states[1].vDataValue);
  }
  CoTaskMemFree(states);
  CoTaskMemFree(errors);
}

void Exercise(std::uint8_t which, const std::shared_ptr<ClientSession>& session) {
  OPCHANDLE handles[2] = {1, 2};
  HRESULT* errors = nullptr;
  switch (which % 7) {
    case 0: {
      auto* server = Interface<IOPCServer>(session, IID_IOPCServer);
      OPCSERVERSTATUS* status = nullptr;
      if (server && SUCCEEDED(server->GetStatus(&status)) && status) {
        CoTaskMemFree(status->szVendorInfo);
        CoTaskMemFree(status);
      }
      LPWSTR text = nullptr;
      if (server && SUCCEEDED(server->GetErrorString(1, 0, &text))) CoTaskMemFree(text);
      if (server) server->Release();
      break;
    }
    case 1: {
      auto* server = Interface<IOPCServer>(session, IID_IOPCServer);
      OPCHANDLE group = 0;
      DWORD rate = 0;
      IUnknown* unknown = nullptr;
      if (server &&
          SUCCEEDED(server->AddGroup(u"G", 0, 100, 0, nullptr, nullptr, 0, &group, &rate,
                                     IID_IOPCItemMgt, &unknown)) &&
          unknown)
        unknown->Release();
      if (server) server->Release();
      break;
    }
    case 2: {
      auto* io = Interface<IOPCSyncIO>(session, IID_IOPCSyncIO);
      OPCITEMSTATE* states = nullptr;
      if (io && SUCCEEDED(io->Read(OPC_DS_DEVICE, 2, handles, &states, &errors)))
        FreeStates(states, errors);
      if (io) io->Release();
      break;
    }
    case 3: {
      auto* items = Interface<IOPCItemMgt>(session, IID_IOPCItemMgt);
      OPCITEMDEF defs[2] = {
          {const_cast<WCHAR*>(u""), const_cast<WCHAR*>(u"A"), 1, 1, 0, nullptr, VT_EMPTY, 0},
          {const_cast<WCHAR*>(u""), const_cast<WCHAR*>(u"B"), 1, 2, 0, nullptr, VT_EMPTY, 0}};
      OPCITEMRESULT* results = nullptr;
      if (items && SUCCEEDED(items->AddItems(2, defs, &results, &errors))) {
        for (int i = 0; results && i < 2; ++i) CoTaskMemFree(results[i].pBlob);
        CoTaskMemFree(results);
        CoTaskMemFree(errors);
      }
      if (items) items->Release();
      break;
    }
    case 4: {
      auto* names = Interface<IEnumString>(session, IID_IEnumString);
      LPOLESTR texts[4] = {};
      ULONG fetched = 0;
      if (names && SUCCEEDED(names->Next(4, texts, &fetched)))
        for (ULONG i = 0; i < fetched && i < 4; ++i) CoTaskMemFree(texts[i]);
      if (names) names->Release();
      break;
    }
    case 5: {
      auto* records = Interface<IEnumOPCItemAttributes>(session, IID_IEnumOPCItemAttributes);
      OPCITEMATTRIBUTES* array = nullptr;
      ULONG fetched = 0;
      if (records && SUCCEEDED(records->Next(3, &array, &fetched))) {
        for (ULONG i = 0; array && i < fetched; ++i) {
          CoTaskMemFree(array[i].szAccessPath);
          CoTaskMemFree(array[i].szItemID);
          CoTaskMemFree(array[i].pBlob);
          VariantClear(&array[i].vEUInfo);
        }
        CoTaskMemFree(array);
      }
      if (records) records->Release();
      break;
    }
    default: {
      ActivationReply reply;
      DecodeActivationAnswer(answer, &reply);
      break;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  answer.assign(data + 1, data + size);
  // Every call (and RemQueryInterface, RemRelease) gets the same bytes.
  auto session = ClientSession::Scripted(
      [](const IID&, std::uint16_t) {
        CallResult result;
        result.ok = true;
        result.stub = answer;
        return result;
      },
      7);
  Exercise(data[0], session);
  return 0;
}
