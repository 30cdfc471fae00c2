#pragma once
// One HTTP retrieval: a host's HTTP test (kind 0) or one of its HTTP notifications
// (kind 1). The worker waits for a slot of the TCP kind (shared with TCP tests) as a
// queued request, then fetches the page on the worker pool with TQLHTTPDownload. A test
// measures how much the page changed against the copy kept in the page folder and keeps
// the three latest changed copies; an https test also fails when the certificate expires
// soon. The result goes to the completion handler on the main thread.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "hosttests/TBackgroundTask.h"
#include "hosttests/THTTPReq.h"

class TTakenSlot;
class TTestContext;
class TQLHTTPDownload;
class THTTPThread;

constexpr std::int32_t HTTPKindTest = 0;
constexpr std::int32_t HTTPKindNotification = 1;

// thread, request copy (its LastChange holds the measured change), resolved address, host
// ID, data, kind, change, success, result text, elapsed ms.
using THTTPDone = std::function<void(THTTPThread& thread, const THTTPReq& request, const std::string& resolvedAddress,
                                     std::int32_t hostID, std::int64_t data, std::int32_t kind, float change,
                                     bool success, const std::string& resultText, std::int32_t elapsed)>;

// What a retrieval needs besides its request.
struct THTTPOptions {
  std::string PagesFolder;  // the data folder's "HTTPPages"; empty: no page copies
  int CertExpiryDays = 14;  // 0: no expiry check
  int TimeoutMs = 60000;    // the whole exchange
};

class THTTPThread : public TBackgroundTask, public std::enable_shared_from_this<THTTPThread> {
public:
  // Creates the retrieval and starts it at once. The request is copied; a notification's
  // variables are expanded by the caller before (the worker never reads a host record).
  // name is its entry in the running-test list. done may be empty.
  static std::shared_ptr<THTTPThread> Create(TTestContext& context, std::string name, const THTTPReq& request,
                                             std::int32_t kind, std::int64_t data, std::int32_t hostID, THTTPDone done,
                                             THTTPOptions options);

  bool IsAlive() const override { return FAlive.load(); }

  // The result, complete when the completion handler runs.
  const THTTPReq& Request() const { return FRequest; }
  bool Success() const { return FSuccess; }
  std::int32_t Kind() const { return FKind; }
  std::int64_t Data() const { return FData; }
  std::int32_t HostID() const { return FHostID; }
  const std::string& ResultText() const { return FResultText; }
  const std::string& ResolvedAddress() const { return FResolvedAddress; }
  std::int32_t Elapsed() const { return FElapsed; }
  float Change() const { return FChange; }

  // The page copy of a host: folder + six upper-case hexadecimal digits of the ID +
  // ".cvl"; copy n (1 newest to 3) ends in "[n].cvl" instead.
  static std::string PageCopyName(const std::string& folder, std::int32_t hostID, int copy = 0);
  // The fraction of two pages that differs, from their tables of adjacent byte pairs:
  // 0 for pages equal but for the case of A to Z, close to 1 for pages with nothing in
  // common.
  static float PageDifference(std::string_view oldPage, std::string_view newPage);
  // The result text of a client's result code (empty for 200 to 205).
  static std::string ResultCodeText(int code, const std::string& clientErrorText);
  // The failure of a certificate that ends within days of now: "Certificate expires in
  // N days (date)"; empty when it does not (or days is 0, or notAfter unknown).
  static std::string CertificateExpiryText(std::time_t notAfter, std::time_t now, int days);
  // The page copies of a retrieved body: with measure, the change against the kept copy
  // (0 when it cannot be read); a change above 0 shifts the numbered copies and keeps the
  // body as copy 1; the kept copy is replaced by the body when it changed or is missing.
  // Errors of the file system are ignored. Returns the change.
  static float UpdatePageCopies(const std::string& folder, std::int32_t hostID, const std::string& body,
                                bool measure);
  // The request's variables: the entries between the characters 255, empty ones dropped.
  static std::vector<std::string> SplitVariables(const std::string& joined);
  // A kept copy larger than this is not read: no body the client keeps is larger.
  static constexpr std::size_t MaxPageCopyBytes = 16 * 1024 * 1024;

private:

  THTTPThread(TTestContext& context, std::string name);
  void OnTerminate() override;
  void Queue();
  void SlotGranted(bool granted);
  void Retrieve(std::shared_ptr<TTakenSlot> slot);
  void Trace(const std::string& text) const;
  void Notify();

  TTestContext& FContext;
  THTTPReq FRequest;
  THTTPOptions FOptions;
  bool FSuccess = false;
  std::int32_t FKind = HTTPKindTest;
  std::int64_t FData = 0;
  std::int32_t FHostID = 0;
  std::string FResultText;
  std::string FResolvedAddress;
  std::int32_t FElapsed = 0;
  float FChange = 0;
  THTTPDone FDone;

  std::atomic<bool> FAlive{true};
  std::atomic<bool> FNotified{false};
  // Guards the waiting slot request and the client in progress against Terminate, which
  // comes from another thread.
  std::mutex FLock;
  std::uint64_t FTicket = 0;
  TQLHTTPDownload* FClient = nullptr;
};
