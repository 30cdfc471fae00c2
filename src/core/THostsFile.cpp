#include "core/THostsFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "common/ErrorText.h"
#include "common/Fields.h"
#include "common/FileUtils.h"
#include "common/NetText.h"
#include "common/QLEncryptString.h"
#include "common/TFieldSplitter.h"
#include "common/TextFiles.h"
#include "common/TextUtils.h"
#include "core/HostAddress.h"
#include "common/HostsFileNumbers.h"
#include "core/THost.h"
#include "core/THostList.h"
#include "core/TSettings.h"
#include "hosttests/THTTPReqLine.h"
#include "hosttests/TTestKinds.h"
#include "platform/SysErrors.h"

namespace {

constexpr double ErrorAfterMargin = 0.18333333333333333;  // 11 seconds, in minutes


std::string Quoted(const std::string& fileName) { return "\"" + fileName + "\""; }

// Fields separated by commas outside quotes.
int FieldCount(std::string_view line) { return CountOutsideQuotes(line, ",", '"', true, 0) + 1; }

// Blanks and control characters, trimmed from lines and request fields.
std::string TrimControls(std::string_view text) { return TrimChars(text, CharRange(0, ' '), 0, TrimModeBoth); }

// --- The fields of a host line ------------------------------------------------------

int64_t Integer(const std::string& field, int64_t def, int64_t lo, int64_t hi) {
  int64_t value = 0;
  return ParseInteger(field, value) && value >= lo && value <= hi ? value : def;
}

double Number(const std::string& field, double def) {
  double value = 0;
  return ParseNumber(field, value) ? value : def;
}

// A line end inside a field would split the record; NUL marks binary data.
std::string Q(const std::string& text) {
  if (text.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos) return QuoteText(text, '"');
  std::string clean = text;
  for (char& c : clean)
    if (c == '\r' || c == '\n' || c == '\0') c = ' ';
  return QuoteText(clean, '"');
}

std::string Flag(bool on) { return on ? "1" : ""; }

// One positional field of a host line: how it is read into the record and written from
// it. Read is none for a field read apart (the test kind, whose extra lines follow the
// host line) or not at all (field 8, always empty).
struct THostField {
  int Position;
  void (*Read)(const std::string& field, THost& h, THostList& list);
  std::string (*Write)(const THost& h, const THostsSaveOptions& options);
};

template <auto Member>
constexpr THostField TextField(int position) {
  return {position, [](const std::string& f, THost& h, THostList&) { h.*Member = f; },
          [](const THost& h, const THostsSaveOptions&) { return Q(h.*Member); }};
}

template <auto Member>
constexpr THostField FlagField(int position) {
  return {position, [](const std::string& f, THost& h, THostList&) { h.*Member = f == "1"; },
          [](const THost& h, const THostsSaveOptions&) { return Flag(h.*Member); }};
}

template <auto Member>
constexpr THostField CountField(int position) {
  return {position,
          [](const std::string& f, THost& h, THostList&) {
            h.*Member = static_cast<uint32_t>(Integer(f, h.*Member, 0, UINT32_MAX));
          },
          [](const THost& h, const THostsSaveOptions&) { return QuotedNumber(h.*Member); }};
}

template <auto Member>
constexpr THostField NumberField(int position) {
  return {position, [](const std::string& f, THost& h, THostList&) { h.*Member = Number(f, 0); },
          [](const THost& h, const THostsSaveOptions&) { return QuotedNumber(static_cast<double>(h.*Member)); }};
}

// Stored in hours, kept as a fraction of a day.
template <auto Member>
constexpr THostField HoursField(int position) {
  return {position,
          [](const std::string& f, THost& h, THostList&) { h.*Member = static_cast<long double>(Number(f, 0)) / 24; },
          [](const THost& h, const THostsSaveOptions&) { return QuotedNumber(static_cast<double>(h.*Member * 24)); }};
}

std::string TestKindField(const THost& h, const THostsSaveOptions& options);

// Fields 2 to 41 in the order of the line (field 1, the display name, begins every
// line, a group row's too).
const THostField HostFields[] = {
    {2,
     [](const std::string& f, THost& h, THostList&) {
       h.Address = f;
       if (h.DisplayName.empty()) h.DisplayName = h.Address;
     },
     [](const THost& h, const THostsSaveOptions&) { return Q(h.Address); }},
    {3, [](const std::string& f, THost& h, THostList&) { h.TestInterval = ParseIntervalText(f, 1); },
     [](const THost& h, const THostsSaveOptions&) { return QuotedNumber(h.TestInterval); }},
    HoursField<&THost::WindowStart>(4),
    HoursField<&THost::WindowEnd>(5),
    // Never shorter than the interval and a margin: the host would be Offline before
    // its next test could tell.
    {6,
     [](const std::string& f, THost& h, THostList&) {
       h.ErrorAfter = std::max(ParseIntervalText(f, 1), h.TestInterval + ErrorAfterMargin);
     },
     [](const THost& h, const THostsSaveOptions&) { return QuotedNumber(h.ErrorAfter); }},
    TextField<&THost::DoubleClickCommand>(7),
    {8, nullptr, [](const THost&, const THostsSaveOptions&) { return std::string(); }},
    TextField<&THost::WinUserName>(9),
    TextField<&THost::OfflineRecipients>(10),
    {11,
     [](const std::string& f, THost& h, THostList&) {
       h.Port = static_cast<int32_t>(Integer(f, 0, INT32_MIN, INT32_MAX));
     },
     [](const THost& h, const THostsSaveOptions&) { return QuotedNumber(h.Port); }},
    NumberField<&THost::DisabledUntil>(12),
    {13,
     [](const std::string& f, THost& h, THostList&) {
       const int64_t alerts = Integer(f, 1, INT32_MIN, INT32_MAX);
       h.AlertWindow = (alerts & 1) != 0;
       h.OnlinePopup = (alerts & 2) != 0;
       h.GlobalOfflineSound = (alerts & 4) != 0;
       h.GlobalOnlineSound = (alerts & 8) != 0;
     },
     [](const THost& h, const THostsSaveOptions&) {
       return std::to_string((h.AlertWindow ? 1 : 0) | (h.OnlinePopup ? 2 : 0) | (h.GlobalOfflineSound ? 4 : 0) |
                             (h.GlobalOnlineSound ? 8 : 0));
     }},
    {14, [](const std::string& f, THost& h, THostList&) { h.EmailWindow = !f.empty(); },
     [](const THost& h, const THostsSaveOptions&) { return Flag(h.EmailWindow); }},
    TextField<&THost::OnlineRecipients>(15),
    TextField<&THost::OfflineCommand>(16),
    TextField<&THost::OnlineCommand>(17),
    FlagField<&THost::Dependable>(18),
    {19,
     [](const std::string& f, THost& h, THostList&) {
       h.Parents = f;
       // Older files wrote "1" for "no parents".
       if (TrimChars(h.Parents, ";", 0, TrimModeBoth) == "1") h.Parents.clear();
     },
     [](const THost& h, const THostsSaveOptions&) { return Q(h.Parents); }},
    TextField<&THost::Service>(20),
    TextField<&THost::OfflineSound>(21),
    TextField<&THost::OnlineSound>(22),
    {23, nullptr, TestKindField},
    TextField<&THost::SharePath>(24),
    {25,
     [](const std::string& f, THost& h, THostList& list) {
       int64_t id = 0;
       h.ID = ParseInteger(f, id) && id >= INT32_MIN && id <= INT32_MAX ? static_cast<int32_t>(id) : list.NewID();
     },
     [](const THost& h, const THostsSaveOptions&) { return QuotedNumber(h.ID); }},
    FlagField<&THost::OfflineNotify>(26),
    FlagField<&THost::OnlineNotify>(27),
    {28, [](const std::string& f, THost& h, THostList&) { h.WinPassword = UnscrambleText(f); },
     [](const THost& h, const THostsSaveOptions&) { return Q(ScrambleText(h.WinPassword)); }},
    CountField<&THost::Successes>(29),
    CountField<&THost::Failures>(30),
    NumberField<&THost::LastSuccess>(31),
    NumberField<&THost::LastFailure>(32),
    NumberField<&THost::Uptime>(33),
    NumberField<&THost::Downtime>(34),
    {35,
     [](const std::string& f, THost& h, THostList&) {
       const double total = Number(f, 0);
       h.TotalResponse = std::fabs(total) < 9.2e18 ? std::llround(total) : 0;
     },
     [](const THost& h, const THostsSaveOptions&) { return FormatGeneralNumber(static_cast<double>(h.TotalResponse)); }},
    CountField<&THost::Warnings>(36),
    TextField<&THost::MACAddress>(37),
    TextField<&THost::CurrentIP>(38),
    TextField<&THost::IPChangeRecipients>(39),
    {40,
     [](const std::string& f, THost& h, THostList&) {
       h.HasBeenOffline = f.find('1') != std::string::npos;
       h.ParentHasBeenOffline = f.find('2') != std::string::npos;
     },
     [](const THost& h, const THostsSaveOptions&) {
       return std::string(h.HasBeenOffline ? "1" : "") + (h.ParentHasBeenOffline ? "2" : "");
     }},
    TextField<&THost::PluginText>(41),
};

// --- Reading lines ------------------------------------------------------------------

struct TLine {
  std::string Text;     // without its line end; cut at MaxHostsLineBytes when TooLong
  bool Ended = false;   // a line end followed
  bool HasNul = false;
  bool TooLong = false;
  int Number = 0;       // 1-based
};

// Lines of a file in chunks, so that no line, however long, is held beyond the limit.
class TLineReader {
public:
  explicit TLineReader(int fd) : FFd(fd) {}

