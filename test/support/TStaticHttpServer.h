#pragma once
// A real static web server for page tests: Python's http.server on a free loopback port,
// serving the files of a private folder that the test changes between requests. It
// stops with the object.
#include <cstdint>
#include <memory>
#include <string>

#include "support/TPythonServer.h"

namespace testsupport {

class TTempDir;

class TStaticHttpServer {
public:
  TStaticHttpServer();
  ~TStaticHttpServer();
  TStaticHttpServer(const TStaticHttpServer&) = delete;
  TStaticHttpServer& operator=(const TStaticHttpServer&) = delete;

  // Starts the server and waits until it listens; false (see Error()) on failure.
  bool Start();
  void Stop();
  std::uint16_t Port() const { return FServer.Port(); }
  const std::string& Error() const { return FServer.Error(); }
  // "http://127.0.0.1:port/" + name.
  std::string URL(const std::string& name) const;
  // Writes (replaces) or removes a served file.
  void SetPage(const std::string& name, const std::string& content);
  void RemovePage(const std::string& name);

private:
  std::unique_ptr<TTempDir> FDir;
  TPythonServer FServer{"the web server"};
};

}  // namespace testsupport
