// tagwell_rpc_peer: a second client process for the process tests.
//   tagwell_rpc_peer REGISTRY_FOLDER read ITEM          prints the value as text
//   tagwell_rpc_peer REGISTRY_FOLDER write ITEM VALUE   writes the text VALUE
// It activates "Tagwell.Simulation.1" from the registration in
// REGISTRY_FOLDER. Exit status 0, or 1 with the failing HRESULT on stderr.
#include <cstdio>
#include <string>

#include "platform/com/Com.h"
#include "platform/registry/Registry.h"
#include "rpc/Activation.h"
#include "tests/rpc/peer/OpcSession.h"

namespace {

int Fail(const char* what, com::HRESULT hr) {
  std::fprintf(stderr, "tagwell_rpc_peer: %s failed: 0x%08X\n", what, static_cast<unsigned>(hr));
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: tagwell_rpc_peer FOLDER read ITEM | write ITEM VALUE\n");
    return 2;
  }
  tagwell::registry::SetInstalledServerFolders({argv[1]});
  tagwell::rpc::ScopedServerActivator activation;
  std::string command = argv[2];
  tagwell::testing::OpcSession session;
  com::HRESULT hr = session.Connect(u"Tagwell.Simulation.1");
  if (com::FAILED(hr)) return Fail("connect", hr);
  com::OPCHANDLE handle = 0;
  hr = session.AddItem(com::Utf8ToUtf16(argv[3]), &handle);
  if (hr != com::S_OK) return Fail("AddItem", hr);
  if (command == "write" && argc == 5) {
    com::Variant text;
    text->vt = com::VT_BSTR;
    text->bstrVal = com::SysAllocStringUtf8(argv[4]);
    hr = session.Write(handle, *text.get());
    return com::FAILED(hr) ? Fail("Write", hr) : 0;
  }
  if (command != "read") return Fail("command", com::E_INVALIDARG);
  com::Variant value;
  hr = session.Read(handle, &value);
  if (com::FAILED(hr)) return Fail("Read", hr);
  com::Variant text;
  hr = com::VariantChangeType(text.get(), value.get(), 0, com::VT_BSTR);
  if (com::FAILED(hr)) return Fail("VariantChangeType", hr);
  std::printf("%s\n", com::Utf16ToUtf8(com::BstrView(text->bstrVal)).c_str());
  return 0;
}
