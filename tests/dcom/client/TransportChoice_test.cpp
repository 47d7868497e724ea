// The computer box's form alone chooses the transport: each form reaches
// exactly one activator, with the host as that activator takes it, and a
// failure there is final (no second protocol is tried).
#include "dcom/TransportChoice.h"

#include <gtest/gtest.h>

#include "dcom/ClientActivation.h"
#include "platform/com/Text.h"

namespace tagwell::dcom {
namespace {

using namespace com;

class Recording final : public ServerActivator {
 public:
  HRESULT Activate(REFCLSID, const std::u16string& host, DWORD, MULTI_QI*) override {
    hosts.push_back(Utf16ToUtf8(host));
    return E_ACCESSDENIED;
  }
  HRESULT ClassOnComputer(const std::u16string& host, const std::u16string&, CLSID*) override {
    hosts.push_back("class " + Utf16ToUtf8(host));
    return S_OK;
  }
  std::vector<std::string> hosts;
};

TEST(TransportChoice, FormChoosesOneTransport) {
  Recording tagwell, dcom;
  ScopedTransportChoice choice(tagwell, dcom);
  struct Case {
    const char16_t* host;
    const char* tagwellGets;  // "" when it must not be called
    const char* dcomGets;
  } cases[] = {
      {u"", "", nullptr},
      {u"plc01", nullptr, "plc01"},
      {u"\\\\plc01[1135]", nullptr, "\\\\plc01[1135]"},
      {u"127.0.0.1", nullptr, "127.0.0.1"},
      {u"localhost:4135", "localhost:4135", nullptr},
      {u"tls:plc01", "plc01:4135", nullptr},
      {u"tls:fe80::1:9", "[fe80::1:9]:4135", nullptr},
      {u"[::1]:77", "[::1]:77", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Utf16ToUtf8(c.host));
    tagwell.hosts.clear();
    dcom.hosts.clear();
    MULTI_QI entry{&IID_IUnknown, nullptr, S_OK};
    COSERVERINFO info{0, const_cast<WCHAR*>(c.host), nullptr, 0};
    const bool named = c.host[0] != 0;
    EXPECT_EQ(CoCreateInstanceEx(IID_IUnknown, nullptr,
                                 named ? CLSCTX_REMOTE_SERVER : CLSCTX_LOCAL_SERVER,
                                 named ? &info : nullptr, 1, &entry),
              E_ACCESSDENIED);
    EXPECT_EQ(tagwell.hosts,
              c.tagwellGets ? std::vector<std::string>{c.tagwellGets} : std::vector<std::string>{});
    EXPECT_EQ(dcom.hosts,
              c.dcomGets ? std::vector<std::string>{c.dcomGets} : std::vector<std::string>{});
    CLSID clsid{};
    const HRESULT byProgId = CLSIDFromProgIDOnComputer(c.host, u"X.1", &clsid);
    EXPECT_EQ(byProgId, c.dcomGets ? S_OK : E_NOTIMPL) << "only DCOM computers have a browser";
  }
  // Names that name nothing reach neither activator.
  tagwell.hosts.clear();
  dcom.hosts.clear();
  for (const char16_t* bad : {u"plc 01", u"plc01[0]", u"plc01:"}) {
    MULTI_QI entry{&IID_IUnknown, nullptr, S_OK};
    COSERVERINFO info{0, const_cast<WCHAR*>(bad), nullptr, 0};
    EXPECT_EQ(CoCreateInstanceEx(IID_IUnknown, nullptr, CLSCTX_REMOTE_SERVER, &info, 1, &entry),
              RPC_S_SERVER_UNAVAILABLE);
    EXPECT_EQ(entry.hr, RPC_S_SERVER_UNAVAILABLE);
  }
  EXPECT_TRUE(tagwell.hosts.empty());
  EXPECT_TRUE(dcom.hosts.empty());
  // The DCOM side never asks for less than packet integrity.
  EXPECT_EQ(EffectiveLevel({.level = AuthLevel::Connect}), AuthLevel::PacketIntegrity);
  EXPECT_EQ(EffectiveLevel({}), AuthLevel::PacketPrivacy);
}

}  // namespace
}  // namespace tagwell::dcom
