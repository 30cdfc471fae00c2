#include "platform/SysErrors.h"

#include <netdb.h>

#include <algorithm>
#include <cerrno>
#include <utility>

namespace {

constexpr TErrorEntry KNames[] = {
#include "platform/ErrorNames.inc"
};

constexpr TErrorEntry KMessages[] = {
#include "platform/ErrorMessages.inc"
};

constexpr bool IsStrictlySorted(std::span<const TErrorEntry> table) {
  for (std::size_t i = 1; i < table.size(); ++i)
    if (table[i - 1].Code >= table[i].Code) return false;
  return true;
}
static_assert(IsStrictlySorted(KNames), "ErrorNames.inc must be sorted by code, one row per code");
static_assert(IsStrictlySorted(KMessages), "ErrorMessages.inc must be sorted by code, one row per code");

const char* Find(std::span<const TErrorEntry> table, int code) {
  auto it = std::lower_bound(table.begin(), table.end(), code,
                             [](const TErrorEntry& e, int c) { return e.Code < c; });
  return it != table.end() && it->Code == code ? it->Text : nullptr;
}

struct TErrnoCode {
  int Errno;
  int Code;
};

// Where an errno value means different things for files and sockets, the socket meaning
// wins unless a file error has its own code: the monitor meets sockets far more often.
constexpr TErrnoCode KErrnoCodes[] = {
  {EPERM, 5},            {ENOENT, 2},           {ESRCH, 87},           {EINTR, 10004},
  {EIO, 1117},           {ENXIO, 55},           {E2BIG, 206},          {ENOEXEC, 193},
  {EBADF, 6},            {ECHILD, 128},         {EAGAIN, 10035},       {ENOMEM, 8},
  {EACCES, 5},           {EFAULT, 10014},       {EBUSY, 170},          {EEXIST, 183},
  {EXDEV, 17},           {ENODEV, 55},          {ENOTDIR, 3},          {EISDIR, 5},
  {EINVAL, 87},          {ENFILE, 4},           {EMFILE, 10024},       {ENOTTY, 1},
  {ETXTBSY, 32},         {EFBIG, 223},          {ENOSPC, 112},         {ESPIPE, 132},
  {EROFS, 19},           {EMLINK, 1142},        {EPIPE, 109},          {EDOM, 87},
  {ERANGE, 122},         {EDEADLK, 1131},       {ENAMETOOLONG, 206},   {ENOSYS, 120},
  {ENOTEMPTY, 145},      {ELOOP, 1921},         {ETIME, 1460},         {EREMOTE, 10071},
  {EBADMSG, 13},         {EOVERFLOW, 534},      {EILSEQ, 1113},        {EUSERS, 10068},
  {ENOTSOCK, 10038},     {EDESTADDRREQ, 10039}, {EMSGSIZE, 10040},     {EPROTOTYPE, 10041},
  {ENOPROTOOPT, 10042},  {EPROTONOSUPPORT, 10043}, {ESOCKTNOSUPPORT, 10044},
  {EOPNOTSUPP, 10045},   {EPFNOSUPPORT, 10046}, {EAFNOSUPPORT, 10047}, {EADDRINUSE, 10048},
  {EADDRNOTAVAIL, 10049}, {ENETDOWN, 10050},    {ENETUNREACH, 10051},  {ENETRESET, 10052},
  {ECONNABORTED, 10053}, {ECONNRESET, 10054},   {ENOBUFS, 10055},      {EISCONN, 10056},
  {ENOTCONN, 10057},     {ESHUTDOWN, 10058},    {ETOOMANYREFS, 10059}, {ETIMEDOUT, 10060},
  {ECONNREFUSED, 10061}, {EHOSTDOWN, 10064},    {EHOSTUNREACH, 10065}, {EALREADY, 10037},
  {EINPROGRESS, 10036},  {ESTALE, 10070},       {EDQUOT, 112},         {ECANCELED, 995},
  {ENOMEDIUM, 21},       {ENOTSUP, 10045},      {EWOULDBLOCK, 10035},
};

struct TProviderError {
  bool Set = false;
  int Code = 0;
  std::string Description, Provider;
};

thread_local int TLastError = 0;
thread_local TProviderError TLastProviderError;

}  // namespace

std::string SysErrorMessage(int code) {
  const char* text = Find(KMessages, code);
  return text ? std::string(text) + "\r\n" : std::string();
}

std::string SysErrorName(int code) {
  const char* name = Find(KNames, code);
  return name ? std::string(name) : std::string();
}

int WinErrorFromErrno(int err) {
  // Asked only after a failure, so errno 0 is an unknown failure too, never success.
  for (const TErrnoCode& e : KErrnoCodes)
    if (e.Errno == err) return e.Code;
  return syserr::ERROR_GEN_FAILURE;
}

int WinErrorFromGai(int gaiCode) {
  switch (gaiCode) {
    case 0: return 0;
    case EAI_NONAME: return syserr::WSAHOST_NOT_FOUND;
    case EAI_AGAIN: return syserr::WSATRY_AGAIN;
    case EAI_FAIL: return syserr::WSANO_RECOVERY;
#ifdef EAI_NODATA
    case EAI_NODATA: return syserr::WSANO_DATA;
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY: return syserr::WSANO_DATA;
#endif
    case EAI_FAMILY: return 10047;
    case EAI_SOCKTYPE: return 10044;
    case EAI_SERVICE: return 10109;
    case EAI_MEMORY: return syserr::ERROR_NOT_ENOUGH_MEMORY;
    case EAI_BADFLAGS: return 10022;
    case EAI_OVERFLOW: return 10022;
    case EAI_SYSTEM: return WinErrorFromErrno(errno);
    default: return syserr::WSANO_RECOVERY;
  }
}

int GetLastError() { return TLastError; }

void SetLastError(int code) { TLastError = code; }

int SetLastErrorFromErrno() {
  TLastError = WinErrorFromErrno(errno);
  return TLastError;
}

void SetProviderLastError(int code, std::string description, std::string provider) {
  TLastProviderError = {true, code, std::move(description), std::move(provider)};
}

bool GetProviderLastError(int& code, std::string& description, std::string& provider) {
  if (!TLastProviderError.Set) return false;
  code = TLastProviderError.Code;
  description = TLastProviderError.Description;
  provider = TLastProviderError.Provider;
  return true;
}

void ClearProviderLastError() { TLastProviderError = TProviderError(); }

std::span<const TErrorEntry> SysErrorNameTable() { return KNames; }

std::span<const TErrorEntry> SysErrorMessageTable() { return KMessages; }
