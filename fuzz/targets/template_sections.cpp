// fuzz-sources: web/WebSections.cpp web/TWebRequest.cpp common/Fields.cpp common/TextCodec.cpp common/TextUtils.cpp
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "web/TWebRequest.h"
#include "web/WebSections.h"
#include "web/WebTemplate.h"

// A page template is the user's text: the section steps must end on any of it, only ever
// take text away, and JSON escaping must leave nothing but printable ASCII.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  std::string page = input;
  TWebRequest request;
  request.SetParam("target", "t");
  SetListedParameters(page, request, "vars", false);
  SetListedParameters(page, request, "defaults", true);
  if (page.size() > input.size()) std::abort();
  const std::size_t before = page.size();
  std::string taken;
  if (TakeOutSection(page, "log", taken) && taken.size() + 11 > before) std::abort();
  UnwrapAllSections(page, "error");
  DropAllSections(page, "cmd1");
  ConditionalSections(page, request);
  if (page.size() > before) std::abort();
  for (const char c : JsonEscape(input))
    if (c < 0x20 || c > 0x7e) std::abort();
  return 0;
}
