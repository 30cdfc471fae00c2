#pragma once
// The web-page test as a test kind (kind 4): its request is the line after the host's.
#include <string>

class TTestKinds;

void RegisterHTTPKind(TTestKinds& kinds);

// The host label's part for a URL: "@" and what follows the URL's second "/" (for
// scheme://server/path, server/path) without a closing bracket; a host without a URL
// yet closes the bracket, so its label does not end in a bare "@".
std::string HTTPLabelSuffix(const std::string& url);
