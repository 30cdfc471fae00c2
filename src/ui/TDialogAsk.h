#pragma once
// The questions and sub-dialogs a dialog puts to the user go through one object that
// the dialog holds, so that a test can answer them in the user's place. Without answers
// set, the real message boxes, input boxes and dialogs are shown.
#include <QMessageBox>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

class QDialog;
class QWidget;

class TDialogAsk {
public:
  enum class TKind { Information, Warning, Error, Question };

  // A message box; the button pressed (a QMessageBox::StandardButton). With the test's
  // answer unset, the box is shown.
  int Message(QWidget* parent, TKind kind, const QString& caption, const QString& text,
              QMessageBox::StandardButtons buttons = QMessageBox::Ok,
              QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);
  // A one-line input box; nothing when cancelled.
  std::optional<QString> Text(QWidget* parent, const QString& caption, const QString& label,
                              const QString& value = {});
  // Runs a modal dialog and returns its result (QDialog::Accepted or Rejected).
  int Run(QDialog& dialog);
  // A file to open: nothing when cancelled. filter as QFileDialog takes it.
  std::optional<QString> OpenFile(QWidget* parent, const QString& caption, const QString& folder,
                                  const QString& filter);
  // A folder: nothing when cancelled.
  std::optional<QString> Folder(QWidget* parent, const QString& caption, const QString& folder);

  // The test's answers. A message answer gets the kind, caption and text and returns the
  // button; a dialog answer gets the dialog before it would be shown and returns its
  // result (it may fill the dialog in, click its buttons or answer it otherwise).
  std::function<int(TKind, const QString& caption, const QString& text)> MessageAnswer;
  std::function<std::optional<QString>(const QString& caption, const QString& label)> TextAnswer;
  std::function<int(QDialog&)> DialogAnswer;
  std::function<std::optional<QString>(const QString& caption)> FileAnswer;

  // Every message shown or answered, last one last: the tests read what was said.
  struct TAsked {
    TKind Kind;
    QString Caption, Text;
  };
  const std::vector<TAsked>& Asked() const { return FAsked; }

private:
  std::vector<TAsked> FAsked;
};
