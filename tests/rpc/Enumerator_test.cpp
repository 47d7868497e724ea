// The string enumerator proxy reads ahead; whatever a client does with it,
// it must see what the server's own enumerator gives: the same names, counts
// and results, clones standing where their original stood.
#include <gtest/gtest.h>

#include <functional>
#include <sstream>

#include "platform/com/Text.h"
#include "rpc/Client.h"
#include "rpc/ServerThread.h"
#include "server/AddressSpace.h"
#include "server/Simulation.h"
#include "tests/support/TestServer.h"

namespace tagwell::testing {
namespace {

using namespace com;

// 600 items at the root: more than two read-ahead batches.
std::shared_ptr<server::AddressSpace> ManyNames() {
  server::AddressSpaceDefinition definition;
  for (int i = 0; i < 600; ++i) {
    server::ItemDefinition item;
    item.name = "Item" + std::to_string(i);
    item.initialValue->vt = VT_I4;
    definition.root.items.push_back(std::move(item));
  }
  std::string error;
  auto space = server::AddressSpace::Create(std::move(definition),
                                            std::make_shared<ManualClock>(TestEpoch()), {}, &error);
  EXPECT_TRUE(space) << error;
  return space;
}

// Runs a fixed script of Next, Skip, Reset and Clone calls on the flat
// listing of server and writes down every result.
std::string Transcript(IOPCServer* server) {
  ComPtr<IOPCBrowseServerAddressSpace> browse;
  EXPECT_EQ(server->QueryInterface(IID_IOPCBrowseServerAddressSpace, browse.ReceiveVoid()), S_OK);
  ComPtr<IEnumString> names;
  EXPECT_EQ(browse->BrowseOPCItemIDs(OPC_FLAT, u"", VT_EMPTY, 0, names.Receive()), S_OK);
  std::ostringstream out;
  auto next = [&](IEnumString* e, ULONG celt) {
    std::vector<LPOLESTR> texts(celt, nullptr);
    ULONG fetched = 99;
    HRESULT hr = e->Next(celt, texts.data(), &fetched);
    out << "Next(" << celt << ")=" << hr << "/" << fetched << ":";
    for (ULONG i = 0; i < fetched && i < celt; ++i) {
      out << Utf16ToUtf8(WideView(texts[i])) << ",";
      CoTaskMemFree(texts[i]);
    }
    out << "\n";
  };
  auto skip = [&](IEnumString* e, ULONG celt) { out << "Skip=" << e->Skip(celt) << "\n"; };
  ComPtr<IEnumString> clone;
  next(names.Get(), 1);
  next(names.Get(), 3);
  EXPECT_EQ(names->Clone(clone.Receive()), S_OK);
  skip(names.Get(), 2);
  next(names.Get(), 1);
  next(clone.Get(), 2);
  skip(names.Get(), 300);  // past the buffer, into the server's part
  next(names.Get(), 2);
  skip(clone.Get(), 590);
  next(clone.Get(), 10);  // the last names, fewer than asked
  next(clone.Get(), 1);
  out << "Reset=" << names->Reset() << "\n";
  next(names.Get(), 2);
  skip(names.Get(), 1000);
  next(names.Get(), 1);
  LPOLESTR text = nullptr;
  out << "NextWithoutCount=" << names->Next(2, &text, nullptr) << "\n";
  return out.str();
}

TEST(EnumeratorProxy, AnyUseGivesWhatTheServersEnumeratorGives) {
  auto space = ManyNames();
  ComPtr<IOPCServer> local;
  ASSERT_EQ(server::CreateSimulationServer(space, IID_IOPCServer, local.ReceiveVoid()), S_OK);
  std::string expected = Transcript(local.Get());

  rpc::ServerThread thread([&](const CLSID&, IUnknown** object) {
    return server::CreateSimulationServer(space, IID_IUnknown, reinterpret_cast<void**>(object));
  });
  ComPtr<IOPCServer> remote;
  ASSERT_EQ(rpc::CreateObjectOverSocket(thread.ConnectPair(), server::CLSID_TagwellSimulation,
                                        IID_IOPCServer, remote.ReceiveVoid()),
            S_OK);
  EXPECT_EQ(Transcript(remote.Get()), expected);
}

}  // namespace
}  // namespace tagwell::testing
