#include "support/TPythonServer.h"

#include <QProcess>

namespace testsupport {

TPythonServer::TPythonServer(std::string what) : FWhat(std::move(what)) {}

TPythonServer::~TPythonServer() { Stop(); }

bool TPythonServer::Start(const std::string& scriptFile, const QStringList& arguments) {
  Stop();
  FError.clear();
  FProcess = std::make_unique<QProcess>();
  FProcess->setProcessChannelMode(QProcess::ForwardedErrorChannel);
  FProcess->start(Python, QStringList{QString::fromStdString(scriptFile)} + arguments);
  if (!FProcess->waitForStarted(10000)) {
    FError = "cannot start " + std::string(Python);
    return false;
  }
  while (!FProcess->canReadLine()) {
    if (!FProcess->waitForReadyRead(20000)) {
      FError = FWhat + " did not report its port";
      Stop();
      return false;
    }
  }
  FPort = static_cast<std::uint16_t>(FProcess->readLine().trimmed().toUInt());
  if (FPort == 0) {
    FError = FWhat + " reported no port";
    Stop();
  }
  return FPort != 0;
}

void TPythonServer::Stop() {
  FPort = 0;
  if (!FProcess) return;
  if (FProcess->state() != QProcess::NotRunning) {
    FProcess->terminate();
    if (!FProcess->waitForFinished(5000)) {
      FProcess->kill();
      FProcess->waitForFinished(5000);
    }
  }
  FProcess.reset();
}

}  // namespace testsupport
