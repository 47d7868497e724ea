#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>
#include <vector>

#include "platform/com/Runtime.h"
#include "platform/registry/Registry.h"
#include "tests/support/TempDir.h"

namespace com {
namespace {

// ---------------------------------------------------------------------------
// Apartments and security

// Leaves this thread's COM count as the test found it.
class ComScope {
 public:
  ~ComScope() {
    while (CoInitializeCount() > 0) CoUninitialize();
  }
};

TEST(Apartment, CountsPerThread) {
  ComScope scope;
  EXPECT_EQ(CoInitialize(nullptr), S_OK);
  EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
  EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
  EXPECT_EQ(CoInitializeCount(), 2u);
  std::thread other([] {
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);  // its own apartment
    CoUninitialize();
  });
  other.join();
  CoUninitialize();
  CoUninitialize();
  CoUninitialize();  // one too many: ignored
  EXPECT_EQ(CoInitializeCount(), 0u);
  EXPECT_EQ(CoInitialize(nullptr), S_OK);  // a fresh start
  int reserved = 0;
  EXPECT_EQ(CoInitialize(&reserved), E_INVALIDARG);
}

HRESULT InitSecurity() {
  return CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_NONE,
                              RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);
}

TEST(Apartment, SecurityOncePerComLifetimeOfTheProcess) {
  ComScope scope;
  EXPECT_EQ(InitSecurity(), CO_E_NOTINITIALIZED);
  EXPECT_FALSE(GetSecuritySettings(nullptr));

  ASSERT_EQ(CoInitialize(nullptr), S_OK);
  EXPECT_EQ(InitSecurity(), S_OK);
  SecuritySettings s{};
  ASSERT_TRUE(GetSecuritySettings(&s));
  EXPECT_EQ(s.authServiceCount, -1);
  EXPECT_EQ(s.authnLevel, RPC_C_AUTHN_LEVEL_NONE);
  EXPECT_EQ(s.impLevel, RPC_C_IMP_LEVEL_IMPERSONATE);
  EXPECT_FALSE(s.hasSecurityDescriptor);
  EXPECT_EQ(InitSecurity(), RPC_E_TOO_LATE);

  // Another thread still holding COM keeps the settings alive...
  std::promise<void> initialised, release;
  std::thread holder([&] {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    initialised.set_value();
    release.get_future().wait();
    CoUninitialize();
  });
  initialised.get_future().wait();
  CoUninitialize();
  EXPECT_TRUE(GetSecuritySettings(nullptr));
  release.set_value();
  holder.join();
  // ...and the last CoUninitialize of the process ends them: reconnecting works.
  EXPECT_FALSE(GetSecuritySettings(nullptr));
  ASSERT_EQ(CoInitialize(nullptr), S_OK);
  EXPECT_EQ(InitSecurity(), S_OK);
}

TEST(Apartment, AThreadEndingWithComInitialisedLeavesIt) {
  ComScope scope;
  std::thread([] {
    CoInitialize(nullptr);
    InitSecurity();
  }).join();
  EXPECT_FALSE(GetSecuritySettings(nullptr));
}

// ---------------------------------------------------------------------------
// Classes

constexpr CLSID kClass = {0x5A1E0001, 0x1, 0x2, {1, 2, 3, 4, 5, 6, 7, 8}};
constexpr CLSID kOtherClass = {0x5A1E0002, 0x1, 0x2, {1, 2, 3, 4, 5, 6, 7, 8}};
constexpr IID IID_ITestThing = {0x5A1E1001, 0x1, 0x2, {1, 2, 3, 4, 5, 6, 7, 8}};
constexpr IID IID_INotImplemented = {0x5A1E1002, 0x1, 0x2, {1, 2, 3, 4, 5, 6, 7, 8}};

class ITestThing : public IUnknown {
 public:
  virtual int Answer() = 0;
};

std::atomic<int> liveThings{0};

class Thing final : public ITestThing {
 public:
  Thing() { ++liveThings; }
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IUnknown || riid == IID_ITestThing) {
      *ppv = static_cast<ITestThing*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return refs_.Increment(); }
  ULONG Release() override {
    ULONG n = refs_.Decrement();
    if (n == 0) delete this;
    return n;
  }
  int Answer() override { return 42; }

 private:
  ~Thing() override { --liveThings; }
  RefCount refs_;
};

HRESULT CreateThing(REFIID riid, void** ppv) {
  auto* thing = new Thing;
  HRESULT hr = thing->QueryInterface(riid, ppv);
  thing->Release();
  return hr;
}

// Registers kClass for the life of the object.
class Registered {
 public:
  explicit Registered(std::string progId = "Tagwell.Test.1", const CLSID& clsid = kClass)
      : cookie_(RegisterInprocClass(clsid, CreateThing, std::move(progId))) {}
  ~Registered() { RevokeInprocClass(cookie_); }

 private:
  DWORD cookie_;
};

