#pragma once
// Starting the program at login: a freedesktop autostart entry of the user, which holds
// what the Windows Run key's value "Corvale" held. Callers speak the Run key's command
// line ("\"<program>\"" or "\"<program>\" /minimize"); the entry's Exec line is that
// command line quoted as the desktop entry format wants.
#include <string>
#include <vector>

// $XDG_CONFIG_HOME (when set and absolute, else ~/.config) + "/autostart/corvale.desktop";
// empty when neither the variable nor a home folder is known.
std::string LoginStartupFileName();

// The entry's command line, the program quoted: "\"<program>\"" followed by its
// arguments, each after a blank. Empty when there is no entry, when it is hidden
// (Hidden=true) or switched off (X-GNOME-Autostart-enabled=false), or when it cannot be
// read; error then says why (an entry that is not there is no error).
std::string ReadLoginStartup(std::string* error = nullptr);

// Writes the entry for a command line as the Run key held it (first field the program,
// double quotes around fields with blanks); replaces any entry there was. False with
// the error text.
bool WriteLoginStartup(const std::string& commandLine, std::string& error);

// Removes the entry; an entry that is not there is no error.
bool DeleteLoginStartup(std::string& error);

// The Exec value of the desktop entry format for the arguments (each quoted when it
// needs it, the program always), and back: the arguments of an Exec value, field codes
// dropped. False for a value with an unclosed quote.
std::string DesktopExecLine(const std::vector<std::string>& arguments);
bool ParseDesktopExecLine(const std::string& exec, std::vector<std::string>& arguments);
