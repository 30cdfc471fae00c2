#pragma once
// The network connections the program holds to other computers, kept as the Windows
// network keeps them: a connection made with a user name and password to
// "\\server\resource" lends those credentials to every later request to that server
// (service control, share access, remote shutdown) until it is cancelled. Connections
// are counted, so two tests of one server may connect and disconnect in any order.
// Thread-safe: test threads connect and disconnect at once.
#include <map>
#include <mutex>
#include <optional>
#include <string>

struct TNetCredentials {
  std::string User;  // empty: the current credentials
  std::string Password;
};

class TNetConnections {
public:
  static TNetConnections& Instance();

  // Empty credentials (the current ones) count the connection but lend nothing.
  void Add(const std::string& remoteName, const TNetCredentials& credentials);
  // Cancels one connection of the remote name; an unknown name is ignored.
  void Cancel(const std::string& remoteName);
  // The credentials of the newest connection still open to the server, if any.
  std::optional<TNetCredentials> CredentialsFor(const std::string& server) const;

  // The computer of a remote name: "server" of "\\server\share\path" (also "//server/x"),
  // the name itself when it has no leading separators.
  static std::string ServerOf(const std::string& remoteName);

private:
  struct TEntry {
    TNetCredentials Credentials;
    int Count = 0;
    unsigned long Serial = 0;
  };
  mutable std::mutex FLock;
  std::map<std::string, TEntry> FByRemoteName;  // keys lower-cased
  unsigned long FSerial = 0;
};
