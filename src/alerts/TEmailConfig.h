#pragma once
// The mail routes and the alert message templates, kept in "EmailConfig.cvl" in the data
// folder apart from the other settings. The file is Latin-1 text with CR LF line ends;
// multi-line templates are stored as a line count followed by that many lines. The file
// holds the signature "Corvale1.01", then the fields below in their order, the bodies as
// such blocks and the relay flag as "1" or "0".
#include <string>

extern const char* const EmailConfigFileName;  // "EmailConfig.cvl"

class TEmailConfig {
public:
  enum class TLoadResult { Loaded, Missing, BadSignature, ReadError };

  std::string PrimaryServer;  // host name, optionally ":" and a port
  std::string PrimarySender;
  std::string PrimaryUser;    // empty: no authentication
  std::string PrimaryPassword;
  std::string SecondaryServer;
  std::string SecondarySender;
  std::string SecondaryUser;
  std::string SecondaryPassword;
  std::string OfflineSubject;
  std::string OfflineBody;    // lines ended by CR LF
  std::string OnlineSubject;
  std::string OnlineBody;
  bool RelayEnabled = false;
  std::string RelaySender;
  std::string PageChangeSubject;
  std::string PageChangeBody;
  std::string IPChangeSubject;
  std::string IPChangeBody;

  // Starts from the empty settings and reads the file. A file of another kind is
  // ignored (BadSignature); a read error keeps what was read before it. Older files
  // that end early leave the later settings empty.
  TLoadResult LoadFromFile(const std::string& fileName, std::string& errorText);
  // The file's bytes. A non-empty body without a final line break gets one, here and in
  // the setting.
  std::string FileText();
  // Writes the file whole; false with the file system's error, the old file unchanged.
  bool SaveToFile(const std::string& fileName, std::string& errorText);

  // Whether the file's group or other users may read it.
  static bool ReadableByOthers(const std::string& fileName);
};
