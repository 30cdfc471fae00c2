#include "core/TAddressLookup.h"

#include "common/NetText.h"
#include "platform/ArpTable.h"
#include "platform/NameLookup.h"

bool TAddressLookup::IsDotted(const std::string& name) {
  return IsValidIPv4(name) && FormatIPv4(ParseIPv4(name)) == name;
}

void TAddressLookup::Run() {
  if (!Name.empty()) {
    std::uint32_t address = 0;
    if (!Resolve(Name, address, Resolved)) Resolved.clear();
  }
  if (!Neighbour.empty()) Mac = MacText(ArpLookup(Neighbour));
}