  // False at the end of the file or on a read error (see Error). CR LF, LF and a CR
  // alone end a line: no field we write holds either, and a CR left inside a line
  // would join two hosts into one.
  bool Next(TLine& line) {
    line = TLine();
    bool any = false, discarded = false;
    for (;;) {
      if (FPos == FFill && !Fill()) break;
      if (FAfterCR) {
        FAfterCR = false;
        if (FBuf[FPos] == '\n') {
          ++FPos;
          continue;
        }
      }
      any = true;
      const char* start = FBuf + FPos;
      const char* end = FBuf + FFill;
      const char* eol = start;
      while (eol != end && *eol != '\n' && *eol != '\r') ++eol;
      const size_t n = static_cast<size_t>(eol - start);
      if (std::memchr(start, '\0', n)) line.HasNul = true;
      // Room for one byte beyond the limit, so that a longer line is seen as one.
      const size_t limit = MaxHostsLineBytes + 1;
      const size_t room = line.Text.size() < limit ? limit - line.Text.size() : 0;
      if (n > room) discarded = true;
      line.Text.append(start, std::min(n, room));
      FPos += n;
      if (eol != end) {
        FAfterCR = *eol == '\r';
        ++FPos;
        line.Ended = true;
        break;
      }
    }
    if (!any) return false;
    line.TooLong = discarded || line.Text.size() > MaxHostsLineBytes;
    line.Number = ++FNumber;
    return true;
  }

