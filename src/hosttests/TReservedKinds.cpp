#include "hosttests/TReservedKinds.h"

#include "common/Fields.h"
#include "hosttests/TTestKinds.h"

namespace {

// The service field as a test reads it: name "|" display name, either may be quoted.
std::string ServicePart(const TTestParams& p, int part) { return GetField(p.Service, '|', part, '"'); }

}  // namespace

void RegisterReservedKinds(TTestKinds& kinds) {
  TTestKindEntry service;
  service.Kind = TTestKind::Service;
  service.Name = "Service";
  service.Slots = TSlotKind::Service;
  service.LabelSuffix = [](const TTestParams& p) { return "/" + p.ServiceName() + ")"; };
  service.TestAddress = [](const std::string& address, const TTestParams& p) { return address + "/" + ServicePart(p, 1); };
  service.Data = [](const TTestParams& p) -> std::optional<std::string> { return ServicePart(p, 2); };
  service.OwnVariable = "%service%";
  service.OwnValue = [](const TTestParams& p) { return ServicePart(p, 2); };
  service.SummaryType = [](const TTestParams&) { return std::string("Service"); };
  service.SummaryInfo = [](const TTestParams& p) { return p.ServiceDisplayName(); };
  kinds.AddBuiltIn(std::move(service));
}
