#include "platform/LoginStartup.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace {

constexpr const char* EntryName = "corvale.desktop";

std::string ErrnoMessage(int code) { return std::strerror(code); }

std::string HomeFolder() {
  if (const char* home = std::getenv("HOME"); home && *home) return home;
  struct passwd pw {};
  struct passwd* found = nullptr;
  char buffer[4096];
  if (getpwuid_r(getuid(), &pw, buffer, sizeof buffer, &found) == 0 && found && found->pw_dir) return found->pw_dir;
  return {};
}

std::string ConfigFolder() {
  // A relative path in the variable is not a configuration home: ignore it, as desktops do.
  if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && config[0] == '/') return config;
  const std::string home = HomeFolder();
  return home.empty() ? std::string() : home + "/.config";
}

// Characters an Exec argument may hold only inside double quotes.
bool NeedsQuotes(const std::string& argument) {
  if (argument.empty()) return true;
  for (char c : argument)
    if (std::strchr(" \t\n\"'\\><~|&;$*?#()`", c) != nullptr) return true;
  return false;
}

// The escapes every string value of a desktop entry takes, on top of the Exec quoting.
std::string EscapeValue(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      default: out += c;
    }
  }
  return out;
}

std::string UnescapeValue(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    switch (const char c = text[++i]) {
      case 's': out += ' '; break;
      case 'n': out += '\n'; break;
      case 't': out += '\t'; break;
      case 'r': out += '\r'; break;
      case '\\': out += '\\'; break;
      default: out += '\\'; out += c;
    }
  }
  return out;
}

// "%%" is a percent sign; any other "%" and the letter after it is a field code, which
// the program never uses: an argument made of field codes alone goes.
bool DropFieldCodes(std::string& argument) {
  std::string out;
  bool codesOnly = !argument.empty();
  for (size_t i = 0; i < argument.size(); ++i) {
    if (argument[i] == '%' && i + 1 < argument.size()) {
      if (argument[++i] == '%') {
        out += '%';
        codesOnly = false;
      }
      continue;
    }
    out += argument[i];
    codesOnly = false;
  }
  argument = out;
  return !codesOnly;
}

// The fields of a command line as the Run key held it: blank-separated, double quotes
// around fields that hold blanks.
std::vector<std::string> RunKeyFields(const std::string& commandLine) {
  std::vector<std::string> fields;
  std::string field;
  bool quoted = false, any = false;
  for (char c : commandLine) {
    if (c == '"') {
      quoted = !quoted;
      any = true;
    } else if (c == ' ' && !quoted) {
      if (any) fields.push_back(field);
      field.clear();
      any = false;
    } else {
      field += c;
      any = true;
    }
  }
  if (any) fields.push_back(field);
  return fields;
}

std::string RunKeyLine(const std::vector<std::string>& arguments) {
  std::string line;
  for (size_t i = 0; i < arguments.size(); ++i) {
    if (i > 0) line += ' ';
    const bool quote = i == 0 || arguments[i].find(' ') != std::string::npos || arguments[i].empty();
    line += quote ? "\"" + arguments[i] + "\"" : arguments[i];
  }
  return line;
}

std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool MakeFolder(const std::string& folder, std::string& error) {
  for (size_t at = 1; at != std::string::npos;) {
    at = folder.find('/', at + 1);
    const std::string part = folder.substr(0, at);
    if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
      error = "Unable to create " + part + ": " + ErrnoMessage(errno);
      return false;
    }
  }
  return true;
}

bool WriteAll(int fd, const std::string& text) {
  for (size_t done = 0; done < text.size();) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) errno = EIO;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// False with errno set.
bool ReadWhole(const std::string& fileName, std::string& content) {
  int fd;
  do fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
  while (fd < 0 && errno == EINTR);
  if (fd < 0) return false;
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int code = errno;
      ::close(fd);
      errno = code;
      return false;
    }
    if (n == 0) break;
    content.append(buffer, static_cast<size_t>(n));
    // No desktop entry is this long; a device or a runaway file is not read to its end.
    if (content.size() > 1024 * 1024) {
      ::close(fd);
      errno = EFBIG;
      return false;
    }
  }
  ::close(fd);
  return true;
}

}  // namespace

std::string LoginStartupFileName() {
  const std::string folder = ConfigFolder();
  return folder.empty() ? std::string() : folder + "/autostart/" + EntryName;
}

std::string DesktopExecLine(const std::vector<std::string>& arguments) {
  std::string line;
  for (size_t i = 0; i < arguments.size(); ++i) {
    if (i > 0) line += ' ';
    std::string argument;
    for (char c : arguments[i]) {
      if (c == '%') argument += '%';
      argument += c;
    }
    // The program is quoted whatever it holds, as the Run key held it.
    if (i == 0 || NeedsQuotes(arguments[i])) {
      std::string quoted = "\"";
      for (char c : argument) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
        quoted += c;
      }
      argument = quoted + '"';
    }
    line += argument;
  }
  return EscapeValue(line);
}

