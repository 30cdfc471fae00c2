#pragma once
// The texts shown in logs and alerts for Windows and Winsock error codes.
#include <string>

// The code's message on one line, then " (0x" + eight upper-case hex digits + ")". A
// negative code counts as its positive value; a code without a message shows its name.
// Code 1208 shows the network provider's last error when one is recorded.
std::string ErrorText(int code);

// The code's constant name without trailing "_", or "Unknown Error " + the decimal code.
std::string ErrorName(int code);

// ErrorText of the Windows code that matches an errno value.
std::string ErrnoText(int err);
