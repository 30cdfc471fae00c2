#include "service/TServiceUnit.h"

#include <QProcess>
#include <gtest/gtest.h>

#include <string>

#include "service/TServiceApplication.h"
#include "support/TestSupport.h"

using testsupport::TScopedEnv;
using testsupport::TTempDir;

namespace {
bool Has(const std::string& text, const std::string& line) { return text.find("\n" + line + "\n") != std::string::npos; }

// systemd-analyze verify on the unit file; empty when it passes, its complaint
// otherwise, "skip" where systemd-analyze is missing.
std::string Verify(const std::string& unitFile) {
  QProcess p;
  p.setProcessChannelMode(QProcess::MergedChannels);
  // The man pages are the package's; this machine need not have them installed.
  p.start("systemd-analyze", {"verify", "--man=no", QString::fromStdString(unitFile)});
  if (!p.waitForStarted(5000)) return "skip";
  p.waitForFinished(60000);
  const std::string out = p.readAll().toStdString();
  return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0 ? std::string() : out + " (exit " +
                                                                                     std::to_string(p.exitCode()) + ")";
}
}  // namespace

TEST(ServiceUnit, RunsTheSupervisorUnderItsOwnUserWithOnlyThePingRight) {
  TServiceAccount account;
  account.UserName = "corvale";
  const std::string t = TServiceUnit::Text("/usr/lib/corvale/corvale-service", account, false);
  for (const char* line : {"Type=simple", "ExecStart=/usr/lib/corvale/corvale-service", "User=corvale", "Restart=no",
                           "KillMode=mixed", "RuntimeDirectory=corvale", "Environment=XDG_RUNTIME_DIR=/run/corvale",
                           "StateDirectory=corvale", "Environment=CORVALE_DATA_DIR=/var/lib/corvale",
                           "StandardError=journal", "AmbientCapabilities=CAP_NET_RAW",
                           "CapabilityBoundingSet=CAP_NET_RAW", "NoNewPrivileges=yes", "ProtectSystem=strict",
                           "ProtectHome=yes", "PrivateTmp=yes", "WantedBy=multi-user.target"})
    EXPECT_TRUE(Has(t, line)) << line;
  EXPECT_EQ(t.rfind(TServiceUnit::OwnMarker, 0), std::string::npos);
  // The stop waits of the supervisor (two requests and the pause) fit in systemd's.
  EXPECT_TRUE(Has(t, "TimeoutStopSec=90"));

  TServiceAccount root;
  root.LocalSystem = true;
  const std::string r = TServiceUnit::Text("/opt/my corvale/corvale-service", root, true);
  EXPECT_EQ(r.rfind(TServiceUnit::OwnMarker, 0), 0u);
  EXPECT_EQ(r.find("User="), std::string::npos);
  EXPECT_EQ(r.find("CapabilityBoundingSet"), std::string::npos) << "root keeps its rights to own its files";
  EXPECT_TRUE(Has(r, "ExecStart=\"/opt/my corvale/corvale-service\""));
}

