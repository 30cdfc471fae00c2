#include "tools/MacVendor.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <stdexcept>

#include "common/TextUtils.h"
#include "hosttests/TQLHTTPDownload.h"

namespace {
constexpr std::size_t MaxListBytes = 64 * 1024 * 1024;
constexpr std::size_t MaxEntryLines = 16;

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}
}  // namespace

std::string OuiPrefix(const std::string& mac) {
  std::string prefix = mac.substr(0, 8);
  std::replace(prefix.begin(), prefix.end(), ':', '-');
  std::transform(prefix.begin(), prefix.end(), prefix.begin(), [](unsigned char c) { return std::toupper(c); });
  return prefix;
}

bool VendorFromPage(const std::string& body, std::string& vendor) {
  vendor.clear();
  const std::string lower = Lower(body);
  const std::size_t open = lower.find("<pre>");
  if (open == std::string::npos) return false;
  const std::size_t close = lower.find("</pre>", open + 5);
  if (close == std::string::npos) return false;
  std::string block = body.substr(open + 5, close - open - 5);
  block = ReplaceAll("<b>", "", ReplaceAll("</b>", "", block, false), false);
  block = ReplaceAll("\n\r", "\r\n", block, true);
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start <= block.size()) {
    std::size_t end = block.find_first_of("\r\n", start);
    if (end == std::string::npos) end = block.size();
    std::string line = block.substr(start, end - start);
    if (const std::size_t tab = line.find('\t'); tab != std::string::npos) line.erase(0, tab + 1);
    lines.push_back(line);
    if (end < block.size() && block[end] == '\r' && end + 1 < block.size() && block[end + 1] == '\n') ++end;
    start = end + 1;
  }
  // A block that ends with a line break ends with that line, not an empty one after it.
  if (!lines.empty() && lines.back().empty()) lines.pop_back();
  for (std::size_t i = 0; i < lines.size(); ++i) vendor += (i ? "\r\n" : "") + lines[i];
  return lines.size() > 1;
}

bool VendorFromOuiList(const std::string& fileName, const std::string& mac, std::string& vendor) {
  vendor.clear();
  const std::string prefix = OuiPrefix(mac);
  if (prefix.size() != 8) return false;
  std::ifstream in(fileName, std::ios::binary);
  if (!in) return false;
  std::string line, block;
  std::size_t read = 0, taken = 0;
  while (read < MaxListBytes && std::getline(in, line)) {
    read += line.size() + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (taken == 0) {
      if (line.compare(0, prefix.size(), prefix) != 0 || line.find("(hex)") == std::string::npos) continue;
    } else if (line.find_first_not_of(" \t") == std::string::npos || taken >= MaxEntryLines) {
      break;
    }
    block += line + "\r\n";
    ++taken;
  }
  return taken > 0 && VendorFromPage("<pre>" + block + "</pre>", vendor);
}

bool VendorFromServer(const std::string& server, const std::string& mac, int timeoutMs, std::string& vendor) {
  vendor.clear();
  TQLHTTPDownload http;
  const std::string url = server.find("://") == std::string::npos ? "http://" + server : server;
  if (!http.SetURL(url)) return false;
  http.SetDocument("/cgi-bin/ouisearch");
  http.Method = dmPOST;
  http.UploadVars = {"x=" + OuiPrefix(mac), "submit2=Search!"};
  http.AutoRedirect = true;
  http.UserAgent = "QLM HTTP Control 1.1 (Corvale)";
  http.TimeoutMs = timeoutMs;
  try {
    http.Request();
  } catch (const std::exception&) {
    return false;  // the message says the information is not available
  }
  return http.ResultCode() == 200 && VendorFromPage(http.Body(), vendor);
}

bool LookUpVendor(const std::string& mac, const std::string& listFile, const std::string& server, int timeoutMs,
                  std::string& vendor) {
  if (VendorFromOuiList(listFile, mac, vendor)) return true;
  return !server.empty() && VendorFromServer(server, mac, timeoutMs, vendor);
}

TToolMessage VendorMessage(const std::string& mac, bool found, const std::string& vendor) {
  if (found) return {false, "MAC Address: " + mac + "\r\r" + "Manufacturer:" + "\r" + vendor};
  return {false, "MAC Address: " + mac + "\r\r" + "Information Not Available"};
}