  int Error() const { return FError; }

private:
  bool Fill() {
    if (FError != 0) return false;
    ssize_t n;
    do n = ::read(FFd, FBuf, sizeof FBuf);
    while (n < 0 && errno == EINTR);
    if (n < 0) FError = errno;
    FPos = 0;
    FFill = n > 0 ? static_cast<size_t>(n) : 0;
    return FFill > 0;
  }

  int FFd;
  char FBuf[65536];
  size_t FPos = 0, FFill = 0;
  int FError = 0;
  int FNumber = 0;
  bool FAfterCR = false;  // a LF that follows belongs to the line end already read
};

// --- Loading -------------------------------------------------------------------------

class THostsLoader {
public:
  THostsLoader(const std::string& fileName, THostList& list, const THostsLoadOptions& options, int fd)
      : FFileName(fileName), FList(list), FOptions(options), FReader(fd) {
  }

  void Run() {
    TLine line;
    while (FReader.Next(line)) {
      if (Unreadable(line)) continue;
      const std::string text = TrimControls(line.Text);
      if (text.empty() || IsComment(text.front())) continue;
      // A new record as THostList::NewRecord makes it, but its fresh ID is drawn only
      // when the file gives none: each draw looks at the whole list.
      auto record = std::make_unique<THost>();
      record->BaselineTime = FOptions.Now;
      FFields.Split(text, ',', '"');
      record->DisplayName = FFields.Field(1);
      if (record->IsGroup()) {
        ++FGroupCounter;
        record->ID = FList.NewID();
        record->Status = static_cast<int32_t>(Integer(FFields.Field(2), 0, INT32_MIN, INT32_MAX));
      } else {
        ReadHost(text, line, *record);
      }
      record->GroupNumber = FGroupCounter;
      FList.Add(std::move(record));
    }
    if (FReader.Error() != 0) Fail(nullptr, "Unable to read " + Quoted(FFileName) + ": " + ErrnoText(FReader.Error()));
  }

