#include "ui/TDialogAsk.h"

#include <QDialog>
#include <QFileDialog>
#include <QInputDialog>

namespace {
QMessageBox::Icon IconOf(TDialogAsk::TKind kind) {
  switch (kind) {
    case TDialogAsk::TKind::Information: return QMessageBox::Information;
    case TDialogAsk::TKind::Warning: return QMessageBox::Warning;
    case TDialogAsk::TKind::Error: return QMessageBox::Critical;
    case TDialogAsk::TKind::Question: return QMessageBox::Question;
  }
  return QMessageBox::NoIcon;
}
}  // namespace

int TDialogAsk::Message(QWidget* parent, TKind kind, const QString& caption, const QString& text,
                        QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton) {
  FAsked.push_back({kind, caption, text});
  if (MessageAnswer) return MessageAnswer(kind, caption, text);
  QMessageBox box(IconOf(kind), caption, text, buttons, parent);
  if (defaultButton != QMessageBox::NoButton) box.setDefaultButton(defaultButton);
  return box.exec();
}

std::optional<QString> TDialogAsk::Text(QWidget* parent, const QString& caption, const QString& label,
                                        const QString& value) {
  if (TextAnswer) return TextAnswer(caption, label);
  bool ok = false;
  const QString text = QInputDialog::getText(parent, caption, label, QLineEdit::Normal, value, &ok);
  if (!ok) return std::nullopt;
  return text;
}

int TDialogAsk::Run(QDialog& dialog) {
  if (DialogAnswer) return DialogAnswer(dialog);
  return dialog.exec();
}

std::optional<QString> TDialogAsk::OpenFile(QWidget* parent, const QString& caption, const QString& folder,
                                            const QString& filter) {
  if (FileAnswer) return FileAnswer(caption);
  const QString name = QFileDialog::getOpenFileName(parent, caption, folder, filter);
  if (name.isEmpty()) return std::nullopt;
  return name;
}

std::optional<QString> TDialogAsk::Folder(QWidget* parent, const QString& caption, const QString& folder) {
  if (FileAnswer) return FileAnswer(caption);
  const QString name = QFileDialog::getExistingDirectory(parent, caption, folder);
  if (name.isEmpty()) return std::nullopt;
  return name;
}
