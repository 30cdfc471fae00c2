#include "alerts/TEmailConfig.h"

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <vector>

#include "common/TextFiles.h"

const char* const EmailConfigFileName = "EmailConfig.cvl";

namespace {

const std::string Signature = "Corvale1.01";
const std::string SignaturePrefix = "Corvale1.0";
// Far beyond any real configuration; a bigger file is not one of ours.
constexpr std::uint64_t MaxFileBytes = 16 * 1024 * 1024;

class TLineReader {
public:
  explicit TLineReader(std::vector<std::string> lines) : FLines(std::move(lines)) {}
  bool Ended() const { return FNext >= FLines.size(); }
  // An ended file reads as empty lines: the settings it would have held stay empty.
  std::string Line() { return Ended() ? std::string() : FLines[FNext++]; }
  std::string Block() {
    const std::string countText = Line();
    char* end = nullptr;
    const long count = std::strtol(countText.c_str(), &end, 10);
    const bool number = !countText.empty() && end && *end == '\0';
    std::string body;
    for (long i = 0; number && i < count && !Ended(); ++i) body += Line() + "\r\n";
    return body;
  }
private:
  std::vector<std::string> FLines;
  std::size_t FNext = 0;
};

// A single-line item must not carry a line break, or every later item would shift.
std::string OneLine(const std::string& text) {
  std::string out = text;
  for (char& c : out)
    if (c == '\r' || c == '\n') c = ' ';
  return out;
}

// The body with CR LF line ends throughout and a final one, so that its line count is
// the number of lines a reader finds.
std::string NormalBody(const std::string& body) {
  if (body.empty()) return body;
  std::string out;
  for (const std::string& line : SplitTextLines(body)) out += line + "\r\n";
  return out;
}

std::string BlockText(const std::string& body) {
  if (body.empty()) return "0\r\n";
  std::size_t count = 0;
  for (char c : body) count += c == '\r';
  return std::to_string(count) + "\r\n" + body;
}

}  // namespace

TEmailConfig::TLoadResult TEmailConfig::LoadFromFile(const std::string& fileName, std::string& errorText) {
  *this = TEmailConfig();
  errorText.clear();
  std::error_code ec;
  // Something else in the file's place is a read error, not a missing file.
  if (!std::filesystem::exists(fileName, ec)) return TLoadResult::Missing;
  std::string text;
  bool tail = false;
  if (!ReadFileTail(fileName, MaxFileBytes, text, tail, errorText)) return TLoadResult::ReadError;
  if (tail) {
    errorText = "the file is larger than " + std::to_string(MaxFileBytes) + " bytes";
    return TLoadResult::ReadError;
  }
  TLineReader in(SplitTextLines(text));
  if (in.Line().compare(0, SignaturePrefix.size(), SignaturePrefix) != 0) return TLoadResult::BadSignature;

  for (std::string* item : {&PrimaryServer, &PrimarySender, &PrimaryUser, &PrimaryPassword, &SecondaryServer,
                            &SecondarySender, &SecondaryUser, &SecondaryPassword, &OfflineSubject})
    *item = in.Line();
  OfflineBody = in.Block();
  if (!in.Ended()) {
    OnlineSubject = in.Line();
    OnlineBody = in.Block();
  }
  if (!in.Ended()) {
    RelayEnabled = in.Line() == "1";
    RelaySender = in.Line();
  }
  if (!in.Ended()) {
    PageChangeSubject = in.Line();
    PageChangeBody = in.Block();
  }
  if (!in.Ended()) {
    IPChangeSubject = in.Line();
    IPChangeBody = in.Block();
  }
  return TLoadResult::Loaded;
}

std::string TEmailConfig::FileText() {
  for (std::string* body : {&OfflineBody, &OnlineBody, &PageChangeBody, &IPChangeBody}) *body = NormalBody(*body);
  std::string out = Signature + "\r\n";
  for (const std::string* item : {&PrimaryServer, &PrimarySender, &PrimaryUser, &PrimaryPassword, &SecondaryServer,
                                  &SecondarySender, &SecondaryUser, &SecondaryPassword})
    out += OneLine(*item) + "\r\n";
  out += OneLine(OfflineSubject) + "\r\n" + BlockText(OfflineBody);
  out += OneLine(OnlineSubject) + "\r\n" + BlockText(OnlineBody);
  out += std::string(RelayEnabled ? "1" : "0") + "\r\n" + OneLine(RelaySender) + "\r\n";
  out += OneLine(PageChangeSubject) + "\r\n" + BlockText(PageChangeBody);
  out += OneLine(IPChangeSubject) + "\r\n" + BlockText(IPChangeBody);
  return out;
}

bool TEmailConfig::SaveToFile(const std::string& fileName, std::string& errorText) {
  // The passwords are stored as they are: only the owner may read a new file.
  return ReplaceFileText(fileName, FileText(), 0600, errorText);
}

bool TEmailConfig::ReadableByOthers(const std::string& fileName) {
  struct stat st {};
  return ::stat(fileName.c_str(), &st) == 0 && (st.st_mode & (S_IRGRP | S_IROTH)) != 0;
}
