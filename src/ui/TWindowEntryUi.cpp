#include "ui/TWindowEntryUi.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>

#include "ui/TfrmCVLWait.h"

TWindowEntryUi::TWindowEntryUi() : FWait(std::make_unique<TfrmCVLWait>()) {}

TWindowEntryUi::~TWindowEntryUi() = default;

void TWindowEntryUi::ShowWait(const std::string& text) { FWait->ShowText(QString::fromLatin1(text.c_str())); }

void TWindowEntryUi::HideWait() { FWait->hide(); }

void TWindowEntryUi::Pause(int ms) {
  QApplication::processEvents(QEventLoop::AllEvents, ms);
  QThread::msleep(static_cast<unsigned long>(ms));
}

void TWindowEntryUi::ShowPrematureClose(const std::string& text) {
  QString message = QString::fromLatin1(text.c_str());
  message.replace('\r', '\n');
  QMessageBox::critical(nullptr, QStringLiteral("Corvale"), message);
}
