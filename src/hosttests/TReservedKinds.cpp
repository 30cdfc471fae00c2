#include "hosttests/TReservedKinds.h"

#include "common/Fields.h"
#include "hosttests/TTestKinds.h"

void RegisterReservedKinds(TTestKinds& kinds) {
  TTestKindEntry share;
  share.Kind = TTestKind::Share;
  share.Name = "Share";
  share.Slots = TSlotKind::Share;
  share.LabelSuffix = [](const TTestParams& p) { return "\\" + p.SharePath + ")"; };
  share.TestAddress = [](const std::string& address, const TTestParams& p) { return address + "\\" + p.SharePath; };
  share.Data = [](const TTestParams& p) -> std::optional<std::string> { return p.SharePath; };
  share.OwnVariable = "%share%";
  share.OwnValue = [](const TTestParams& p) { return p.SharePath; };
  share.SummaryType = [](const TTestParams&) { return std::string("Share"); };
  share.SummaryInfo = [](const TTestParams& p) { return p.SharePath; };
  kinds.AddBuiltIn(std::move(share));
}
