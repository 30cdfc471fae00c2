#include "support/TStaticHttpServer.h"

#include <cstdio>
#include <filesystem>

#include "support/TestSupport.h"

namespace testsupport {

namespace {

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
  return FServer.Start(script, {QString::fromStdString(FDir->File("www"))});
}

void TStaticHttpServer::Stop() { FServer.Stop(); }

std::string TStaticHttpServer::URL(const std::string& name) const {
  return "http://127.0.0.1:" + std::to_string(FServer.Port()) + "/" + name;
}

void TStaticHttpServer::SetPage(const std::string& name, const std::string& content) {
  // Written aside and renamed, so a request never sees half a page.
  const std::string path = FDir->File("www/" + name);
  WriteFileBytes(path + ".part", content);
  std::filesystem::rename(path + ".part", path);
}

void TStaticHttpServer::RemovePage(const std::string& name) { std::filesystem::remove(FDir->File("www/" + name)); }

}  // namespace testsupport
