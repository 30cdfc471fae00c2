// Weak stand-ins for the section steps and passes of the template engine, so that the
// host-action tests link before the engine is built; the engine's own definitions win
// whenever it is linked. Sections here do not nest.
#include <string>

#include "web/TWebRequest.h"
#include "web/WebTemplate.h"

namespace {
bool Bounds(const std::string& page, const std::string& name, std::size_t& start, std::size_t& end) {
  start = page.find("<" + name + ">");
  if (start == std::string::npos) return false;
  end = page.find("</" + name + ">", start);
  return end != std::string::npos;
}
}  // namespace

__attribute__((weak)) void PagePass(std::string&, TWebRequest&, const TWebSite&, bool, bool) {}
__attribute__((weak)) void ConditionalSections(std::string&, const TWebRequest&) {}

__attribute__((weak)) bool UnwrapSection(std::string& page, const std::string& name) {
  std::size_t start, end;
  if (!Bounds(page, name, start, end)) return false;
  page.erase(end, name.size() + 3);
  page.erase(start, name.size() + 2);
  return true;
}
__attribute__((weak)) bool DropSection(std::string& page, const std::string& name) {
  std::size_t start, end;
  if (!Bounds(page, name, start, end)) return false;
  page.erase(start, end + name.size() + 3 - start);
  return true;
}
__attribute__((weak)) void UnwrapAllSections(std::string& page, const std::string& name) {
  while (UnwrapSection(page, name)) {
  }
}
__attribute__((weak)) void DropAllSections(std::string& page, const std::string& name) {
  while (DropSection(page, name)) {
  }
}
