#pragma once
// The host records other programs receive by data copy: a payload of a record count, the
// record size and fixed-size little-endian host records of 1374 bytes each. Texts are
// length-prefixed (one length byte and up to 255 bytes, 256 in all), date-times are the
// record's day counts.
#include <cstddef>
#include <cstdint>
#include <string>

#include "common/DateTime.h"

class THost;
class THostList;

namespace partner {

// The data-copy kinds.
constexpr std::uintptr_t HostListData = 6442;
constexpr std::uintptr_t HostUpdateData = 6441;

constexpr std::size_t RecordSize = 1374;
constexpr std::size_t HeaderSize = 8;

// Offsets within one record.
namespace field {
constexpr std::size_t Index = 0, DisplayName = 4, Address = 260, CurrentIP = 516, TestInterval = 772,
                      ErrorAfter = 780, LastCheck = 788, LastSuccess = 796, LastFailure = 804,
                      BaselineTime = 812, Successes = 820, Failures = 824, BackToBackFailures = 828,
                      Warnings = 832, Errors = 836, TotalResponse = 840, LastErrorText = 848, Status = 1104,
                      PreviousStatus = 1108, TestKind = 1112, TargetSeparator = 1116, Target = 1117,
                      Disabled = 1373;
}

// Appends one record of the host at that index of the host list.
void AppendHostRecord(std::string& out, const THost& host, std::int32_t index, TDateTime now);

// The whole host list, group rows only with includeGroups. The size counts every record of
// the list, as partners size their buffers by it; what follows the last record is zero.
std::string HostListPayload(const THostList& hosts, bool includeGroups, TDateTime now);

// One host's update.
std::string HostUpdatePayload(const THost& host, std::int32_t index, TDateTime now);

}  // namespace partner