  // Duplicate IDs renumbered, parents cleaned, ancestors recomputed: in list order,
  // each record against the list as it stands at its turn.
  void Finish() {
    std::unordered_set<int32_t> seen;
    for (int i = 0; i < FList.Count(); ++i) {
      THost& record = *FList.Items(i);
      if (!seen.insert(record.ID).second) {
        record.ID = FList.NewID();
        seen.insert(record.ID);
      }
      record.Parents = CleanParents(record.Parents);
      FList.RecomputeAncestors(record);
    }
  }

  // One lookup per distinct address, names several at a time.
  void SetLocalSubnetFlags() { ::SetLocalSubnetFlags(FHostsRead, FOptions.LocalSubnet); }

  bool Complete() const { return FComplete; }
  bool UnknownTests() const { return FUnknownTests; }

private:
  static bool IsComment(char c) { return c == '!' || c == '#' || c == '\'' || c == '/'; }

  void Log(const THost* host, const std::string& message, TLogCategory category) const {
    if (FOptions.Log) FOptions.Log(host, message, category);
  }

  void Fail(const THost* host, const std::string& message) {
    FComplete = false;
    Log(host, message, TLogCategory::Error);
  }

  bool Unreadable(const TLine& line) {
    if (line.HasNul) {
      Fail(nullptr, "Line " + std::to_string(line.Number) + " of " + Quoted(FFileName) + " skipped: it holds binary data.");
      return true;
    }
    if (line.TooLong) {
      Fail(nullptr, "Line " + std::to_string(line.Number) + " of " + Quoted(FFileName) + " skipped: it is longer than " +
                        std::to_string(MaxHostsLineBytes) + " characters.");
      return true;
    }
    return false;
  }

  void Truncated(const THost& host, int lineNumber) {
    Fail(&host, Quoted(FFileName) + " ends in the middle of the record that begins on line " +
                    std::to_string(lineNumber) + "; the host keeps what was read.");
  }

  // The line after a host line, taken whole (not trimmed: scrambled texts may begin or
  // end with blanks). A line the file does not have reads as empty.
  std::string ExtraLine(const THost& host, int hostLine, int fields) {
    TLine line;
    if (!FReader.Next(line)) {
      Truncated(host, hostLine);
      return {};
    }
    if (Unreadable(line)) return {};
    if (!line.Ended && fields > 0 && CountOutsideQuotes(line.Text, ",", 0, true, 0) + 1 < fields)
      Truncated(host, hostLine);
    return line.Text;
  }

  // The fields of the line are in FFields already.
  void ReadHost(std::string_view text, const TLine& line, THost& h) {
    const int fields = FieldCount(text);
    // A line that ends early keeps the defaults of the fields it lacks, also as the
    // last line of a file edited by hand without a final line end: no damage.
    for (const THostField& field : HostFields)
      if (field.Read) field.Read(FFields.Field(field.Position), h, FList);
    ReadTestKind(FFields.Field(23), fields >= 23, h, line.Number);
    if (h.OfflineNotify) h.OfflineNotification = ReadHTTPRequestLine(ExtraLine(h, line.Number, HTTPLineFields));
    if (h.OnlineNotify) h.OnlineNotification = ReadHTTPRequestLine(ExtraLine(h, line.Number, HTTPLineFields));
    FHostsRead.push_back(&h);
  }

