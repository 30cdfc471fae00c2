#pragma once
// Errors never cross a thread or callback boundary, but none may vanish either: the code
// that swallows one hands it to a fault hook, which its owner wires to the event log
// (category "E", rate-limited there so a fault in a loop cannot flood the log).
#include <functional>
#include <string>

// `where` names the place ("Timer1", "echo receive thread"); `what` is the error's text.
// A hook may be called from any thread and must not throw.
using TFaultHook = std::function<void(const std::string& where, const std::string& what)>;

// The text of the exception being handled: what() of a std::exception, else
// "unknown exception". Call it only inside a catch block.
std::string CurrentExceptionText();

// Calls the hook when there is one; never throws, whatever the hook does.
void ReportFault(const TFaultHook& hook, const std::string& where, const std::string& what) noexcept;
