// The configuration dialog's service boxes with the real service program: ticking the
// box installs the service (a unit in a private unit folder, the keys in the test's
// registry), clearing it removes it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QCheckBox>
#include <filesystem>

#include <QComboBox>
#include <QPushButton>

#include "common/QLRegistry.h"
#include "ui/ConfigFixture.h"
#include "ui/TfrmNetAuth.h"

namespace {
const char* const ServiceKey = "System\\CurrentControlSet\\Services\\Corvale";

class ConfigService : public ConfigFixture {
protected:
  ConfigService() : FEnvUnits("CORVALE_UNIT_DIR", Dir("units")) {
    // The account window: the test's account, or cancelled.
    Ask.DialogAnswer = [this](QDialog& dialog) {
      auto* account = dynamic_cast<TfrmNetAuth*>(&dialog);
      if (!account || Account.empty()) return int(QDialog::Rejected);
      ++AccountAsked;
      account->tbUsername->setCurrentText(QString::fromStdString(Account));
      account->ckbStartup->setChecked(AtStartup);
      return int(QDialog::Accepted);
    };
  }

  std::unique_ptr<TfrmCorvaleConfig> OpenWith(const std::string& program) {
    TConfigDialogContext c;
    c.Monitor = M.get();
    c.Alerts = A.get();
    c.Ask = &Ask;
    c.ServiceProgram = program;
    Prepare(c);
    return std::make_unique<TfrmCorvaleConfig>(std::move(c), -1, TfrmCorvaleConfig::pgPreferences);
  }
  std::string Unit() { return Dir("units") + "/corvale.service"; }
  std::string LastText() { return Ask.Asked().empty() ? std::string() : Ask.Asked().back().Text.toStdString(); }
  bool Installed() { return RegKeyExists(M->Registry(), HKEY_LOCAL_MACHINE, ServiceKey); }

