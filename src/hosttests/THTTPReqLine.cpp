#include "hosttests/THTTPReqLine.h"

#include <cmath>
#include <limits>

#include "common/Fields.h"
#include "common/HostsFileNumbers.h"
#include "common/QLEncryptString.h"
#include "common/TFieldSplitter.h"
#include "common/TextUtils.h"

namespace {

TCharSet HTTPLineEscapeSet() { return HostsFileEscapeSet() | CharsOf(","); }

std::string Flag(bool on) { return on ? "1" : ""; }

}  // namespace

std::string HTTPRequestLine(const THTTPReq& req) {
  const TCharSet set = HTTPLineEscapeSet();
  std::string line = HashEscape(req.URL, set);
  line += ',' + Flag(req.Post);
  line += ',' + FormatGeneralNumber(req.ChangeThreshold);
  line += ',' + HashEscape(req.ChangeRecipients, set);
  line += ',' + HashEscape(req.Variables, set);
  line += ',' + HashEscape(req.UserName, set);
  line += ',' + HashEscape(ScrambleText(req.Password), set);
  line += "\r\n";
  return line;
}

THTTPReq ReadHTTPRequestLine(const std::string& line) {
  const TFieldSplitter fields(line, ',', 0);
  // Blanks and control characters around a field are not part of it.
  const auto text = [&](int n) { return HashUnescape(TrimChars(fields.Field(n), CharRange(0, ' '), 0, TrimModeBoth)); };
  THTTPReq req;
  req.URL = text(1);
  req.Post = fields.Field(2) == "1";
  double threshold = 0;
  if (!ParseNumber(fields.Field(3), threshold)) threshold = 0;
  req.ChangeThreshold = std::fabs(threshold) <= std::numeric_limits<float>::max() ? static_cast<float>(threshold) : 0;
  req.ChangeRecipients = text(4);
  req.Variables = text(5);
  req.UserName = text(6);
  req.Password = UnscrambleText(HashUnescape(fields.Field(7)));
  return req;
}