TEST(ClsidFromString, GuidTextProgIdsAndFailures) {
  Registered registered;
  CLSID clsid{};
  EXPECT_EQ(CLSIDFromString(u"{5a1e0001-0001-0002-0102-030405060708}", &clsid), S_OK);
  EXPECT_EQ(clsid, kClass);
  clsid = GUID_NULL;
  EXPECT_EQ(CLSIDFromString(u"tagwell.TEST.1", &clsid), S_OK);  // ProgIDs ignore case
  EXPECT_EQ(clsid, kClass);

  clsid = kOtherClass;
  for (const char16_t* bad :
       {u"{5A1E0001-0001-0002-0102-03040506070}", u"{not a guid}", u"No.Such.Server", u""}) {
    EXPECT_EQ(CLSIDFromString(bad, &clsid), CO_E_CLASSSTRING);
    EXPECT_EQ(clsid, kOtherClass);
  }
  EXPECT_EQ(CLSIDFromString(nullptr, &clsid), E_INVALIDARG);
  EXPECT_EQ(CLSIDFromString(u"Tagwell.Test.1", nullptr), E_POINTER);
}

TEST(ClsidFromString, FallsBackToTheInstalledServers) {
  tagwell::testing::TempDir folder;
  tagwell::testing::WriteFile(folder.File("sim.server"),
                              "[Server]\nProgID=Tagwell.Installed.1\n"
                              "CLSID={5A1E0002-0001-0002-0102-030405060708}\nOPC=\n");
  tagwell::registry::SetInstalledServerFolders({folder.path()});
  CLSID clsid{};
  EXPECT_EQ(CLSIDFromString(u"Tagwell.Installed.1", &clsid), S_OK);
  EXPECT_EQ(clsid, kOtherClass);
  {
    Registered inproc("Tagwell.Installed.1");  // an in-process class comes first
    EXPECT_EQ(CLSIDFromString(u"Tagwell.Installed.1", &clsid), S_OK);
    EXPECT_EQ(clsid, kClass);
  }
  tagwell::registry::SetInstalledServerFolders({});
}

TEST(CoCreateInstanceEx, InprocFillsEveryEntry) {
  Registered registered;
  {
    MULTI_QI qi[3] = {{&IID_ITestThing, nullptr, S_OK},
                      {&IID_INotImplemented, nullptr, S_OK},
                      {&IID_IUnknown, nullptr, S_OK}};
    EXPECT_EQ(CoCreateInstanceEx(kClass, nullptr, CLSCTX_SERVER, nullptr, 3, qi),
              CO_S_NOTALLINTERFACES);
    ASSERT_EQ(qi[0].hr, S_OK);
    EXPECT_EQ(static_cast<ITestThing*>(qi[0].pItf)->Answer(), 42);
    EXPECT_EQ(qi[1].hr, E_NOINTERFACE);
    EXPECT_EQ(qi[1].pItf, nullptr);
    EXPECT_EQ(qi[2].hr, S_OK);
    EXPECT_EQ(qi[2].pItf, qi[0].pItf);  // one object
    EXPECT_EQ(liveThings, 1);
    qi[0].pItf->Release();
    qi[2].pItf->Release();
    EXPECT_EQ(liveThings, 0);  // the runtime kept no reference
  }
  MULTI_QI none = {&IID_INotImplemented, nullptr, S_OK};
  EXPECT_EQ(CoCreateInstanceEx(kClass, nullptr, CLSCTX_INPROC_SERVER, nullptr, 1, &none),
            E_NOINTERFACE);
  EXPECT_EQ(liveThings, 0);

  ITestThing* thing = nullptr;
  ASSERT_EQ(CoCreateInstance(kClass, nullptr, CLSCTX_ALL, IID_ITestThing,
                             reinterpret_cast<void**>(&thing)),
            S_OK);
  thing->Release();
  void* nothing = &none;
  EXPECT_EQ(CoCreateInstance(kClass, nullptr, CLSCTX_ALL, IID_INotImplemented, &nothing),
            E_NOINTERFACE);
  EXPECT_EQ(nothing, nullptr);
}

