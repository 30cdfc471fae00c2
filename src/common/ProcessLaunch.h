#pragma once
// Starting other programs from a command line: start and return (LaunchProcess), start
// and wait with the event loop running (RunAndWait), and run a console command with its
// output captured (RunCaptured).
//
// A command line is cut into the program and its argument text (SplitCommandLine), and
// the argument text into arguments with the Windows quoting rules (ParseArguments); no
// shell is involved unless the command names one ("/bin/sh -c ..."). The program is
// found through PATH when it has no "/".
//
// The show-window value is accepted for the callers' sake and has no effect here: a
// started program opens its windows as it sees fit. Only the empty user token is
// accepted (see TUserToken); another gives ERROR_NOT_SUPPORTED.
#include "platform/FaultReport.h"
#include "platform/Processes.h"

#include <atomic>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

struct TCommandLine {
  std::string Program;
  std::string Arguments;
};

// A line that begins with a double quote: the program is the text up to the next double
// quote (the rest of the line when there is none), the arguments are what follows it,
// trimmed. Otherwise the program is the text before the first blank and the arguments
// the trimmed rest. Leading blanks are skipped, as the system skips them.
TCommandLine SplitCommandLine(const std::string& commandLine);

// The argument text as the arguments a Windows program receives: blanks and tabs
// separate, double quotes group (a doubled one inside a quoted stretch stands for
// itself), 2n backslashes before a double quote give n backslashes and the quote
// groups, 2n+1 give n backslashes and a literal quote; other backslashes are literal.
std::vector<std::string> ParseArguments(const std::string& arguments);

// Starts the command line in workDir (empty: ours). The caller owns the returned handle
// and closes it with CloseProcessHandle; on failure its Value is the negated system
// error code (-ERROR_FILE_NOT_FOUND for a missing program).
TProcessHandle LaunchProcess(const std::string& commandLine, const std::string& workDir, int showWindow,
                             TUserToken token = NoUserToken);

// Starts like LaunchProcess and waits for the end, letting the Qt events of this thread
// run every 10 ms meanwhile when a QCoreApplication exists; the caller guards against
// re-entry. Returns 0 with the exit code stored, or the negated system error code.
int RunAndWait(const std::string& commandLine, const std::string& workDir, int showWindow, TUserToken token,
               int& exitCode);

// Receives each piece of captured output as it is read; an exception it throws is
// swallowed, and the first of a run is handed to RunCaptured's fault hook.
using TOutputChunkCallback = std::function<void(std::string_view chunk)>;

// Runs the command line (cut to 255 characters) with standard output and error captured
// together, in workDir when not empty, and puts everything read, in order, into output
// (each piece of up to 1024 bytes also goes to onChunk). Standard input is empty.
// errorCode is 0, or the system error code when the command could not be started.
// exitCode comes in as the code to report for a command that is ended early and goes out
// as the command's exit code. The command is ended, together with everything it started,
// when abortFlag becomes true or when timeoutMs (0: none) has passed; what it wrote until
// then is kept. threadPriority (-15 .. 15) becomes the command's nice value; the creation
// flags have no meaning here and are ignored.
void RunCaptured(const std::string& commandLine, const std::string& workDir, int& errorCode, std::string& output,
                 int threadPriority, unsigned creationFlags, const std::atomic<bool>* abortFlag, int timeoutMs,
                 TUserToken token, const TOutputChunkCallback& onChunk, int& exitCode,
                 const TFaultHook& faultHook = {});
