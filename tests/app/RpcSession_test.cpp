// The window against a real tagwell-server process, started by activation
// through rpc/ as the desktop client starts it: two windows of this process
// share the server's values.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QTest>

#include "app/SmallDialogs.h"
#include "platform/registry/Registry.h"
#include "resources/ResourceIds.h"
#include "rpc/Activation.h"
#include "tests/app/AppTestSupport.h"

namespace tagwell {
namespace {

using namespace res;
using testing::TempDir;
using testing::TestWindow;
using Lines = std::vector<std::string>;

class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (old_)
      setenv(name_, old_->c_str(), 1);
    else
      unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(RpcSession, TwoWindowsShareTheActivatedServersValues) {
  testing::EnsureApplication();
  TempDir runtime, config;
  ASSERT_EQ(chmod(runtime.path().c_str(), 0700), 0);
  ScopedEnv runtimeDir("XDG_RUNTIME_DIR", runtime.path());
  ScopedEnv configHome("XDG_CONFIG_HOME", config.path());
  registry::SetInstalledServerFolders(
      {QCoreApplication::applicationDirPath().toStdString() + "/servers"});
  std::string socket = runtime.path() + "/tagwell/Tagwell.Simulation.1.sock";
  {
    rpc::ScopedServerActivator activation;
    TestWindow a, b;
    testing::ConnectTo(a);
    Lines info = a.Lines(IDC_SERVER_INFO);
    ASSERT_GE(info.size(), 2u);
    EXPECT_EQ(info[1], "   Tagwell Simulation Server 8.4");
    EXPECT_NE(std::find(info.begin(), info.end(), "Boiler"), info.end());
    EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(socket)));

    testing::AddTypedItem(a, "Boiler.Setpoint");
    EXPECT_EQ(a->listBox(IDC_VALUES)->item(0)->text(), "55.0000");
    a->listBox(IDC_ITEM_NAMES)->setCurrentRow(0);
    testing::WhenShown<WriteValueDialog>([](WriteValueDialog& d) {
      d.edit()->setText("60");
      d.accept();
    });
    a.Command(IDM_WRITEITEM);

    testing::ConnectTo(b);
    testing::AddTypedItem(b, "Boiler.Setpoint");
    EXPECT_EQ(b->listBox(IDC_VALUES)->item(0)->text(), "60.0000");
    EXPECT_TRUE(a.messages.shown.empty());
    EXPECT_TRUE(b.messages.shown.empty());
    a.Command(IDM_DISCONNECT);
    b.Command(IDM_DISCONNECT);
  }
  // The server started by activation ends once its last client has gone.
  EXPECT_TRUE(
      QTest::qWaitFor([&] { return !QFileInfo::exists(QString::fromStdString(socket)); }, 20000));
  registry::SetInstalledServerFolders({});
}

}  // namespace
}  // namespace tagwell
