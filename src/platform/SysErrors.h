#pragma once
// The system error facility: Windows and Winsock error codes, their constant names and
// message texts, the calling thread's last error, and the mapping from errno.
#include <span>
#include <string>

// Well-known codes used across the program.
namespace syserr {
constexpr int ERROR_SUCCESS = 0;
constexpr int ERROR_FILE_NOT_FOUND = 2;
constexpr int ERROR_PATH_NOT_FOUND = 3;
constexpr int ERROR_ACCESS_DENIED = 5;
constexpr int ERROR_INVALID_HANDLE = 6;
constexpr int ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr int ERROR_INVALID_PARAMETER = 87;
constexpr int ERROR_ALREADY_EXISTS = 183;
constexpr int ERROR_GEN_FAILURE = 31;
constexpr int ERROR_MORE_DATA = 234;
constexpr int ERROR_OPERATION_ABORTED = 995;
constexpr int ERROR_BAD_NETPATH = 53;
constexpr int ERROR_EXTENDED_ERROR = 1208;
constexpr int ERROR_LOGON_FAILURE = 1326;
constexpr int ERROR_SERVICE_DOES_NOT_EXIST = 1060;
constexpr int WAIT_TIMEOUT = 258;
constexpr int WSAETIMEDOUT = 10060;
constexpr int WSAECONNREFUSED = 10061;
constexpr int WSAHOST_NOT_FOUND = 11001;
constexpr int WSATRY_AGAIN = 11002;
constexpr int WSANO_RECOVERY = 11003;
constexpr int WSANO_DATA = 11004;
}  // namespace syserr

// The system's message text for a code, ending in "\r\n" as system messages do; empty
// for a code the system has no message for.
std::string SysErrorMessage(int code);

// The published constant name of a Windows or Winsock error code; empty when unknown.
std::string SysErrorName(int code);

// The Windows/Winsock code that matches an errno value (ENOENT -> 2, ECONNREFUSED ->
// 10061, ...); unknown values map to a generic failure code, never to 0.
int WinErrorFromErrno(int err);

// Per-thread last error, as the system keeps it.
int GetLastError();
void SetLastError(int code);
// Sets the last error from errno and returns the mapped code.
int SetLastErrorFromErrno();

// The Winsock code of a getaddrinfo result (EAI_NONAME -> 11001, EAI_AGAIN -> 11002,
// EAI_FAIL -> 11003, EAI_NODATA -> 11004, ...); 0 stays 0. EAI_SYSTEM maps errno.
int WinErrorFromGai(int gaiCode);

// The calling thread's last error of the network provider, the stand-in for what
// code 1208 (extended network error) refers to. Network-share code sets it.
void SetProviderLastError(int code, std::string description, std::string provider);
// False when none was set on this thread since the last clear.
bool GetProviderLastError(int& code, std::string& description, std::string& provider);
void ClearProviderLastError();

// One row of a code table.
struct TErrorEntry {
  int Code;
  const char* Text;
};
// The constant names and the message texts (without line break), each sorted by code
// with one row per code.
std::span<const TErrorEntry> SysErrorNameTable();
std::span<const TErrorEntry> SysErrorMessageTable();