TEST(ServiceUnit, WrittenUnitPassesSystemdVerifyAndOnlyOursIsRemoved) {
  TTempDir dir;
  const TScopedEnv unitDir("CORVALE_UNIT_DIR", dir.Path() + "/units");
  EXPECT_FALSE(TServiceUnit::ManagesSystemd()) << "a relocated unit folder never reaches systemctl";
  std::string error;
  EXPECT_TRUE(TServiceUnit::Systemctl({"daemon-reload"}, error));

  TServiceAccount account;
  account.UserName = "root";  // a user every machine has, so verify judges the rest
  const std::string program = testsupport::BinDir() + "/corvale-service";
  ASSERT_TRUE(TServiceUnit::Write(TServiceUnit::Text(program, account, true), error)) << error;
  EXPECT_EQ(TServiceUnit::UnitPath(), dir.Path() + "/units/corvale.service");
  const std::string verdict = Verify(TServiceUnit::UnitPath());
  if (verdict == "skip") {
    std::printf("systemd-analyze is not installed; the unit was not verified\n");
  } else {
    EXPECT_EQ(verdict, "");
  }

  EXPECT_TRUE(TServiceUnit::RemoveOwn(error)) << error;
  EXPECT_FALSE(testsupport::ReadFileBytes(TServiceUnit::UnitPath()).size());
  EXPECT_TRUE(TServiceUnit::RemoveOwn(error)) << "nothing left is fine";

  testsupport::WriteFileBytes(TServiceUnit::UnitPath(), "[Service]\nExecStart=/bin/true\n");
  EXPECT_FALSE(TServiceUnit::RemoveOwn(error));
  EXPECT_NE(error.find("was not written by corvale-service"), std::string::npos);
  EXPECT_EQ(testsupport::ReadFileBytes(TServiceUnit::UnitPath()), "[Service]\nExecStart=/bin/true\n");
}

TEST(ServiceUnit, PackagedUnitFilePassesSystemdVerify) {
  // What the package installs: the unit "/UNITFILE" prints, for the program where the
  // package puts it. verify needs the program, so the built one stands in for it.
  TTempDir dir;
  TServiceOptions options = TServiceApplication::ParseCommandLine({"/UNITFILE=" + testsupport::BinDir() + "/corvale-service"});
  ASSERT_EQ(options.Action, TServiceOptions::TAction::UnitFile);
  TServiceAccount account;
  account.UserName = "root";
  const std::string file = dir.File("corvale.service");
  testsupport::WriteFileBytes(file, TServiceUnit::Text(options.UnitProgram, account, false));
  const std::string verdict = Verify(file);
  if (verdict == "skip") GTEST_SKIP() << "systemd-analyze is not installed";
  EXPECT_EQ(verdict, "");
}

TEST(ServiceOptions, SwitchesWithEitherLeadIgnoreCaseAndBadOnesAreRefused) {
  using A = TServiceOptions::TAction;
  struct TCase {
    std::vector<std::string> Args;
    A Action;
    bool Silent;
  };
  const TCase cases[] = {
      {{}, A::Run, false},
      {{"/INSTALL"}, A::Install, false},
      {{"-install", "/silent"}, A::Install, true},
      {{"/Uninstall", "-SILENT"}, A::Uninstall, true},
      {{"/INSTALL", "/UNINSTALL"}, A::Invalid, false},
      {{"INSTALL"}, A::Invalid, false},
      {{"/frobnicate"}, A::Invalid, false},
      {{"/ACCOUNT="}, A::Invalid, false},
      {{"/INSTALL", "/ACCOUNT=bob", "/LOCALSYSTEM"}, A::Invalid, false},
      {{"/UNITFILE=/usr/lib/corvale/corvale-service", "/INSTALL"}, A::Invalid, false},
      {{"--help"}, A::Help, false},
      {{"--version"}, A::Version, false},
  };
  for (const TCase& c : cases) {
    const TServiceOptions o = TServiceApplication::ParseCommandLine(c.Args);
    EXPECT_EQ(o.Action, c.Action) << (c.Args.empty() ? std::string("(none)") : c.Args[0]);
    EXPECT_EQ(o.Silent, c.Silent) << (c.Args.empty() ? std::string("(none)") : c.Args[0]);
    if (o.Action == A::Invalid) {
      EXPECT_FALSE(o.Error.empty());
    }
  }
  const TServiceOptions o = TServiceApplication::ParseCommandLine({"/install", "/account=monitor", "/manual"});
  EXPECT_EQ(o.Account.UserName, "monitor");
  EXPECT_FALSE(o.Account.StartAtBoot);
  EXPECT_FALSE(o.Account.LocalSystem);
  EXPECT_TRUE(TServiceApplication::ParseCommandLine({"/install", "/LocalSystem"}).Account.LocalSystem);
}