  testsupport::TScopedEnv FEnvUnits;
  std::string Account = "root";  // a user every machine has
  bool AtStartup = false;
  int AccountAsked = 0;
};

TEST_F(ConfigService, TickingInstallsClearingRemovesAndStartAtCloseFollowsTheBox) {
  const std::string program = testsupport::BinDir() + "/corvale-service";
  auto d = OpenWith(program);
  ASSERT_TRUE(d->ckbInstService->isEnabled());
  EXPECT_FALSE(d->ckbInstService->isChecked());
  EXPECT_FALSE(d->ckbStartServ->isEnabled()) << "only while the service box is ticked";
  d->ckbInstService->setChecked(true);
  EXPECT_TRUE(d->ckbStartServ->isEnabled());
  d->ckbStartServ->setChecked(true);
  const std::size_t asked = Ask.Asked().size();
  ASSERT_TRUE(d->StoreAndClose());
  ASSERT_EQ(Ask.Asked().size(), asked + 1) << "the notice before the installation, and no error";
  EXPECT_EQ(LastText().rfind("In order for Corvale to run as a service you will need to specify", 0), 0u);
  EXPECT_NE(LastText().find("offline/online will not be visible."), std::string::npos);
  EXPECT_EQ(AccountAsked, 1);
  EXPECT_TRUE(Installed());
  EXPECT_NE(testsupport::ReadFileBytes(Unit()).find("ExecStart=" + program), std::string::npos);
  EXPECT_NE(testsupport::ReadFileBytes(Unit()).find("\nUser=root\n"), std::string::npos);
  {
    TQLRegistry reg(M->Registry());
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(reg.OpenKey(ServiceKey, false));
    EXPECT_EQ(reg.ReadInteger("Start"), 3) << "not at startup: manual";
  }
  EXPECT_EQ(ReadRegText(M->Registry(), HKEY_LOCAL_MACHINE, ServiceKey, "Description", ""),
            "Monitors remote and local services and hosts and issues alerts when they are offline.");
  EXPECT_EQ(M->Settings().Value("StartServiceAtClose"), "1");
  EXPECT_TRUE(M->RestartServiceAtExit());
  EXPECT_TRUE(d->isEnabled()) << "the dialog is usable again after the work";

  // Shown as installed; OK with nothing changed runs nothing.
  auto again = OpenWith(program);
  EXPECT_TRUE(again->ckbInstService->isChecked());
  EXPECT_TRUE(again->ckbStartServ->isChecked());
  const std::size_t before = Ask.Asked().size();
  ASSERT_TRUE(again->StoreAndClose());
  EXPECT_EQ(Ask.Asked().size(), before);

  auto removing = OpenWith(program);
  removing->ckbInstService->setChecked(false);
  EXPECT_FALSE(removing->ckbStartServ->isEnabled());
  ASSERT_TRUE(removing->StoreAndClose());
  EXPECT_FALSE(Installed());
  EXPECT_FALSE(std::filesystem::exists(Unit()));
  EXPECT_EQ(M->Settings().Value("StartServiceAtClose"), "") << "a disabled box stores off";

  // A service marked for deletion cannot be changed until it is gone.
  ASSERT_TRUE(WriteRegText(M->Registry(), HKEY_LOCAL_MACHINE, ServiceKey, "DeleteFlag", "1"));
  auto marked = OpenWith(program);
  EXPECT_FALSE(marked->ckbInstService->isEnabled());
  EXPECT_FALSE(marked->ckbInstService->isChecked());
  EXPECT_EQ(marked->ckbInstService->toolTip(), "The service is being removed; close Corvale and try again.");
}

TEST_F(ConfigService, CancellingTheAccountInstallsNothing) {
  Account.clear();
  auto d = OpenWith(testsupport::BinDir() + "/corvale-service");
  d->ckbInstService->setChecked(true);
  ASSERT_TRUE(d->StoreAndClose());
  EXPECT_FALSE(Installed());
  EXPECT_FALSE(std::filesystem::exists(Unit()));
}

TEST(NetAuth, LocalSystemTakesTheAccountBoxAwayAndTheSwitchesSayWhatIsShown) {
  TfrmNetAuth d;
  EXPECT_EQ(d.windowTitle(), "Corvale Service Account");
  EXPECT_EQ(d.tbUsername->currentText().toStdString(), TfrmNetAuth::ProposedAccount());
  EXPECT_TRUE(d.ckbStartup->isChecked());
  d.tbUsername->setCurrentText("monitor");
  EXPECT_EQ(d.InstallSwitches(), "/ACCOUNT=monitor");
  d.ckbStartup->setChecked(false);
  EXPECT_EQ(d.InstallSwitches(), "/ACCOUNT=monitor /MANUAL");
  d.ckbLocalSys->setChecked(true);
  EXPECT_FALSE(d.tbUsername->isEnabled());
  EXPECT_EQ(d.InstallSwitches(), "/LOCALSYSTEM /MANUAL");
  d.ckbLocalSys->setChecked(false);
  EXPECT_TRUE(d.tbUsername->isEnabled());
  // A name that would be more than one switch is refused; the window stays.
  for (const char* bad : {"", "a b", "-x", "x/INSTALL", "o\"neil"}) {
    d.tbUsername->setCurrentText(bad);
    d.btnOk->click();
    EXPECT_EQ(d.result(), QDialog::Rejected) << bad;
  }
  d.tbUsername->setCurrentText("corvale");
  d.btnOk->click();
  EXPECT_EQ(d.result(), QDialog::Accepted);
}

TEST_F(ConfigService, AnInstallerThatFailsOrCannotStartIsReported) {
  const std::string failing = Dir("bin") + "/failing-service";
  testsupport::WriteFileBytes(failing, "#!/bin/sh\necho \"Unable to install the service: $1 refused\" >&2\nexit 1\n");
  ::chmod(failing.c_str(), 0755);
  auto d = OpenWith(failing);
  d->ckbInstService->setChecked(true);
  ASSERT_TRUE(d->StoreAndClose());
  ASSERT_FALSE(Ask.Asked().empty());
  EXPECT_EQ(LastText(),
            "The service program ended with exit code 1:\r\rUnable to install the service: /INSTALL refused");
  EXPECT_FALSE(Installed());

  const std::string unstartable = Dir("bin") + "/not-executable";
  testsupport::WriteFileBytes(unstartable, "not a program\n");
  ::chmod(unstartable.c_str(), 0644);
  auto e = OpenWith(unstartable);
  e->ckbInstService->setChecked(true);
  ASSERT_TRUE(e->StoreAndClose());
  EXPECT_EQ(LastText().rfind("Error loading service installer: ", 0), 0u) << LastText();
}

}  // namespace