bool ParseDesktopExecLine(const std::string& exec, std::vector<std::string>& arguments) {
  arguments.clear();
  const std::string text = UnescapeValue(exec);
  std::string argument;
  bool quoted = false, any = false;
  const auto finish = [&] {
    if (any && DropFieldCodes(argument)) arguments.push_back(argument);
    argument.clear();
    any = false;
  };
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      if (c == '"') {
        quoted = false;
      } else if (c == '\\' && i + 1 < text.size() && std::strchr("\"`$\\", text[i + 1]) != nullptr) {
        argument += text[++i];
      } else {
        argument += c;
      }
    } else if (c == '"') {
      quoted = any = true;
    } else if (c == ' ' || c == '\t' || c == '\n') {
      finish();
    } else if (c == '\\' && i + 1 < text.size()) {
      argument += text[++i];
      any = true;
    } else {
      argument += c;
      any = true;
    }
  }
  if (quoted) {
    arguments.clear();
    return false;
  }
  finish();
  return true;
}

std::string ReadLoginStartup(std::string* error) {
  const auto fail = [error](const std::string& why) {
    if (error) *error = why;
    return std::string();
  };
  if (error) error->clear();
  const std::string fileName = LoginStartupFileName();
  if (fileName.empty()) return fail("neither XDG_CONFIG_HOME nor a home folder is known");
  std::string content;
  if (!ReadWhole(fileName, content)) return errno == ENOENT ? std::string() : fail(ErrnoMessage(errno));
  std::istringstream in(content);
  std::string line, exec;
  bool inEntry = false, haveExec = false;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::string text = Trimmed(line);
    if (text.empty() || text[0] == '#') continue;
    if (text[0] == '[') {
      inEntry = text == "[Desktop Entry]";
      continue;
    }
    const size_t equals = text.find('=');
    if (!inEntry || equals == std::string::npos) continue;
    const std::string key = Trimmed(text.substr(0, equals));
    const std::string value = Trimmed(text.substr(equals + 1));
    // Both mean the user switched the entry off without removing it.
    if (key == "Hidden" && value == "true") return {};
    if (key == "X-GNOME-Autostart-enabled" && value == "false") return {};
    if (key == "Exec") {
      exec = value;
      haveExec = true;
    }
  }
  if (!haveExec) return fail(fileName + " holds no command line (Exec)");
  std::vector<std::string> arguments;
  if (!ParseDesktopExecLine(exec, arguments)) return fail(fileName + ": the command line has an unclosed quote");
  if (arguments.empty()) return fail(fileName + " holds an empty command line");
  return RunKeyLine(arguments);
}

bool WriteLoginStartup(const std::string& commandLine, std::string& error) {
  const std::vector<std::string> arguments = RunKeyFields(commandLine);
  if (arguments.empty() || arguments[0].empty()) {
    error = "no program given";
    return false;
  }
  const std::string fileName = LoginStartupFileName();
  if (fileName.empty()) {
    error = "neither XDG_CONFIG_HOME nor a home folder is known";
    return false;
  }
  const std::string folder = fileName.substr(0, fileName.rfind('/'));
  if (!MakeFolder(folder, error)) return false;
  const std::string text = "[Desktop Entry]\nType=Application\nName=Corvale\nExec=" + DesktopExecLine(arguments) + "\n";

  // Written beside the entry and renamed over it: a session starting meanwhile reads
  // the old entry or the new one, never half of one.
  std::string temporary = folder + "/.corvale.desktop.XXXXXX";
  const int fd = ::mkstemp(temporary.data());
  if (fd < 0) {
    error = "Unable to create a file in " + folder + ": " + ErrnoMessage(errno);
    return false;
  }
  bool ok = ::fchmod(fd, 0644) == 0 && WriteAll(fd, text) && ::fsync(fd) == 0;
  int code = errno;
  if (::close(fd) != 0 && ok) {
    ok = false;
    code = errno;
  }
  if (ok && ::rename(temporary.c_str(), fileName.c_str()) != 0) {
    ok = false;
    code = errno;
  }
  if (ok) return true;
  error = "Unable to write " + fileName + ": " + ErrnoMessage(code);
  ::unlink(temporary.c_str());
  return false;
}

bool DeleteLoginStartup(std::string& error) {
  const std::string fileName = LoginStartupFileName();
  if (fileName.empty()) {
    error = "neither XDG_CONFIG_HOME nor a home folder is known";
    return false;
  }
  if (::unlink(fileName.c_str()) == 0 || errno == ENOENT) return true;
  error = "Unable to remove " + fileName + ": " + ErrnoMessage(errno);
  return false;
}
