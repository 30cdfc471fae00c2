#include "core/TPartnerWindows.h"

#include <algorithm>
#include <mutex>

#include "common/Clock.h"
#include "common/ErrorText.h"
#include "core/TEventLogKeeper.h"
#include "core/THost.h"
#include "core/THostList.h"
#include "core/TRunningTests.h"
#include "hosttests/TTestContext.h"
#include "platform/WindowMessages.h"

// How sender threads reach their owner: it may be gone by the time a sender reports.
struct TPartnerWindows::TLink {
  std::mutex Lock;
  TPartnerWindows* Owner = nullptr;
  TTestContext* Tests = nullptr;
};

TPartnerWindows::TPartnerWindows(TContext context) : C(std::move(context)), FLink(std::make_shared<TLink>()) {
  FLink->Owner = this;
  FLink->Tests = C.Tests;
}

TPartnerWindows::~TPartnerWindows() {
  {
    std::lock_guard<std::mutex> guard(FLink->Lock);
    FLink->Owner = nullptr;
  }
  for (auto& [window, partner] : FPartners)
    if (partner.Sender) partner.Sender->Terminate();
}

bool TPartnerWindows::IsSubscribed(std::uintptr_t window) const {
  return std::find(FSubscribers.begin(), FSubscribers.end(), window) != FSubscribers.end();
}

std::intptr_t TPartnerWindows::SendHostList(std::uintptr_t window, bool includeGroups) {
  if (FStopped || !IsWindow(window)) return 0;
  const std::size_t size = partner::HeaderSize + partner::RecordSize * static_cast<std::size_t>(C.Hosts->Count());
  if (size > winmsg::MaxCopyDataSize) {
    ReportFault(C.Faults, "partner window",
                "The host list of " + std::to_string(C.Hosts->Count()) + " hosts is too large for one message");
    return 0;
  }
  Queue(window, {partner::HostListData, partner::HostListPayload(*C.Hosts, includeGroups, C.Clock->Now()),
                 "Host List Sent To "});
  return 1;
}

std::intptr_t TPartnerWindows::SendHost(std::uintptr_t window, std::intptr_t index) {
  if (FStopped || index < 0 || index >= C.Hosts->Count()) return 0;
  const THost* host = C.Hosts->Items(static_cast<int>(index));
  if (!host || host->IsGroup() || !IsWindow(window)) return 0;
  Queue(window, {partner::HostUpdateData,
                 partner::HostUpdatePayload(*host, static_cast<std::int32_t>(index), C.Clock->Now()),
                 "Host " + host->DisplayName + " Update Sent To "});
  return 1;
}

std::intptr_t TPartnerWindows::Subscribe(std::uintptr_t window) {
  if (FStopped || IsSubscribed(window) || !IsWindow(window)) return 0;
  FSubscribers.push_back(window);
  Queue(window, {0, {}, "Host Updates Notification Requested By "});
  return 1;
}

std::intptr_t TPartnerWindows::Unsubscribe(std::uintptr_t window) {
  if (!IsSubscribed(window)) return 0;
  std::erase(FSubscribers, window);
  Queue(window, {0, {}, "Host Update Notification Canceled By "});
  return 1;
}

void TPartnerWindows::SendHostListToSubscribers() {
  for (std::uintptr_t window : std::vector(FSubscribers)) SendHostList(window, false);
}

void TPartnerWindows::SendHostUpdate(const THost& host) {
  if (FSubscribers.empty() || FStopped) return;
  const int index = C.Hosts->FindByID(host.ID);
  // A retired record's result belongs to no row a partner could know.
  if (index < 0 || C.Hosts->Items(index) != &host) return;
  const std::string payload = partner::HostUpdatePayload(host, index, C.Clock->Now());
  // Whether a window still exists is the sender's question: asked here it would cost the
  // main thread a connect per partner and result.
  for (std::uintptr_t window : FSubscribers) Queue(window, {partner::HostUpdateData, payload, {}});
}

void TPartnerWindows::Stop() {
  FStopped = true;
  for (auto& [window, partner] : FPartners)
    if (partner.Sender) partner.Sender->Terminate();
}

void TPartnerWindows::Queue(std::uintptr_t window, TPartnerSender::TItem item) {
  if (FStopped) return;
  TPartner& partner = FPartners[window];
  if (partner.Sender && partner.Sender->Enqueue(item)) return;
  const std::string title = partner.Title.empty() ? "window " + std::to_string(window) : partner.Title;
  auto report = [link = FLink, window](const TPartnerSender& sender, const TPartnerSender::TOutcome& outcome) {
    std::lock_guard<std::mutex> guard(link->Lock);
    if (!link->Owner) return;
    const TPartnerSender* key = &sender;
    link->Tests->PostCompletion(link->Tests->Completions.MessageSender, [link, window, key, outcome] {
      if (link->Owner) link->Owner->Outcome(window, key, outcome);
    });
  };
  partner.Sender = std::make_shared<TPartnerSender>("Send App Message " + title, window, C.OwnWindow(),
                                                    partner.Title, FTimes, std::move(report));
  partner.Sender->Enqueue(std::move(item));
  C.Running->Add(partner.Sender->Name(), partner.Sender);
  partner.Sender->Start();
}

void TPartnerWindows::Outcome(std::uintptr_t window, const TPartnerSender* sender,
                              const TPartnerSender::TOutcome& outcome) {
  const auto found = FPartners.find(window);
  if (found == FPartners.end()) return;
  TPartner& partner = found->second;
  if (!outcome.Title.empty()) partner.Title = outcome.Title;
  const std::string title = partner.Title.empty() ? "window " + std::to_string(window) : partner.Title;
  if (!outcome.LogPrefix.empty()) C.Events->LogEvent(nullptr, outcome.LogPrefix + title, TLogCategory::Partners);
  if (!outcome.Exception.empty()) ReportFault(C.Faults, "partner window sender", outcome.Exception);
  if (outcome.Dropped > 0)
    ReportFault(C.Faults, "partner window " + title,
                std::to_string(outcome.Dropped) + " messages dropped: the window does not take them");
  if (outcome.Attempted && !outcome.Sent) {
    if (outcome.Gone) {
      std::erase(FSubscribers, window);
    } else {
      const std::string text = "Error Updating Host Information for " + title + " : " + ErrorText(outcome.Error);
      if (C.DiagnosticMode && C.DiagnosticMode())
        C.Events->LogEvent(nullptr, text, TLogCategory::Partners);
      else
        ReportFault(C.Faults, "partner window", text);
    }
  }
  if (!outcome.Finished) return;
  C.Running->Remove(sender);
  if (partner.Sender.get() == sender) partner.Sender.reset();
  if (!partner.Sender && !IsSubscribed(window)) FPartners.erase(found);
}
