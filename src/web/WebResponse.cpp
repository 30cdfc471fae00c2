#include "web/WebResponse.h"

#include "common/HttpDate.h"
#include "common/ProgramVersion.h"

namespace {

std::string MainType(const std::string& contentType) { return contentType.substr(0, contentType.find(';')); }

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
  std::string body = request.Body;
  TDateTime lastModified = request.LastModified;
  std::string extra;
  if (code != "200") {
    contentType = "text/plain";
    lastModified = 0;
    if (code[0] == '3' && code != "304") {
      extra = "Location: " + request.Body + "\r\n";
      reason.clear();
    }
    const std::string codeText = request.Status.substr(0, request.Status.find(' '));
    body = code == "304" ? std::string() : "Error " + codeText + ": " + reason + "\r\nPage: " + request.Client.Path + "\r\n";
    if (code == "401") extra += "WWW-Authenticate: Basic realm=\"" + computerName + " Corvale\"\r\n";
  }

  std::string out = std::string("HTTP/") + (request.Client.HTTP11 ? "1.1" : "1.0") + " " + code + " " + reason + "\r\n";
  out += extra;
  out += "Date: " + HttpDateText(now, true) + "\r\n";
  out += "Server: QLM Corvale " + ProgramVersionNumber() + "\r\n";
  if (!contentType.empty()) {
    if (lastModified != 0) out += "Last-Modified: " + HttpDateText(lastModified, true) + "\r\n";
    const std::string type = MainType(contentType);
    if (type == "text/html" || type == "text/plain" || type == "text/xml") {
      out += "Cache-control: no-cache\r\nCache-control: must-revalidate\r\n";
      out += "Expires: " + HttpDateText(now, true) + "\r\n";
    } else if (type != "application/octet-stream") {
      out += "Expires: " + HttpDateText(now + 1.0 / 24, true) + "\r\n";
    }
    out += "Content-Type: " + contentType + "\r\n";
    out += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  }
  if (closeAsked && request.Client.HTTP11) out += "Connection: close\r\n";
  out += "\r\n";
  if (!request.Head) out += body;
  return out;
}
