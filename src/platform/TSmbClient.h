#pragma once
// One SMB client for the calling thread: what the Windows network's file and share calls
// did, answered with their error codes. A client is used by one thread at a time. The
// library cannot serve two threads at once, so requests of all clients go one after
// another, each bounded by its client's time-out: callers keep these off the main
// thread. The options that decide how a server is
// reached are set here, not taken from the machine's smb.conf: the port (the setting
// SMBPort), the protocols, no Kerberos and no credential cache.
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/TNetConnections.h"

struct _SMBCCTX;

class TSmbClient {
public:
  static constexpr int DefaultTimeoutMs = 10000;
  static constexpr int StandardPort = 445;
  // Share names a server may list before the rest are ignored.
  static constexpr std::size_t MaxShares = 4096;

  // The port clients made without one use (the setting SMBPort); any thread.
  static void SetDefaultPort(int port);
  static int DefaultPort();

  // credentials: those to log on with (an empty user name and password: anonymous);
  // none: those of an open connection to the server (TNetConnections), else anonymous.
  // port 0: DefaultPort().
  explicit TSmbClient(std::optional<TNetCredentials> credentials = std::nullopt, int port = 0,
                      int timeoutMs = DefaultTimeoutMs);
  ~TSmbClient();
  TSmbClient(const TSmbClient&) = delete;
  TSmbClient& operator=(const TSmbClient&) = delete;

  // 0, or the Windows code of why the client could not be made (every call then
  // answers with it).
  int SetupError() const { return FSetupError; }

  // Reads the first entry of a share's folder: path is below the share, "\" or "/"
  // separated, may be empty. 0 when there is an entry, 18 (no more files) when the
  // folder is empty, 3 when the path is missing, 67 when the share is, 5 when access is
  // denied, 1326 when the server refuses the credentials, 53 when the server cannot be
  // reached, another Windows code for anything else.
  int FirstEntry(const std::string& server, const std::string& share, const std::string& path);
  // Whether the server accepts the credentials for the resource (a share name; empty
  // or "IPC$": the server itself, by listing its shares). 0 or a code as above.
  int CheckConnection(const std::string& server, const std::string& resource);
  // The names of the server's shares, at most MaxShares. 0 or a code as above.
  int ListShares(const std::string& server, std::vector<std::string>& names);

  // The names of the entries of the type wanted (SMBC_WORKGROUP, SMBC_SERVER) in a
  // browse folder ("smb://", "smb://workgroup/"); stop is looked at after each entry.
  // 0 or the errno of the failure.
  int BrowseNames(const std::string& url, unsigned int type, std::vector<std::string>& names,
                  const std::atomic<bool>& stop);

  // The URL of a server, share and path, every character that is not plain escaped.
  static std::string Url(const std::string& server, const std::string& share = "", const std::string& path = "");
  // The Windows code for the errno a request failed with; share: whether it failed
  // reaching the share (a missing one is 67, not 3).
  static int WindowsCode(int err, bool share);

private:
  static void Authenticate(_SMBCCTX* context, const char* server, const char* share, char* workgroup,
                           int workgroupLength, char* user, int userLength, char* password, int passwordLength);
  // Opens the folder and reads its entries: each is handed to entry (its name and type)
  // until that returns false. 0 or errno.
  template <typename F>
  int ReadFolder(const std::string& url, F entry);

  // The Windows code of a failed request's errno.
  int Code(const std::string& server, int err, bool share);
  // A share's top folder; 0 or errno.
  int StatShare(const std::string& server, const std::string& share);

  _SMBCCTX* FContext = nullptr;
  std::optional<TNetCredentials> FCredentials;
  int FSetupError = 0;
};
