#pragma once
// A real server written as a short Python script (Debian's /usr/bin/python3): the script
// binds a free loopback port and prints it as its first line; the server stops with the
// object.
#include <QStringList>

#include <cstdint>
#include <memory>
#include <string>

class QProcess;

namespace testsupport {

class TPythonServer {
public:
  static constexpr const char* Python = "/usr/bin/python3";

  // what names the server in the errors ("the web server").
  explicit TPythonServer(std::string what);
  ~TPythonServer();
  TPythonServer(const TPythonServer&) = delete;
  TPythonServer& operator=(const TPythonServer&) = delete;

  // Runs the script file with the arguments and waits for the port; false (see Error())
  // when it does not start or reports none.
  bool Start(const std::string& scriptFile, const QStringList& arguments);
  void Stop();
  std::uint16_t Port() const { return FPort; }
  const std::string& Error() const { return FError; }

private:
  std::string FWhat;
  std::unique_ptr<QProcess> FProcess;
  std::uint16_t FPort = 0;
  std::string FError;
};

}  // namespace testsupport