  void ReadTestKind(const std::string& kind, bool present, THost& h, int hostLine) {
    int64_t number = 0;
    const TTestKinds& kinds = TTestKinds::Standard();
    // No file we write has an empty field 23; read as a plug-in identifier it would
    // take the next host line for its parameter line.
    if (!present || TrimControls(kind).empty()) {
      h.TestKind = TestPing;
    } else if (ParseInteger(kind, number)) {
      // Plug-in tests are stored by identifier; a number beyond the built-in kinds
      // names nothing we can test, and has no parameter line.
      const auto stored = static_cast<TTestKind>(number >= 0 && number < KindNumber(TestPlugin) ? number : -1);
      if (kinds.Find(stored)) {
        h.TestKind = stored;
      } else {
        UnknownTest(h, kind);
      }
    } else {
      int index = FOptions.PluginTestIndex ? FOptions.PluginTestIndex(kind) : -1;
      if (!FOptions.PluginTestIndex)
        if (const TTestKindEntry* plugin = kinds.FindIdentifier(kind)) index = PluginIndex(plugin->Kind);
      const std::string param = ExtraLine(h, hostLine, 0);
      if (index < 0) {
        UnknownTest(h, kind);
      } else {
        h.TestKind = PluginKind(index);
        ReadPluginParamLine(param, h);
      }
    }
    if (IsPluginKind(h.TestKind)) return;
    if (const TTestKindEntry* entry = kinds.Find(h.TestKind); entry && entry->ReadExtra)
      for (int i = 0; i < entry->ExtraLines; ++i) entry->ReadExtra(ExtraLine(h, hostLine, entry->ExtraFields), h);
  }

  void UnknownTest(THost& h, const std::string& identifier) {
    h.TestKind = TestPing;
    FUnknownTests = true;
    Log(&h, "Unrecognized test type: " + identifier + ".  Setting type to Ping.", TLogCategory::Information);
  }

  // Items that are empty, name no record of the list or repeat an earlier item go.
  std::string CleanParents(const std::string& parents) const {
    if (parents.empty()) return parents;
    std::vector<std::string> items;
    SplitList(parents, items, ';', true, 0);
    std::string result;
    for (size_t i = 0; i < items.size(); ++i) {
      const std::string& item = items[i];
      if (item.empty() || FList.FindByIDText(item) < 0) continue;
      bool repeated = false;
      for (size_t j = 0; j < i && !repeated; ++j) repeated = items[j] == item;
      if (repeated) continue;
      if (!result.empty()) result.push_back(';');
      result += item;
    }
    return result;
  }

  const std::string& FFileName;
  THostList& FList;
  const THostsLoadOptions& FOptions;
  TLineReader FReader;
  TFieldSplitter FFields;  // of the record line being read
  std::vector<THost*> FHostsRead;  // host records, not group rows; owned by the list
  int32_t FGroupCounter = 0;
  bool FComplete = true;
  bool FUnknownTests = false;
};

constexpr mode_t TempFileMode = 0600;
// How far into a leftover temporary file we look to know it for one of ours.
constexpr size_t LeftoverHeadBytes = 4096;
// Leftovers looked at in one start-up; a folder holding more is not ours alone.
constexpr int MaxLeftoversExamined = 10000;

// An exclusive create: never replaces a file that is there.
int CreateNew(const std::string& name, mode_t mode) {
  int fd;
  do fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  while (fd < 0 && errno == EINTR);
  return fd;
}


void SyncFolder(const std::string& folder) {
  const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

// A byte-for-byte copy into a new file; the copy is removed again when it fails.
bool CopyToNewFile(const std::string& source, const std::string& target, int& err) {
  const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) {
    err = errno;
    return false;
  }
  const int out = CreateNew(target, 0600);
  if (out < 0) {
    err = errno;
    ::close(in);
    return false;
  }
  bool ok = true;
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(in, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 || (n > 0 && !WriteAll(out, buf, static_cast<size_t>(n)))) {
      ok = false;
      break;
    }
    if (n == 0) break;
  }
  if (ok && ::fsync(out) != 0) ok = false;
  if (!ok) err = errno;
  ::close(in);
  if (::close(out) != 0 && ok) {
    ok = false;
    err = errno;
  }
  if (!ok) ::unlink(target.c_str());
  return ok;
}

