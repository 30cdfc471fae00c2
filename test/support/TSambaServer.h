#pragma once
// A real Samba server (Debian's smbd) on a free loopback port, run in a private temp
// folder with its own smb.conf, state and password database, for the tests of the
// Windows-network features: share tests and lists, the service protocol, remote
// shutdown. It needs root (smbd changes to the connecting user) and the samba package;
// Available() says why not. The server and the helpers it spawns stop with the object.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace testsupport {

class TTempDir;

class TSambaServer {
public:
  static constexpr const char* Smbd = "/usr/sbin/smbd";

  // Whether this machine can run the server; why names what is missing.
  static bool Available(std::string& why);

  TSambaServer();
  ~TSambaServer();
  TSambaServer(const TSambaServer&) = delete;
  TSambaServer& operator=(const TSambaServer&) = delete;

  // Before Start. A share on a new folder below the server's root (returned); extra
  // lines go into the share's section ("read only = no", "valid users = x").
  std::string AddShare(const std::string& name, const std::string& extraLines = "");
  // Before Start. A line for the [global] section ("shutdown script = ...").
  void AddGlobal(const std::string& line);

  // Writes the configuration and runs smbd; true once it accepts connections on
  // Port(). False (see Error()) when it does not.
  bool Start();
  void Stop();

  // Adds an SMB account with the password (after Start or before). A user other than
  // root is made a system user first when the machine has none of the name.
  bool AddUser(const std::string& user, const std::string& password);

  std::uint16_t Port() const { return FPort; }
  const std::string& ConfFile() const { return FConfFile; }
  const std::string& Root() const;
  const std::string& Error() const { return FError; }
  // The server's log (smbd's standard output and error), for failure messages.
  std::string Log() const;

private:
  std::unique_ptr<TTempDir> FDir;
  std::string FConfFile;
  std::vector<std::string> FGlobals;
  std::string FShares;
  std::uint16_t FPort = 0;
  int FPid = -1;
  std::string FError;
};

}  // namespace testsupport
