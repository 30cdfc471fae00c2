#include "hosttests/THTTPThread.h"

#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <exception>
#include <utility>
#include <vector>

#include "common/DateTime.h"
#include "common/ErrorText.h"
#include "common/FileUtils.h"
#include "hosttests/TQLHTTPDownload.h"
#include "hosttests/TTakenSlot.h"
#include "hosttests/TTestContext.h"
#include "platform/NameLookup.h"
#include "platform/SysErrors.h"

namespace {

constexpr int HostNotFoundCode = 11001;
constexpr char VariableDelimiter = '\xFF';

std::uint32_t TickCount() {
  using namespace std::chrono;
  return static_cast<std::uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

unsigned char LowerAZ(unsigned char c) { return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c + 32) : c; }

bool EqualButCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (a[i] != b[i] && LowerAZ(static_cast<unsigned char>(a[i])) != LowerAZ(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

// Adds step to the pair counter of every two adjacent bytes. The pairs are read as
// 16-bit words two bytes apart, so each load serves two pairs.
void CountPairs(std::string_view page, std::int32_t* table, std::int32_t step) {
  const auto* p = reinterpret_cast<const unsigned char*>(page.data());
  const std::size_t n = page.size();
  if (n < 2) return;
  std::size_t i = 0;
  for (; i + 2 < n; i += 2) {
    table[(p[i] << 8) | p[i + 1]] += step;
    table[(p[i + 1] << 8) | p[i + 2]] += step;
  }
  if (i + 1 < n) table[(p[i] << 8) | p[i + 1]] += step;
}

// Whether the kept copy can be read as a whole within the bound.
bool ReadPageCopy(const std::string& fileName, std::string& text) {
  struct stat st {};
  if (::stat(fileName.c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
      static_cast<std::uint64_t>(st.st_size) > THTTPThread::MaxPageCopyBytes)
    return false;
  return ReadWholeFile(fileName, text) && text.size() <= THTTPThread::MaxPageCopyBytes;
}

}  // namespace

THTTPThread::THTTPThread(TTestContext& context, std::string name)
    : TBackgroundTask(std::move(name)), FContext(context) {}

std::shared_ptr<THTTPThread> THTTPThread::Create(TTestContext& context, std::string name, const THTTPReq& request,
                                                 std::int32_t kind, std::int64_t data, std::int32_t hostID,
                                                 THTTPDone done, THTTPOptions options) {
  std::shared_ptr<THTTPThread> t(new THTTPThread(context, std::move(name)));
  t->FRequest = request;
  t->FRequest.LastChange = 0;
  t->FKind = kind;
  t->FData = data;
  t->FHostID = hostID;
  t->FDone = std::move(done);
  t->FOptions = std::move(options);
  t->Queue();
  return t;
}

std::string THTTPThread::PageCopyName(const std::string& folder, std::int32_t hostID, int copy) {
  char name[32];
  if (copy > 0)
    std::snprintf(name, sizeof name, "%06X[%d].cvl", static_cast<unsigned>(hostID), copy);
  else
    std::snprintf(name, sizeof name, "%06X.cvl", static_cast<unsigned>(hostID));
  return IncludeTrailingPathDelimiter(folder) + name;
}

float THTTPThread::PageDifference(std::string_view oldPage, std::string_view newPage) {
  if (EqualButCase(oldPage, newPage)) return 0;
  // One table of the count differences serves both pages: 256 KB on the heap, not on a
  // pool thread's stack.
  std::vector<std::int32_t> table(256 * 256, 0);
  CountPairs(oldPage, table.data(), 1);
  CountPairs(newPage, table.data(), -1);
  std::uint64_t sum = 0;
  for (const std::int32_t d : table) sum += static_cast<std::uint64_t>(d < 0 ? -static_cast<std::int64_t>(d) : d);
  return static_cast<float>(static_cast<double>(sum) / static_cast<double>(oldPage.size() + newPage.size()));
}

std::string THTTPThread::ResultCodeText(int code, const std::string& clientErrorText) {
  if (code >= 200 && code <= 205) return {};
  switch (code) {
    case HTTPResultShortBody: return "Connection closed during data transfer";
    case HTTPResultNoConnection: return "No connection could be made to the server";
    case HTTPResultAborted: return "Connection closed during conversation";
    case HTTPResultOther: {
      std::string text = "Other HTTP error, such as improperly formatted data";
      if (!clientErrorText.empty()) text += " (" + clientErrorText + ")";
      return text;
    }
    case HTTPResultTimeout:
    case HTTPResultTlsFailed:
      if (!clientErrorText.empty()) return clientErrorText;
      break;
    default: break;
  }
  return "[" + std::to_string(code) + "] " + clientErrorText;
}

std::string THTTPThread::CertificateExpiryText(std::time_t notAfter, std::time_t now, int days) {
  constexpr std::time_t SecondsPerDay = 86400;
  if (days <= 0 || notAfter <= 0) return {};
  const std::time_t left = notAfter - now;
  if (left >= static_cast<std::time_t>(days) * SecondsPerDay) return {};
  const long long whole = left > 0 ? static_cast<long long>(left / SecondsPerDay) : 0;
  return "Certificate expires in " + std::to_string(whole) + " days (" +
         FormatDateTime("mmm d, yyyy hh:nn", UnixToDateTime(static_cast<double>(notAfter))) + ")";
}

std::vector<std::string> THTTPThread::SplitVariables(const std::string& joined) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start <= joined.size()) {
    std::size_t end = joined.find(VariableDelimiter, start);
    if (end == std::string::npos) end = joined.size();
    if (end > start) out.push_back(joined.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

float THTTPThread::UpdatePageCopies(const std::string& folder, std::int32_t hostID, const std::string& body,
                                    bool measure) {
  ForceDirectories(folder);
  const std::string copy = PageCopyName(folder, hostID);
  float change = 0;
  std::string kept;
  if (measure && ReadPageCopy(copy, kept)) change = PageDifference(kept, body);
  if (change > 0) {
    std::rename(PageCopyName(folder, hostID, 2).c_str(), PageCopyName(folder, hostID, 3).c_str());
    std::rename(PageCopyName(folder, hostID, 1).c_str(), PageCopyName(folder, hostID, 2).c_str());
    WriteWholeFile(PageCopyName(folder, hostID, 1), body);
  }
  if (change > 0 || !FileExists(copy)) {
    std::remove(copy.c_str());
    WriteWholeFile(copy, body);
  }
  return change;
}

void THTTPThread::Queue() {
  Trace("Start HTTPThread " + FRequest.URL);
  // The start may run before Request returns, on this thread or on the one that frees a
  // slot; a changed limit applies to a request that already waits.
  const std::uint64_t ticket = FContext.TCPSlots.Request(
      FContext.MaxTCPThreads, false, [self = shared_from_this()](bool granted) { self->SlotGranted(granted); });
  bool cancel = false;
  {
    std::lock_guard<std::mutex> lock(FLock);
    FTicket = ticket;
    cancel = Terminated();
  }
  if (cancel) FContext.TCPSlots.Cancel(ticket);
}

void THTTPThread::SlotGranted(bool granted) {
  if (!granted) {
    Notify();
    return;
  }
  auto slot = std::make_shared<TTakenSlot>(&FContext.TCPSlots);
  FContext.RunInPool([self = shared_from_this(), slot] { self->Retrieve(slot); });
}

void THTTPThread::Retrieve(std::shared_ptr<TTakenSlot> slot) {
  try {
    TQLHTTPDownload client;
    bool go = false;
    {
      std::lock_guard<std::mutex> lock(FLock);
      go = !Terminated();
      if (go) FClient = &client;
    }
    if (go && !client.SetURL(FRequest.URL)) {
      // Nothing was fetched, so the page copies are left as they are.
      FResultText = "URL not supported (http and https only): " + FRequest.URL;
    } else if (go) {
      client.Username = FRequest.UserName;
      client.Password = FRequest.Password;
      client.AutoRedirect = true;
      if (FOptions.TimeoutMs > 0) client.TimeoutMs = FOptions.TimeoutMs;

      std::string dotted;
      std::uint32_t address = 0;
      if (Resolve(client.HTTPServer(), address, dotted)) {
        FResolvedAddress = dotted;
      } else {
        const int code = GetLastError();
        FResolvedAddress.clear();
        FResultText = ErrorText(code != 0 ? code : HostNotFoundCode);
      }

      client.UploadVars = SplitVariables(FRequest.Variables);
      client.Method = FRequest.Post && !client.UploadVars.empty() ? dmPOST : dmGET;
      client.Destination = ddString;

      Trace("HTTPThread Request " + FRequest.URL);
      const std::uint32_t start = TickCount();
      client.Request();
      const int code = client.ResultCode();
      FSuccess = code >= 200 && code <= 205 && !Terminated();
      if (!FSuccess) FResultText = ResultCodeText(code, client.ErrorText());
      // A page that came back from a server whose certificate ends soon still fails: the
      // status machine then warns, and alerts, in time.
      if (FSuccess && FKind == HTTPKindTest && client.PeerNotAfter() != 0) {
        const std::string expiry =
            CertificateExpiryText(client.PeerNotAfter(), std::time(nullptr), FOptions.CertExpiryDays);
        if (!expiry.empty()) {
          FSuccess = false;
          FResultText = expiry;
        }
      }
      // A notification's answer is no page of the host's: it must not become the base
      // the host's own test compares with.
      if (FKind == HTTPKindTest && !FOptions.PagesFolder.empty() && !Terminated()) {
        FChange = UpdatePageCopies(FOptions.PagesFolder, FHostID, client.Body(),
                                   FSuccess && !FRequest.ChangeRecipients.empty());
        FRequest.LastChange = FChange;
      }
      FElapsed = static_cast<std::int32_t>(TickCount() - start);
      Trace("HTTPThread Done " + FRequest.URL);
    }
    {
      std::lock_guard<std::mutex> lock(FLock);
      FClient = nullptr;
    }
  } catch (const std::exception& e) {
    {
      std::lock_guard<std::mutex> lock(FLock);
      FClient = nullptr;
    }
    FSuccess = false;
    if (!FResultText.empty()) FResultText += "; ";
    FResultText += e.what();
  }
  slot->Release();
  Notify();
}

void THTTPThread::OnTerminate() {
  std::uint64_t ticket = 0;
  {
    std::lock_guard<std::mutex> lock(FLock);
    ticket = FTicket;
    if (FClient) FClient->Abort();
  }
  if (ticket != 0) FContext.TCPSlots.Cancel(ticket);
}

void THTTPThread::Trace(const std::string& text) const {
  try {
    FContext.Trace(text);
  } catch (...) {
    FContext.ReportException("HTTPThread trace");
  }
}

void THTTPThread::Notify() {
  if (FNotified.exchange(true)) return;
  try {
    std::shared_ptr<THTTPThread> self = shared_from_this();
    FContext.PostCompletion(
        FContext.Completions.HTTP,
        [self] {
          self->Trace("HTTPThread Callback");
          try {
            if (self->FDone)
              self->FDone(*self, self->FRequest, self->FResolvedAddress, self->FHostID, self->FData, self->FKind,
                          self->FChange, self->FSuccess, self->FResultText, self->FElapsed);
          } catch (...) {
            self->FContext.ReportException("HTTPThread callback");
          }
          self->FAlive = false;
        },
        [self] { self->FAlive = false; });
  } catch (...) {
    FContext.ReportException("HTTPThread notify");
    FAlive = false;
  }
}