// Keeps the file as it is under a name of its own before a save can replace it: a
// copy when it can be read, otherwise the file itself is moved there.
void KeepUntouched(const std::string& path, const std::string& displayName, const std::string& why, TDateTime now,
                   const THostsFileLog& log) {
  const auto report = [&](const std::string& message) {
    if (log) log(nullptr, message, TLogCategory::Error);
  };
  const std::string suffix = ".unreadable-" + FormatDateTime("yyyymmdd-hhnnss", now);
  const std::string base = path + suffix;
  const auto nameFor = [&](int attempt) { return attempt == 1 ? base : base + "-" + std::to_string(attempt); };
  int err = 0;
  for (int attempt = 1; attempt <= 100; ++attempt) {
    const std::string copy = nameFor(attempt);
    if (CopyToNewFile(path, copy, err)) {
      SyncFolder(ExtractFilePath(path));
      report(Quoted(displayName) + " " + why + "; an untouched copy is kept as " + Quoted(copy) + ".");
      return;
    }
    if (err != EEXIST) break;
  }
  const int copyErr = err;
  std::string asideError;
  const std::string aside = SetFileAside(path, suffix, asideError);
  if (!aside.empty()) {
    SyncFolder(ExtractFilePath(path));
    report(Quoted(displayName) + " " + why + " and could not be copied (" + ErrnoText(copyErr) +
           "); it was moved to " + Quoted(aside) + ".");
    return;
  }
  report(Quoted(displayName) + " " + why + " and could neither be copied nor moved aside (" + asideError +
         "); the next save replaces it.");
}

// --- Saving --------------------------------------------------------------------------

std::string TestKindField(const THost& h, const THostsSaveOptions& options) {
  if (!IsPluginKind(h.TestKind)) return QuotedNumber(KindNumber(h.TestKind));
  std::string identifier;
  if (options.PluginTestIdentifier) {
    identifier = options.PluginTestIdentifier(PluginIndex(h.TestKind));
  } else if (const TTestKindEntry* plugin = KindOf(h)) {
    identifier = plugin->Identifier;
  }
  // Written bare; quoting only what would not read back as written.
  if (identifier.find_first_of(",\"") != std::string::npos) identifier = QuoteText(identifier, '"');
  return identifier;
}

void AppendRecord(std::string& out, const THost& h, const THostsSaveOptions& options) {
  out += Q(h.DisplayName);
  if (h.IsGroup()) {
    out += h.Status == 1 ? ",1\r\n" : ",0\r\n";
    return;
  }
  for (const THostField& field : HostFields) {
    out.push_back(',');
    out += field.Write(h, options);
  }
  out += "\r\n";

  if (IsPluginKind(h.TestKind)) {
    out += PluginParamLine(h);
  } else if (const TTestKindEntry* kind = KindOf(h); kind && kind->WriteExtra) {
    out += kind->WriteExtra(h);
  }
  if (h.OfflineNotify) out += HTTPRequestLine(h.OfflineNotification);
  if (h.OnlineNotify) out += HTTPRequestLine(h.OnlineNotification);
}

// "XXXXXXXX.cvl": eight upper-case hexadecimal digits, as SaveHosts names them.
bool IsHostsTemporaryName(const std::string& name) {
  if (name.size() != 12 || name.compare(8, 4, ".cvl") != 0) return false;
  for (size_t i = 0; i < 8; ++i)
    if (!((name[i] >= '0' && name[i] <= '9') || (name[i] >= 'A' && name[i] <= 'F'))) return false;
  return true;
}

// The first bytes of a regular file that belongs to this user; false for anything else
// (a link, a device, another user's file), which is then left alone.
bool ReadOwnFileHead(const std::string& path, std::string& head) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid();
  if (ok) {
    head.resize(LeftoverHeadBytes);
    ssize_t n;
    do n = ::pread(fd, head.data(), head.size(), 0);
    while (n < 0 && errno == EINTR);
    ok = n >= 0;
    head.resize(ok ? static_cast<size_t>(n) : 0);
  }
  ::close(fd);
  return ok;
}

}  // namespace

std::vector<std::string> RemoveInterruptedSaves(const std::string& hostsFileName,
                                                const std::string& settingsFileName) {
  std::vector<std::string> removed;
  const std::string folder = ExtractFilePath(NativePath(hostsFileName));
  const std::string settings = NativePath(settingsFileName);
  DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
  if (!dir) return removed;
  int examined = 0;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    const bool hostsTemporary = IsHostsTemporaryName(name);
    if (!hostsTemporary && (settings.empty() || !IsReplaceTemporaryOf(settings, name))) continue;
    if (++examined > MaxLeftoversExamined) break;
    const std::string path = folder + name;
    std::string head, reason;
    if (!ReadOwnFileHead(path, head)) continue;
    // Every line we write begins with a quoted display name. An empty file is what a
    // save cut short right after its creation leaves.
    const bool ours = head.empty() || (hostsTemporary ? head.front() == '"' : TSettings::IsSettingsText(head, reason));
    if (ours && ::unlink(path.c_str()) == 0) removed.push_back(path);
  }
  ::closedir(dir);
  return removed;
}