TEST(CoCreateInstanceEx, RefusesBadArgumentsAndUnknownClasses) {
  Registered registered;
  auto* outer = new Thing;
  MULTI_QI qi = {&IID_IUnknown, nullptr, S_OK};
  EXPECT_EQ(CoCreateInstanceEx(kClass, outer, CLSCTX_ALL, nullptr, 1, &qi), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(qi.hr, CLASS_E_NOAGGREGATION);
  outer->Release();
  EXPECT_EQ(CoCreateInstanceEx(kClass, nullptr, CLSCTX_ALL, nullptr, 0, &qi), E_INVALIDARG);
  EXPECT_EQ(CoCreateInstanceEx(kClass, nullptr, CLSCTX_ALL, nullptr, 1, nullptr), E_INVALIDARG);
  MULTI_QI noIid = {nullptr, nullptr, S_OK};
  EXPECT_EQ(CoCreateInstanceEx(kClass, nullptr, CLSCTX_ALL, nullptr, 1, &noIid), E_INVALIDARG);

  ASSERT_EQ(GetServerActivator(), nullptr);
  COSERVERINFO info{0, const_cast<LPWSTR>(u"plc-host"), nullptr, 0};
  EXPECT_EQ(CoCreateInstanceEx(kOtherClass, nullptr, CLSCTX_SERVER, nullptr, 1, &qi),
            REGDB_E_CLASSNOTREG);
  EXPECT_EQ(qi.hr, REGDB_E_CLASSNOTREG);
  EXPECT_EQ(CoCreateInstanceEx(kClass, nullptr, CLSCTX_LOCAL_SERVER, nullptr, 1, &qi),
            REGDB_E_CLASSNOTREG);  // in-process only, not asked for
  EXPECT_EQ(CoCreateInstanceEx(kClass, nullptr, CLSCTX_REMOTE_SERVER, &info, 1, &qi),
            REGDB_E_CLASSNOTREG);
  EXPECT_EQ(liveThings, 0);
}

TEST(CoCreateInstanceEx, RevokedClassesAreGone) {
  { Registered registered; }
  MULTI_QI qi = {&IID_IUnknown, nullptr, S_OK};
  EXPECT_EQ(CoCreateInstanceEx(kClass, nullptr, CLSCTX_INPROC_SERVER, nullptr, 1, &qi),
            REGDB_E_CLASSNOTREG);
  CLSID clsid{};
  EXPECT_EQ(CLSIDFromString(u"Tagwell.Test.1", &clsid), CO_E_CLASSSTRING);
}

// Records what it is asked and answers with a Thing (or a failure).
class FakeActivator final : public ServerActivator {
 public:
  HRESULT Activate(REFCLSID clsid, const std::u16string& host, DWORD count,
                   MULTI_QI* results) override {
    hosts.push_back(host);
    EXPECT_EQ(clsid, kOtherClass);
    if (FAILED(failure)) return failure;
    auto* thing = new Thing;
    for (DWORD i = 0; i < count; ++i)
      results[i].hr =
          thing->QueryInterface(*results[i].pIID, reinterpret_cast<void**>(&results[i].pItf));
    thing->Release();
    return S_OK;
  }
  std::vector<std::u16string> hosts;
  HRESULT failure = S_OK;
};

class ActivatorTest : public ::testing::Test {
 protected:
  void SetUp() override { SetServerActivator(&activator); }
  void TearDown() override {
    SetServerActivator(nullptr);
    EXPECT_EQ(liveThings, 0);
  }

  HRESULT Create(DWORD context, const char16_t* host) {
    COSERVERINFO info{0, const_cast<LPWSTR>(host), nullptr, 0};
    MULTI_QI qi[2] = {{&IID_IUnknown, nullptr, S_OK}, {&IID_INotImplemented, nullptr, S_OK}};
    HRESULT hr = CoCreateInstanceEx(kOtherClass, nullptr, context, host ? &info : nullptr, 2, qi);
    EXPECT_EQ(qi[1].pItf, nullptr);
    if (qi[0].pItf) qi[0].pItf->Release();
    return hr;
  }

  FakeActivator activator;
};

TEST_F(ActivatorTest, ReceivesTheHostOnlyForARemoteContextWithAName) {
  EXPECT_EQ(Create(CLSCTX_REMOTE_SERVER, u"plc-host:4135"), CO_S_NOTALLINTERFACES);
  EXPECT_EQ(Create(CLSCTX_SERVER, u"plc-host"), CO_S_NOTALLINTERFACES);
  EXPECT_EQ(Create(CLSCTX_REMOTE_SERVER, u""), CO_S_NOTALLINTERFACES);
  EXPECT_EQ(Create(CLSCTX_REMOTE_SERVER, nullptr), CO_S_NOTALLINTERFACES);
  EXPECT_EQ(Create(CLSCTX_LOCAL_SERVER, u"plc-host"), CO_S_NOTALLINTERFACES);
  EXPECT_EQ(Create(CLSCTX_INPROC_SERVER, nullptr), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(activator.hosts,
            (std::vector<std::u16string>{u"plc-host:4135", u"plc-host", u"", u"", u""}));
}

TEST_F(ActivatorTest, FailureReachesEveryEntry) {
  activator.failure = CO_E_SERVER_EXEC_FAILURE;
  MULTI_QI qi[2] = {{&IID_IUnknown, nullptr, S_OK}, {&IID_ITestThing, nullptr, S_OK}};
  EXPECT_EQ(CoCreateInstanceEx(kOtherClass, nullptr, CLSCTX_LOCAL_SERVER, nullptr, 2, qi),
            CO_E_SERVER_EXEC_FAILURE);
  for (const MULTI_QI& r : qi) {
    EXPECT_EQ(r.hr, CO_E_SERVER_EXEC_FAILURE);
    EXPECT_EQ(r.pItf, nullptr);
  }
}

}  // namespace
}  // namespace com
