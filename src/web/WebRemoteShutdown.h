#pragma once
// The web commands "Restart" and "Shutdown" on the host menu's code (tools/RemoteControl),
// wired only where they can work: with Samba's net tool installed. The SMB port is read
// from the site's monitor at each request.
#include "platform/ComputerShutdown.h"

struct TWebSite;

// Sets site.RemoteShutdown, or leaves it empty when tools' net program is missing (the
// pages then do not offer the commands). site.Monitor must be set.
void SetUpWebRemoteShutdown(TWebSite& site, const TShutdownTools& tools = {});
