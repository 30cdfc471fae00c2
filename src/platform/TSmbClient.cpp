#include "platform/TSmbClient.h"

#include <libsmbclient.h>

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "platform/SysErrors.h"

namespace {

constexpr int NoMoreFiles = 18;
constexpr int BadNetName = 67;

std::atomic<int> GDefaultPort{TSmbClient::StandardPort};
// The library keeps process-wide state (its configuration, its memory frames) that two
// threads must not use at once, even through contexts of their own: every call into it
// holds this lock. A request waits at most for the others' time-outs.
std::recursive_mutex GLibraryLock;

void CopyBounded(char* target, int length, const std::string& text) {
  if (length <= 0) return;
  const std::size_t n = std::min(text.size(), static_cast<std::size_t>(length - 1));
  std::memcpy(target, text.data(), n);
  target[n] = '\0';
}

bool IsPlain(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
         c == '.' || c == '~' || c == '$';
}

void AppendHex(std::string& url, unsigned char c) {
  static const char* const Hex = "0123456789ABCDEF";
  url += '%';
  url += Hex[c >> 4];
  url += Hex[c & 15];
}

// Our texts are Latin-1, the library's UTF-8: a name it hands back with a character
// beyond Latin-1 gets "?" for it.
std::string Latin1FromUtf8(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    int length = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 1;
    if (i + length > text.size()) length = 1;
    if (length == 1) {
      out += c < 0x80 ? static_cast<char>(c) : '?';
    } else {
      const unsigned int point = ((c & 0x1F) << 6) | (static_cast<unsigned char>(text[i + 1]) & 0x3F);
      out += length == 2 && point <= 0xFF ? static_cast<char>(point) : '?';
    }
    i += static_cast<std::size_t>(length);
  }
  return out;
}

void AppendEscaped(std::string& url, const std::string& part, bool keepSlashes) {
  for (const char ch : part) {
    const auto c = static_cast<unsigned char>(ch);
    if (IsPlain(c)) {
      url += ch;
    } else if (keepSlashes && (c == '/' || c == '\\')) {
      if (url.back() != '/') url += '/';
    } else if (c >= 0x80) {
      AppendHex(url, static_cast<unsigned char>(0xC0 | (c >> 6)));
      AppendHex(url, static_cast<unsigned char>(0x80 | (c & 0x3F)));
    } else {
      AppendHex(url, c);
    }
  }
}

}  // namespace

void TSmbClient::SetDefaultPort(int port) { GDefaultPort.store(port > 0 && port <= 65535 ? port : StandardPort); }

int TSmbClient::DefaultPort() { return GDefaultPort.load(); }

TSmbClient::TSmbClient(std::optional<TNetCredentials> credentials, int port, int timeoutMs)
    : FCredentials(std::move(credentials)) {
  const std::lock_guard<std::recursive_mutex> guard(GLibraryLock);
  SMBCCTX* context = smbc_new_context();
  if (context == nullptr) {
    FSetupError = syserr::ERROR_NOT_ENOUGH_MEMORY;
    return;
  }
  smbc_setDebug(context, 0);
  smbc_setOptionDebugToStderr(context, 1);
  smbc_setTimeout(context, timeoutMs > 0 ? timeoutMs : DefaultTimeoutMs);
  smbc_setPort(context, static_cast<std::uint16_t>(port > 0 && port <= 65535 ? port : DefaultPort()));
  smbc_setOptionUseKerberos(context, 0);
  smbc_setOptionFallbackAfterKerberos(context, 1);
  smbc_setOptionUseCCache(context, 0);
  // A refused password must say so, not become an anonymous session that lists less.
  smbc_setOptionNoAutoAnonymousLogin(context, 1);
  smbc_setOptionUserData(context, this);
  smbc_setFunctionAuthDataWithContext(context, &TSmbClient::Authenticate);
  if (smbc_init_context(context) == nullptr) {
    FSetupError = WinErrorFromErrno(errno != 0 ? errno : EINVAL);
    // An uninitialised context must not be shut down.
    smbc_free_context(context, 0);
    return;
  }
  smbc_setOptionProtocols(context, "SMB2_02", "SMB3");
  FContext = context;
}

TSmbClient::~TSmbClient() {
  const std::lock_guard<std::recursive_mutex> guard(GLibraryLock);
  if (FContext != nullptr) smbc_free_context(FContext, 1);
}

void TSmbClient::Authenticate(SMBCCTX* context, const char* server, const char*, char* workgroup, int workgroupLength,
                              char* user, int userLength, char* password, int passwordLength) {
  const auto* self = static_cast<const TSmbClient*>(smbc_getOptionUserData(context));
  std::optional<TNetCredentials> credentials = self != nullptr ? self->FCredentials : std::nullopt;
  if (!credentials) credentials = TNetConnections::Instance().CredentialsFor(server != nullptr ? server : "");
  TNetCredentials given = credentials.value_or(TNetCredentials{});
  // "DOMAIN\user" names the domain the account belongs to.
  std::string name = given.User;
  const std::size_t slash = name.find('\\');
  if (slash != std::string::npos) {
    const std::string domain = name.substr(0, slash);
    if (!domain.empty() && domain != ".") CopyBounded(workgroup, workgroupLength, domain);
    name.erase(0, slash + 1);
  }
  CopyBounded(user, userLength, name);
  CopyBounded(password, passwordLength, given.Password);
}

