#pragma once
// What a finished trace says: the report lines of the host-down trace, its last reply,
// where a known route dropped, and the route a periodic trace records. Plain functions
// of the results, so that every rule is tested without a network.
#include <string>
#include <vector>

#include "tools/TTraceRouteThread.h"

// One line per hop up to the hop that answered from target (the traced dotted address):
// the passes' times ("*" for no answer) divided by tabs, a tab, the name and
// " [" address "]", each followed by its error lines.
std::vector<std::string> TraceReportLines(const TTraceResults& results, const std::string& target);

struct TTraceLastReply {
  std::string Text;     // name + " [" + address + "]", the address, or "(No Response)"
  std::string Address;  // empty without any reply
  std::string Name;     // the answering router's name; empty when it has none
};
TTraceLastReply LastReply(const TTraceResults& results);

struct TTraceDrop {
  std::string Annotated;  // the last reply text with " (Dropped at ...)" for each route
  std::string DropPoint;  // the last drop point found; empty when none
};
// Looks for the last reply in each known route (";"-separated lists of ","-separated
// hops, each a name or an address) and names the hop that follows it there.
TTraceDrop DropPoint(const std::string& knownRoutes, const TTraceLastReply& last);

// The route of a periodic trace: the hops up to the first at which the destination
// answers, each its name or address, joined by ",".
std::string RouteText(const TTraceResults& results);
// The known routes with route added when it is new; empty entries dropped.
std::string AddKnownRoute(const std::string& knownRoutes, const std::string& route);

// The file name of a host's trace report: the address without characters that cannot
// stand in a file name, + " AutoTrace.txt".
std::string AutoTraceFileName(const std::string& address);
