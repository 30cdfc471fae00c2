#include "alerts/TEmailInfo.h"

// The client's type is complete only here and where the queue drives it.
#include "alerts/TSmtpCli.h"
#include "common/TextUtils.h"

TEmailInfo::TEmailInfo() = default;

TEmailInfo::~TEmailInfo() = default;

void FillTraceVariables(TEmailInfo& entry, const std::string& lastHost, const std::string& droppedAt,
                        const std::string& traceRoute) {
  for (std::string* text : {&entry.Subject, &entry.Body}) {
    *text = ReplaceAll("%droppedat%", droppedAt, *text, true);
    *text = ReplaceAll("%traceroute%", traceRoute, *text, true);
    *text = ReplaceAll("%lasthost%", lastHost, *text, true);
  }
  entry.WaitingForTrace = false;
}
