#include "web/TWebRequest.h"

#include <algorithm>

namespace {

bool SameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return (x >= 'A' && x <= 'Z' ? x + 32 : x) == (y >= 'A' && y <= 'Z' ? y + 32 : y);
         });
}

}  // namespace

std::string TWebRequest::Param(const std::string& name) const {
  for (const auto& [key, value] : Params)
    if (SameName(key, name)) return value;
  return {};
}

bool TWebRequest::HasParam(const std::string& name) const {
  return std::any_of(Params.begin(), Params.end(), [&name](const auto& p) { return SameName(p.first, name); });
}

void TWebRequest::SetParam(const std::string& name, const std::string& value) {
  const auto it = std::find_if(Params.begin(), Params.end(), [&name](const auto& p) { return SameName(p.first, name); });
  if (value.empty()) {
    if (it != Params.end()) Params.erase(it);
  } else if (it != Params.end()) {
    it->second = value;
  } else {
    Params.emplace_back(name, value);
  }
}
