#pragma once
// Host actions from the web interface and remote-desktop files: which of the twelve web
// commands a host is offered, the "command" page that performs them (the host changes
// themselves run on the main thread, which the server thread waits for), and the ".rdp"
// files.
#include <cstdint>
#include <string>

#include "common/DateTime.h"

class THost;
class TSettings;
struct TWebRequest;
struct TWebSite;

constexpr int WebCommandCount = 12;
// The name of a web command ("Test Host" ... "Shutdown"); empty for 8 and unknown ones.
std::string WebCommandName(int command);

// Whether command is offered for the host (null: all hosts) to a client on a local
// subnet or not, under the group filter, at the moment now (for a disabling that ends).
// Reads the host: call under the state lock.
bool CommandOffered(int command, const THost* host, bool peerIsLocal, int groupFilter, const TSettings& settings,
                    TDateTime now = Now());

// Whether the pages offer command (their "cmd" sections): CommandOffered for the
// request's client and group filter, with "Restart" and "Shutdown" only where the site
// can control computers remotely; without that hook the command page could only answer
// that they cannot be performed.
bool WebCommandOffered(int command, const THost* host, const TWebRequest& request, const TWebSite& site,
                       const TSettings& settings, TDateTime now = Now());

// Carries out a host command on the main thread (the server thread waits for it): test,
// reset, disable, enable, simulate a failure, wake. hostID 0: all hosts (only test and
// reset). user and peer name the web user in the event log.
void RunWebAction(const TWebSite& site, int command, std::int32_t hostID, const std::string& user,
                  const std::string& peer);

// The pseudo-page "command" (access level 2): performs the request's commands and
// answers the message page, or a redirect.
void CommandPage(TWebRequest& request, const TWebSite& site);
// The ".rdp" route: name is the file name without extension (a hexadecimal host ID).
void RdpRoute(TWebRequest& request, const TWebSite& site, const std::string& name);
// The content of a remote-desktop file for the host (null: none) and address from a
// template text (empty: the default one; UTF-16 with its byte-order mark is read as
// such): UTF-16 little-endian after FF FE.
std::string WriteRdpFile(const THost* host, const std::string& address, const std::string& templateText);