std::string TSmbClient::Url(const std::string& server, const std::string& share, const std::string& path) {
  std::string url = "smb://";
  AppendEscaped(url, server, false);
  url += '/';
  if (share.empty()) return url;
  AppendEscaped(url, share, false);
  url += '/';
  AppendEscaped(url, path, true);
  return url;
}

int TSmbClient::WindowsCode(int err, bool share) {
  switch (err) {
    case 0: return 0;
    case ENOENT: return share ? BadNetName : syserr::ERROR_PATH_NOT_FOUND;
    case ENOTDIR: return syserr::ERROR_PATH_NOT_FOUND;
    case EACCES: return syserr::ERROR_ACCESS_DENIED;
    case EPERM: return syserr::ERROR_LOGON_FAILURE;
    case ECONNREFUSED:
    case ETIMEDOUT:
    case EHOSTUNREACH:
    case ENETUNREACH:
    case ECONNRESET:
    case ECONNABORTED:
    case EPIPE:
    case ENODEV: return syserr::ERROR_BAD_NETPATH;
    default: return WinErrorFromErrno(err);
  }
}

int TSmbClient::Code(const std::string& server, int err, bool share) {
  // The library says "access denied" for a refused logon too; the server's IPC$ needs
  // no more than a session, so refusing it too means the logon was refused.
  if (err == EACCES && StatShare(server, "IPC$") == EACCES) return syserr::ERROR_LOGON_FAILURE;
  return WindowsCode(err, share);
}

template <typename F>
int TSmbClient::ReadFolder(const std::string& url, F entry) {
  errno = 0;
  SMBCFILE* folder = smbc_getFunctionOpendir(FContext)(FContext, url.c_str());
  if (folder == nullptr) return errno != 0 ? errno : EIO;
  for (;;) {
    errno = 0;
    const smbc_dirent* found = smbc_getFunctionReaddir(FContext)(FContext, folder);
    if (found == nullptr ||
        !entry(Latin1FromUtf8(std::string(found->name, strnlen(found->name, found->namelen))), found->smbc_type))
      break;
  }
  const int readError = errno;
  smbc_getFunctionClosedir(FContext)(FContext, folder);
  return readError;
}

int TSmbClient::StatShare(const std::string& server, const std::string& share) {
  struct stat st {};
  errno = 0;
  if (smbc_getFunctionStat(FContext)(FContext, Url(server, share).c_str(), &st) == 0) return 0;
  return errno != 0 ? errno : EIO;
}

int TSmbClient::FirstEntry(const std::string& server, const std::string& share, const std::string& path) {
  const std::lock_guard<std::recursive_mutex> guard(GLibraryLock);
  if (FContext == nullptr) return FSetupError;
  bool found = false;
  const auto first = [&found](const std::string& name, unsigned int) {
    found = name != "." && name != "..";
    return !found;
  };
  // The share first: a missing share and a missing folder in it fail alike below.
  if (path.find_first_not_of("\\/") != std::string::npos) {
    const int err = StatShare(server, share);
    if (err != 0) return Code(server, err, true);
  }
  const int err = ReadFolder(Url(server, share, path), first);
  if (err != 0 && !found) return Code(server, err, path.find_first_not_of("\\/") == std::string::npos);
  return found ? 0 : NoMoreFiles;
}

int TSmbClient::CheckConnection(const std::string& server, const std::string& resource) {
  const std::lock_guard<std::recursive_mutex> guard(GLibraryLock);
  if (FContext == nullptr) return FSetupError;
  if (resource.empty() || resource == "IPC$" || resource == "ipc$") {
    std::vector<std::string> names;
    return ListShares(server, names);
  }
  return Code(server, StatShare(server, resource), true);
}

int TSmbClient::ListShares(const std::string& server, std::vector<std::string>& names) {
  const std::lock_guard<std::recursive_mutex> guard(GLibraryLock);
  if (FContext == nullptr) return FSetupError;
  const int err = ReadFolder(Url(server), [&names](const std::string& name, unsigned int type) {
    const bool share = type == SMBC_FILE_SHARE || type == SMBC_PRINTER_SHARE || type == SMBC_COMMS_SHARE ||
                       type == SMBC_IPC_SHARE;
    if (share && !name.empty()) names.push_back(name);
    return names.size() < MaxShares;
  });
  return Code(server, err, false);
}

int TSmbClient::BrowseNames(const std::string& url, unsigned int type, std::vector<std::string>& names,
                            const std::atomic<bool>& stop) {
  const std::lock_guard<std::recursive_mutex> guard(GLibraryLock);
  if (FContext == nullptr) return ENOMEM;
  return ReadFolder(url, [&](const std::string& name, unsigned int entryType) {
    if (entryType == type && !name.empty()) names.push_back(name);
    return !stop && names.size() < MaxShares;
  });
}