bool LoadHosts(const std::string& fileName, THostList& list, const THostsLoadOptions& options) {
  const std::string path = NativePath(fileName);
  if (!FileExists(path)) return false;
  int fd;
  do fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  while (fd < 0 && errno == EINTR);
  bool complete = false;
  bool unknownTests = false;
  if (fd < 0) {
    if (options.Log) options.Log(nullptr, "Unable to read " + Quoted(fileName) + ": " + ErrnoText(errno), TLogCategory::Error);
  } else {
    try {
      THostsLoader loader(fileName, list, options, fd);
      loader.Run();
      loader.SetLocalSubnetFlags();
      loader.Finish();
      complete = loader.Complete();
      unknownTests = loader.UnknownTests();
    } catch (const std::exception& e) {
      if (options.Log) options.Log(nullptr, "Unable to read " + Quoted(fileName) + ": " + e.what(), TLogCategory::Error);
      complete = false;
    }
    ::close(fd);
  }
  if (!complete) {
    KeepUntouched(path, fileName, "was not read completely", options.Now, options.Log);
  } else if (unknownTests) {
    // Those hosts are now Ping hosts: the next save would drop their tests for good.
    KeepUntouched(path, fileName, "names plug-in tests that are not loaded", options.Now, options.Log);
  }
  return complete;
}

bool SaveHosts(const std::string& fileName, const THostList& list, const THostsSaveOptions& options,
               std::string* errorText) {
  const auto fail = [&](const std::string& message, int err) {
    if (errorText) *errorText = message + ": " + ErrnoText(err);
    return false;
  };
  const std::string path = NativePath(fileName);
  const std::string folder = ExtractFilePath(path);

  std::function<uint32_t()> random = options.Random;
  if (!random) {
    auto engine = std::make_shared<std::mt19937>(std::random_device{}());
    random = [engine] { return static_cast<uint32_t>((*engine)()); };
  }
  if (IsReadOnlyFile(path)) return fail("the file is read-only", EACCES);
  struct stat st {};
  const bool existed = ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);

  // Only the owner may read what holds scrambled passwords, the temporary file too.
  std::string tempName;
  int fd = -1;
  for (int attempt = 0; attempt < 1000 && fd < 0; ++attempt) {
    char name[16];
    std::snprintf(name, sizeof name, "%08X.cvl", random());
    tempName = folder + name;
    fd = CreateNew(tempName, TempFileMode);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) return fail("Unable to create a temporary file in " + Quoted(folder.empty() ? "." : folder), errno);

  bool ok = true;
  int err = 0;
  std::string out;
  const size_t flushAt = 1 << 18;
  out.reserve(flushAt + 4096);
  for (const auto& record : list.Records()) {
    AppendRecord(out, *record, options);
    if (out.size() >= flushAt) {
      ok = WriteAll(fd, out.data(), out.size());
      out.clear();
      if (!ok) {
        err = errno;
        break;
      }
    }
  }
  if (ok && !(WriteAll(fd, out.data(), out.size()) && ::fsync(fd) == 0)) {
    ok = false;
    err = errno;
  }
  // The new file keeps the access rights of the one it replaces; given only now, so
  // that a save cut short leaves nothing readable by others.
  if (ok && existed) ::fchmod(fd, st.st_mode & 07777);
  if (::close(fd) != 0 && ok) {
    ok = false;
    err = errno;
  }
  if (!ok) {
    // A partial file is of no use to anyone.
    ::unlink(tempName.c_str());
    return fail("Unable to write " + Quoted(tempName), err);
  }

  // The previous version becomes the backup. A hard link keeps the hosts file in place
  // until the final rename replaces it in one step; where links are not supported the
  // file itself moves. Failures here cost only the backup.
  if (FileExists(path)) {
    const std::string backup = path + ".bak";
    ::unlink(backup.c_str());
    if (::link(path.c_str(), backup.c_str()) != 0) ::rename(path.c_str(), backup.c_str());
  }
  if (::rename(tempName.c_str(), path.c_str()) != 0)
    return fail("Unable to rename " + Quoted(tempName) + " to " + Quoted(fileName), errno);
  SyncFolder(folder);
  return true;
}
