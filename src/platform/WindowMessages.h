#pragma once
// Window messages between processes of the same user. A window (TWindowChannel) is a
// local socket named "<class>@<handle>" in the user's window folder; these calls find
// windows and deliver messages to them. They block the caller, need no event loop and
// may be used from any thread. While a thread that owns windows waits for an answer,
// messages sent to its own windows are handled, so two windows that send to each other
// do not wait on each other; a send to a window of the calling thread calls its handler
// directly.
//
// Failures set the calling thread's last error (SysErrors.h): 1400 when the window does
// not exist or went away before answering, 1460 on time-out, 87 for a bad parameter.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace winmsg {
constexpr std::uint32_t WM_CLOSE = 0x0010;
constexpr std::uint32_t WM_QUERYENDSESSION = 0x0011;
constexpr std::uint32_t WM_ENDSESSION = 0x0016;
constexpr std::uint32_t WM_COPYDATA = 0x004A;
constexpr std::uint32_t WM_USER = 0x0400;

// Last-error codes of the calls below (ERROR_INVALID_PARAMETER is in SysErrors.h).
constexpr int ERROR_INVALID_WINDOW_HANDLE = 1400;
constexpr int ERROR_TIMEOUT = 1460;
constexpr int ERROR_NOT_ENOUGH_QUOTA = 1816;  // the window's queue of posted messages is full

// SendMessage waits this long for an answer.
constexpr unsigned SendMessageWaitMs = 60000;
// Largest data-copy payload.
constexpr std::size_t MaxCopyDataSize = 16u * 1024u * 1024u;
}  // namespace winmsg

// The folder of the window sockets: $XDG_RUNTIME_DIR/corvale/windows, or
// ~/.cache/corvale/windows when XDG_RUNTIME_DIR is unset. Created with mode 0700 when
// missing; empty when it cannot be created or a part of it is not a private folder of
// this user (a symbolic link, another owner, open to others).
std::string WindowFolder();

// A live window of the class, the most recently registered first; 0 when none. Socket
// files left by windows whose process died are removed on the way.
std::uintptr_t FindWindow(const std::string& className);
// Every live window of the class, the most recently registered first.
std::vector<std::uintptr_t> FindWindows(const std::string& className);
bool IsWindow(std::uintptr_t hwnd);
// The window's caption; empty when the window does not exist.
std::string GetWindowText(std::uintptr_t hwnd);

// Delivers the message and waits up to timeoutMs for the handler's result. False on
// time-out, for a window that does not exist or dies meanwhile, and for WM_COPYDATA
// (use SendCopyData).
bool SendMessageTimeout(std::uintptr_t hwnd, std::uint32_t msg, std::uintptr_t wParam,
                        std::intptr_t lParam, unsigned timeoutMs, std::intptr_t& result);
// SendMessageTimeout with winmsg::SendMessageWaitMs; 0 when it fails.
std::intptr_t SendMessage(std::uintptr_t hwnd, std::uint32_t msg, std::uintptr_t wParam,
                          std::intptr_t lParam);
// Queues the message for the window and returns once it is handed over; the window
// handles it later from its event loop. WM_COPYDATA cannot be posted.
bool PostMessage(std::uintptr_t hwnd, std::uint32_t msg, std::uintptr_t wParam,
                 std::intptr_t lParam);
// The data-copy message: the window's data-copy handler receives sender, dwData and a
// copy of the bytes (at most winmsg::MaxCopyDataSize).
bool SendCopyData(std::uintptr_t hwnd, std::uintptr_t sender, std::uintptr_t dwData,
                  const std::string& bytes, unsigned timeoutMs, std::intptr_t& result);

// The frames on the window sockets and the socket file names; shared by the window and
// the senders, public so that it can be tested on its own.
//
// A frame is a 40-byte little-endian header followed by its payload:
//   0 magic "CVWM" | 4 kind (16 bits) | 6 reserved, 0 (16 bits) | 8 msg (32 bits)
//   | 12 payload length (32 bits) | 16 wParam (64) | 24 lParam (64) | 32 sender (64)
// A request is answered on the same connection: a Send or GetText by one Reply (lParam
// the result, payload the caption for GetText); a Post is not answered. For WM_COPYDATA
// wParam and sender are the sending window and lParam is dwData.
namespace winwire {

enum class TFrameKind : std::uint16_t { Send = 1, Post = 2, GetText = 3, Reply = 4 };

struct TFrame {
  TFrameKind Kind = TFrameKind::Send;
  std::uint32_t Msg = 0;
  std::uint64_t WParam = 0;
  std::int64_t LParam = 0;
  std::uint64_t Sender = 0;
  std::string Payload;
};

constexpr std::size_t HeaderSize = 40;
constexpr std::uint32_t Magic = 0x4D575643;  // "CVWM"

std::string EncodeFrame(const TFrame& frame);

enum class TDecode { Complete, NeedMore, Malformed };
// Decodes the frame at the start of data. Complete sets frame and consumed. Malformed
// for a wrong magic, an unknown kind, a non-zero reserved field, a payload over the
// limit or a payload on a frame that carries none (only a data-copy Send and a Reply do).
TDecode DecodeFrame(const char* data, std::size_t size, TFrame& frame, std::size_t& consumed);

// "<class>@<handle>" with the handle in decimal and every byte of the class outside
// A-Z a-z 0-9 _ - . written as "%" and two upper-case hexadecimal digits.
std::string SocketName(const std::string& className, std::uintptr_t hwnd);
// The inverse; false for any name SocketName does not produce.
bool ParseSocketName(const std::string& name, std::string& className, std::uintptr_t& hwnd);

}  // namespace winwire
