#include "support/TStaticHttpServer.h"

#include <QProcess>
#include <cstdio>
#include <filesystem>

#include "support/TestSupport.h"

namespace testsupport {

namespace {

const char* const Python = "/usr/bin/python3";

const char* const ServerScript = R"PY(
import functools, http.server, sys

class Quiet(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass

srv = http.server.ThreadingHTTPServer(("127.0.0.1", 0), functools.partial(Quiet, directory=sys.argv[1]))
print(srv.server_address[1], flush=True)
srv.serve_forever()
)PY";

}  // namespace

TStaticHttpServer::TStaticHttpServer() : FDir(std::make_unique<TTempDir>()) {}

TStaticHttpServer::~TStaticHttpServer() { Stop(); }

bool TStaticHttpServer::Start() {
  const std::string script = FDir->File("static_server.py");
  WriteFileBytes(script, ServerScript);
  std::filesystem::create_directory(FDir->File("www"));
  FProcess = std::make_unique<QProcess>();
  FProcess->setProcessChannelMode(QProcess::ForwardedErrorChannel);
  FProcess->start(Python, {QString::fromStdString(script), QString::fromStdString(FDir->File("www"))});
  if (!FProcess->waitForStarted(10000)) {
    FError = "cannot start " + std::string(Python);
    return false;
  }
  while (!FProcess->canReadLine()) {
    if (!FProcess->waitForReadyRead(20000)) {
      FError = "the web server did not report its port";
      Stop();
      return false;
    }
  }
  FPort = static_cast<std::uint16_t>(FProcess->readLine().trimmed().toUInt());
  if (FPort == 0) {
    FError = "the web server reported no port";
    Stop();
  }
  return FPort != 0;
}

void TStaticHttpServer::Stop() {
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

std::string TStaticHttpServer::URL(const std::string& name) const {
  return "http://127.0.0.1:" + std::to_string(FPort) + "/" + name;
}

void TStaticHttpServer::SetPage(const std::string& name, const std::string& content) {
  // Written aside and renamed, so a request never sees half a page.
  const std::string path = FDir->File("www/" + name);
  WriteFileBytes(path + ".part", content);
  std::filesystem::rename(path + ".part", path);
}

void TStaticHttpServer::RemovePage(const std::string& name) { std::filesystem::remove(FDir->File("www/" + name)); }

}  // namespace testsupport
