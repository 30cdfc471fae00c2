#pragma once
// An alert side that records what its routes and the monitor ask of it, in order,
// instead of alerting anyone. It registers every route the program has, with the
// routes' own rules.
#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/TAlertChannels.h"
#include "core/TAlertMail.h"
#include "core/TAlertRoutes.h"
#include "core/TCommandLineRoute.h"
#include "core/THostDownTraceRoute.h"
#include "core/THostUpdateRoute.h"
#include "core/TLocalAlertRoute.h"
#include "core/TMailAlertRoute.h"
#include "core/TNotificationRoute.h"
#include "core/TPageChangeMailRoute.h"
#include "core/THost.h"
#include "hosttests/TBackgroundTask.h"

// Work in flight that lasts until it is told to stop.
class TRecordedTask : public TBackgroundTask {
public:
  explicit TRecordedTask(std::string name) : TBackgroundTask(std::move(name)) {}
  bool IsAlive() const override { return !Terminated(); }
};

struct TQueuedAlert {
  std::string Recipients, Subject, Body;
  TDateTime WindowStart = 0, WindowEnd = 0;
  std::int32_t HostID = 0;
  int Priority = 0, CancelStatus = 0;
  bool WantTrace = false;
  bool operator==(const TQueuedAlert&) const = default;
};

class TRecordingAlerts : public TAlertChannels, public TAlertMail, public TLocalAlertRoute::TOutput {
public:
  void AddRoutes(TAlertRoutes& routes, const TAlertContext& context) override {
    routes.Add(std::make_unique<THostDownTraceRoute>([this](THost& host) { return StartHostDownTrace(host); }));
    routes.Add(std::make_unique<TLocalAlertRoute>(*this, context));
    routes.Add(std::make_unique<TMailAlertRoute>(*this, context));
    routes.Add(std::make_unique<TCommandLineRoute>(
        [this](const std::string& command, THost& host) { return RunCommandLine(command, host); }, context));
    routes.Add(std::make_unique<TNotificationRoute>(
        [this](THost& host, bool offline) { return StartHttpNotification(host, offline); }));
    routes.Add(std::make_unique<TPageChangeMailRoute>(*this));
    routes.Add(std::make_unique<THostUpdateRoute>([this](THost& host) { SendHostUpdate(host); }));
  }
  // One line per action: "PlaySound Error.wav wait", "AddToAlertWindow web",
  // "StartHttpNotification web offline", "QueueAlert <subject>", ... (host by display name).
  std::vector<std::string> Calls;
  std::vector<TQueuedAlert> Queued;
  // Work handed back by the notifications and traces while StartTasks is on.
  std::vector<std::shared_ptr<TRecordedTask>> Tasks;
  std::map<TAlertTemplate, std::string> Templates;
  bool MailRoute = false, PrimaryServer = false, StartTasks = true;
  // Whether the command lines asked for start.
  bool CommandsStart = true;

  bool Called(const std::string& line) const { return std::find(Calls.begin(), Calls.end(), line) != Calls.end(); }

  // "%name%" stands for the display name.
  std::string ExpandHostVariables(const std::string& text, const THost& host) {
    std::string out = text;
    for (auto at = out.find("%name%"); at != std::string::npos; at = out.find("%name%", at + host.DisplayName.size()))
      out.replace(at, 6, host.DisplayName);
    return out;
  }
  std::string Template(TAlertTemplate which) const {
    const auto it = Templates.find(which);
    return it == Templates.end() ? std::string() : it->second;
  }
  static TAlertTemplate SubjectOf(TAlertKind kind) {
    return kind == TAlertKind::Offline    ? TAlertTemplate::OfflineSubject
           : kind == TAlertKind::Online   ? TAlertTemplate::OnlineSubject
           : kind == TAlertKind::IPChange ? TAlertTemplate::IPChangeSubject
                                          : TAlertTemplate::PageChangeSubject;
  }
  static TAlertTemplate BodyOf(TAlertKind kind) {
    return kind == TAlertKind::Offline    ? TAlertTemplate::OfflineBody
           : kind == TAlertKind::Online   ? TAlertTemplate::OnlineBody
           : kind == TAlertKind::IPChange ? TAlertTemplate::IPChangeBody
                                          : TAlertTemplate::PageChangeBody;
  }
  bool HasTemplate(TAlertKind kind) const override {
    return !Template(SubjectOf(kind)).empty() && (kind != TAlertKind::IPChange || !Template(BodyOf(kind)).empty());
  }
  bool MailRouteConfigured() const override { return MailRoute; }
  bool PrimaryServerConfigured() const override { return PrimaryServer; }
  void QueueAlert(TAlertKind kind, const std::string& recipients, TDateTime windowStart, TDateTime windowEnd,
                  THost& host, int priority, int cancelStatus, bool wantTrace) override {
    const std::string subject = Template(SubjectOf(kind));
    Calls.push_back("QueueAlert " + subject);
    Queued.push_back({recipients, subject, Template(BodyOf(kind)), windowStart, windowEnd, host.ID, priority,
                      cancelStatus, wantTrace});
  }
  void PlaySound(const std::string& fileName, bool wait) override {
    Calls.push_back("PlaySound " + fileName + (wait ? " wait" : ""));
  }
  void AddToAlertWindow(THost& host) override { Calls.push_back("AddToAlertWindow " + host.DisplayName); }
  void RemoveFromAlertWindow(THost& host) override { Calls.push_back("RemoveFromAlertWindow " + host.DisplayName); }
  void ShowOnlinePopup(const std::string& hostLabel) override { Calls.push_back("ShowOnlinePopup " + hostLabel); }
  bool RunCommandLine(const std::string& command, THost& host) override {
    Calls.push_back("RunCommandLine " + ExpandHostVariables(command, host));
    return CommandsStart;
  }
  std::shared_ptr<TBackgroundTask> StartHttpNotification(THost& host, bool offline) {
    return Start("StartHttpNotification " + host.DisplayName + (offline ? " offline" : " online"));
  }
  virtual std::shared_ptr<TBackgroundTask> StartHostDownTrace(THost& host) {
    return Start("StartHostDownTrace " + host.DisplayName);
  }
  std::shared_ptr<TBackgroundTask> StartPeriodicTrace(THost& host) override {
    return Start("StartPeriodicTrace " + host.DisplayName);
  }
  virtual void SendHostUpdate(THost& host) { Calls.push_back("SendHostUpdate " + host.DisplayName); }

private:
  std::shared_ptr<TBackgroundTask> Start(const std::string& line) {
    Calls.push_back(line);
    if (!StartTasks) return nullptr;
    Tasks.push_back(std::make_shared<TRecordedTask>(line));
    return Tasks.back();
  }
};
