#pragma once
// The portable copy: the program, its two global sounds and, as chosen, the settings
// files go into a folder on a removable or optical drive, from where the program runs
// in removable mode. On Linux the program file is the executable alone: the shared
// libraries it needs are not copied, so the copy runs on machines where the program is
// installed (with its libraries) and carries its own settings.
#include <QDialog>
#include <QString>

#include <functional>
#include <string>

#include "common/FileUtils.h"

class QCheckBox;
class QLineEdit;
class QPushButton;
class TDialogAsk;

struct TPortableCopySource {
  std::string ProgramPath;                         // the program file
  std::string CurrentFolder;                       // the target must differ from it
  std::string OfflineSoundPath, OnlineSoundPath;   // the two global sound files, full paths; empty: none
  std::string ActionsFile, RdpFile;                // empty or missing: its box is disabled
  // Each writes its file under the name given; false with the error text. Unset: the
  // box is disabled.
  std::function<bool(const std::string& file, std::string& error)> WriteEmailConfig, WriteHosts, WritePreferences;
  std::function<int(const std::string& path)> DriveType = DriveTypeOf;
  std::function<void(const std::string& folder)> OpenFolder;   // the file explorer
};

class TfrmMakeRem : public QDialog {
  Q_OBJECT
public:
  TfrmMakeRem(TPortableCopySource source, TDialogAsk& ask, QWidget* parent = nullptr);

  // The folder the copy goes into for the folder chosen: "Corvale/" is added unless the
  // chosen folder's own name ends in "corvale" (any letter case).
  static QString TargetFolder(const QString& chosenFolder);
  // Copies into the target folder of the folder chosen; false after the warning (not a
  // removable or optical drive, or the current folder) or an error message naming the
  // file and the reason (the copy stops at the first error).
  bool CopyTo(const QString& chosenFolder);

  QLineEdit* tbFolder;
  QPushButton* btnBrowse;
  QCheckBox *ckbEmail, *ckbActions, *ckbHosts, *ckbPrefs, *ckbRDP;
  QPushButton *btnOK, *btnCancel;

private:
  void BrowseClick();
  void OKClick();
  bool Fail(const QString& text);

  TPortableCopySource FSource;
  TDialogAsk& FAsk;
};
