#include "ui/TDialogAsk.h"
#include "ui/TfrmMakeRem.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>

#include <sys/stat.h>
#include <unistd.h>

#include "common/FileUtils.h"
#include "support/TestSupport.h"

using testsupport::ReadFileBytes;
using testsupport::TTempDir;
using testsupport::WriteFileBytes;

namespace {

const char* const Warning = "Corvale can only be installed to a removable or optical drive.";

// A program folder with its files, and drives told apart by path: below "usb" removable,
// below "cd" optical, anything else a fixed disk.
struct TPortableFixture {
  TTempDir Home, Drives;
  TDialogAsk Ask;
  std::vector<std::string> Opened;

  TPortableFixture() {
    WriteFileBytes(Home.File("corvale"), "program");
    chmod(Home.File("corvale").c_str(), 0755);
    WriteFileBytes(Home.File("offline.wav"), "down");
    WriteFileBytes(Home.File("online.wav"), "up");
    WriteFileBytes(Home.File("Actions.cvl"), "actions");
    ForceDirectories(Drives.File("usb"));
    ForceDirectories(Drives.File("cd"));
    ForceDirectories(Drives.File("disk"));
    Ask.MessageAnswer = [](TDialogAsk::TKind, const QString&, const QString&) { return int(QMessageBox::Ok); };
  }
  TPortableCopySource Source() {
    TPortableCopySource source;
    source.ProgramPath = Home.File("corvale");
    source.CurrentFolder = Home.Path();
    source.OfflineSoundPath = Home.File("offline.wav");
    source.OnlineSoundPath = Home.File("online.wav");
    source.ActionsFile = Home.File("Actions.cvl");
    source.RdpFile = Home.File("default.rdp");  // not there
    source.WriteHosts = [](const std::string& file, std::string& error) {
      if (!WriteWholeFile(file, "hosts")) error = "disk full";
      return error.empty();
    };
    source.WritePreferences = [](const std::string& file, std::string&) { return WriteWholeFile(file, "prefs"); };
    const std::string drives = Drives.Path();
    source.DriveType = [drives](const std::string& path) {
      if (path.rfind(drives + "/usb", 0) == 0) return 2;
      if (path.rfind(drives + "/cd", 0) == 0) return 5;
      return 3;
    };
    source.OpenFolder = [this](const std::string& folder) { Opened.push_back(folder); };
    return source;
  }
};

}  // namespace

TEST(MakeRem, CopiesIntoACorvaleFolderOnRemovableDrivesOnly) {
  TPortableFixture f;
  TfrmMakeRem dialog(f.Source(), f.Ask);
  EXPECT_EQ(dialog.windowTitle(), "Copy to Removable Drive");
  // Only what exists or can be written is offered.
  EXPECT_FALSE(dialog.ckbEmail->isEnabled()) << "no e-mail writer given";
  EXPECT_TRUE(dialog.ckbActions->isEnabled());
  EXPECT_TRUE(dialog.ckbHosts->isEnabled());
  EXPECT_TRUE(dialog.ckbPrefs->isEnabled());
  EXPECT_FALSE(dialog.ckbRDP->isEnabled()) << "no default.rdp";

  struct TCase {
    std::string Chosen, Target;
  } cases[] = {
      {f.Drives.File("usb"), f.Drives.File("usb/Corvale")},
      {f.Drives.File("usb/Corvale"), f.Drives.File("usb/Corvale")},
      {f.Drives.File("usb/mycorvale/"), f.Drives.File("usb/mycorvale")},
      {f.Drives.File("cd/Tools"), f.Drives.File("cd/Tools/Corvale")},
  };
  for (const TCase& c : cases) {
    f.Opened.clear();
    ASSERT_TRUE(dialog.CopyTo(QString::fromLatin1(c.Chosen.c_str()))) << c.Chosen;
    EXPECT_EQ(f.Opened, std::vector<std::string>{c.Target});
    EXPECT_EQ(ReadFileBytes(c.Target + "/corvale"), "program");
    EXPECT_EQ(access((c.Target + "/corvale").c_str(), X_OK), 0) << "still a program";
    EXPECT_EQ(ReadFileBytes(c.Target + "/offline.wav"), "down");
    EXPECT_EQ(ReadFileBytes(c.Target + "/online.wav"), "up");
    EXPECT_EQ(ReadFileBytes(c.Target + "/Actions.cvl"), "actions");
    EXPECT_EQ(ReadFileBytes(c.Target + "/Hosts.cvlh"), "hosts");
    EXPECT_EQ(ReadFileBytes(c.Target + "/Hosts.cvlp"), "prefs");
    EXPECT_FALSE(FileExists(c.Target + "/default.rdp"));
    EXPECT_FALSE(DirectoryExists(c.Target + "/Corvale")) << "no second level";
  }
  EXPECT_TRUE(f.Ask.Asked().empty());

  // Unticked files stay behind; a copy made again replaces the earlier one.
  dialog.ckbHosts->setChecked(false);
  dialog.ckbActions->setChecked(false);
  ASSERT_TRUE(dialog.CopyTo(QString::fromLatin1(f.Drives.File("usb/second").c_str())));
  EXPECT_FALSE(FileExists(f.Drives.File("usb/second/Corvale/Hosts.cvlh")));
  EXPECT_FALSE(FileExists(f.Drives.File("usb/second/Corvale/Actions.cvl")));
  EXPECT_TRUE(FileExists(f.Drives.File("usb/second/Corvale/Hosts.cvlp")));
  EXPECT_TRUE(dialog.CopyTo(QString::fromLatin1(f.Drives.File("usb/second").c_str())));

  // A relative folder is taken from the current directory, the whole path then checked.
  const QString before = QDir::currentPath();
  QDir::setCurrent(QString::fromLatin1(f.Drives.Path().c_str()));
  f.Opened.clear();
  EXPECT_TRUE(dialog.CopyTo(QStringLiteral("usb/relative")));
  QDir::setCurrent(before);
  EXPECT_EQ(f.Opened, std::vector<std::string>{f.Drives.File("usb/relative/Corvale")});
}

