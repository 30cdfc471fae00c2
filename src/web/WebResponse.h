#pragma once
// The bytes of a response: status line, headers and (unless HEAD) body.
#include <string>

#include "common/DateTime.h"
#include "web/TWebRequest.h"

// The reason text of a status code text ("404" -> "Not found", "500 detail" ->
// "Internal Server Error: detail").
std::string WebReason(const std::string& status);

// Builds the response to request (its response slots, the client's version and path);
// closeAsked: the client sent "connection: close"; computerName: the realm's computer;
// now: the local time of the Date and Expires lines.
std::string BuildWebResponse(const TWebRequest& request, bool closeAsked, const std::string& computerName, TDateTime now);
