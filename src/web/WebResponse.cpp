#include "web/WebResponse.h"

#include <algorithm>

#include "common/HttpDate.h"
#include "common/ProgramVersion.h"

namespace {

std::string MainType(const std::string& contentType) { return contentType.substr(0, contentType.find(';')); }

// A value that came from a request (a Host or Referer in a Location) must not end the
// header line: a CR or LF in it would let a client write headers of its own.
std::string HeaderValueText(std::string text) {
  text.erase(std::remove_if(text.begin(), text.end(), [](char c) { return c == '\r' || c == '\n'; }), text.end());
  return text;
}

}  // namespace

std::string WebReason(const std::string& status) {
  const std::string code = status.substr(0, 3);
  if (status == "500-13") return "Server too busy - try again later";
  if (code == "200") return "OK";
  if (code == "304") return "Not modified";
  if (code == "400") return "Bad Request";
  if (code == "401") return "Authentication Required";
  if (code == "403") return "Forbidden";
  if (code == "404") return "Not found";
  if (code == "500") return "Internal Server Error: " + (status.size() > 4 ? status.substr(4) : std::string());
  return {};
}

std::string BuildWebResponse(const TWebRequest& request, bool closeAsked, const std::string& computerName, TDateTime now) {
  const std::string code = request.Status.substr(0, 3);
  std::string reason = WebReason(request.Status);
  std::string contentType = request.ContentType;
  std::string errorBody;
  const std::string* body = &request.Body;
  TDateTime lastModified = request.LastModified;
  std::string extra;
  if (code != "200") {
    contentType = "text/plain";
    lastModified = 0;
    if (code[0] == '3' && code != "304") {
      extra = "Location: " + HeaderValueText(request.Body) + "\r\n";
      reason.clear();
    }
    const std::string codeText = request.Status.substr(0, request.Status.find(' '));
    if (code != "304") errorBody = "Error " + codeText + ": " + reason + "\r\nPage: " + request.Client.Path + "\r\n";
    // A refusal says why beneath.
    if (code == "403" && request.Status.size() > 4) errorBody += request.Status.substr(4) + "\r\n";
    body = &errorBody;
    if (code == "401") extra += "WWW-Authenticate: Basic realm=\"" + HeaderValueText(computerName) + " Corvale\"\r\n";
  }

  std::string out = std::string("HTTP/") + (request.Client.HTTP11 ? "1.1" : "1.0") + " " + code + " " + HeaderValueText(reason) + "\r\n";
  out += extra;
  out += "Date: " + HttpDateText(now, true) + "\r\n";
  out += "Server: QLM Corvale " + ProgramVersionNumber() + "\r\n";
  if (!contentType.empty()) {
    if (lastModified != 0) out += "Last-Modified: " + HttpDateText(lastModified, true) + "\r\n";
    const std::string type = MainType(contentType);
    // What a program reads for the state now (status.json, the metrics) is never cached.
    if (type == "text/html" || type == "text/plain" || type == "text/xml" || type == "application/json") {
      out += "Cache-control: no-cache\r\nCache-control: must-revalidate\r\n";
      out += "Expires: " + HttpDateText(now, true) + "\r\n";
    } else if (type != "application/octet-stream") {
      out += "Expires: " + HttpDateText(now + 1.0 / 24, true) + "\r\n";
    }
    out += "Content-Type: " + HeaderValueText(contentType) + "\r\n";
    out += "Content-Length: " + std::to_string(body->size()) + "\r\n";
  }
  if (closeAsked && request.Client.HTTP11) out += "Connection: close\r\n";
  out += "\r\n";
  if (!request.Head) {
    out.reserve(out.size() + body->size());
    out += *body;
  }
  return out;
}