TEST(MakeRem, RefusesFixedDisksTheCurrentFolderAndReportsErrors) {
  TPortableFixture f;
  TPortableCopySource source = f.Source();
  // The program runs from the drive chosen: its own folder is refused all the same.
  source.CurrentFolder = f.Drives.File("usb/Corvale");
  TfrmMakeRem dialog(source, f.Ask);
  for (const std::string& chosen : {f.Drives.File("disk"), f.Drives.File("usb"), f.Drives.File("usb/Corvale/"),
                                    std::string()}) {
    const size_t asked = f.Ask.Asked().size();
    EXPECT_FALSE(dialog.CopyTo(QString::fromLatin1(chosen.c_str()))) << chosen;
    ASSERT_EQ(f.Ask.Asked().size(), asked + 1);
    EXPECT_EQ(f.Ask.Asked().back().Kind, TDialogAsk::TKind::Warning);
    EXPECT_EQ(f.Ask.Asked().back().Text, Warning);
  }
  EXPECT_FALSE(DirectoryExists(f.Drives.File("disk/Corvale")));
  EXPECT_TRUE(f.Opened.empty());

  // OK through the dialog: the folder box and the browse button.
  source = f.Source();
  TfrmMakeRem browsing(source, f.Ask);
  f.Ask.FileAnswer = [&](const QString&) { return std::optional<QString>(QString::fromLatin1(f.Drives.File("cd").c_str())); };
  browsing.btnBrowse->click();
  EXPECT_EQ(browsing.tbFolder->text().toStdString(), f.Drives.File("cd"));
  browsing.btnOK->click();
  EXPECT_EQ(browsing.result(), QDialog::Accepted);
  EXPECT_TRUE(FileExists(f.Drives.File("cd/Corvale/corvale")));

  // A target that cannot be written names the file and the reason, and stops there.
  const auto errorAfter = [&](TPortableCopySource broken, const std::string& chosen) {
    TfrmMakeRem failing(std::move(broken), f.Ask);
    EXPECT_FALSE(failing.CopyTo(QString::fromLatin1(chosen.c_str())));
    EXPECT_EQ(f.Ask.Asked().back().Kind, TDialogAsk::TKind::Error);
    return f.Ask.Asked().back().Text.toStdString();
  };
  ForceDirectories(f.Drives.File("usb/locked/Corvale"));
  chmod(f.Drives.File("usb/locked/Corvale").c_str(), 0555);
  if (geteuid() != 0) {
    const std::string text = errorAfter(f.Source(), f.Drives.File("usb/locked"));
    EXPECT_NE(text.find(f.Drives.File("usb/locked/Corvale/corvale")), std::string::npos) << text;
    EXPECT_FALSE(FileExists(f.Drives.File("usb/locked/Corvale/offline.wav")));
  }
  chmod(f.Drives.File("usb/locked/Corvale").c_str(), 0755);

  source = f.Source();
  source.OnlineSoundPath = f.Home.File("missing.wav");
  std::string text = errorAfter(source, f.Drives.File("usb/nosound"));
  EXPECT_NE(text.find("missing.wav"), std::string::npos) << text;
  EXPECT_FALSE(FileExists(f.Drives.File("usb/nosound/Corvale/Hosts.cvlh"))) << "stopped at the error";

  source = f.Source();
  source.WriteHosts = [](const std::string&, std::string& error) {
    error = "disk full";
    return false;
  };
  text = errorAfter(source, f.Drives.File("usb/full"));
  EXPECT_NE(text.find("Hosts.cvlh could not be written: disk full"), std::string::npos) << text;
  EXPECT_FALSE(FileExists(f.Drives.File("usb/full/Corvale/Hosts.cvlp")));
  EXPECT_TRUE(f.Opened.size() == 1) << "only the browsed copy opened its folder";
}
