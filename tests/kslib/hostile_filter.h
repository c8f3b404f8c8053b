// A filter that answers KS property requests with whatever bytes the test gives it: one render
// sink pin whose pin properties and the filter's node list come from a table, answered with the
// size a size query asks for and cut to the buffer otherwise, always with success. It stands
// for a faulty or hostile driver behind "\\.\QuenHostile".
#pragma once

#include <wdm.h>
#include <ks.h>

#include "win32/named_test_device.h"

#include <map>
#include <vector>

namespace kslib_tests {

struct HostileReplies {
    std::map<ULONG, std::vector<UCHAR>> pin; // KSPROPSETID_Pin, by property id
    std::vector<UCHAR> nodes;                // KSPROPERTY_TOPOLOGY_NODES
    ULONG overstated = 0; // claimed beyond the bytes written, on every answer with data
};

constexpr WCHAR kHostilePath[] = L"\\\\.\\QuenHostile";

// The filter's device, made and named, and deleted with its driver at the end.
class HostileFilter {
public:
    HostileFilter(host::Machine &machine, const HostileReplies &replies);

private:
    NamedTestDevice device_;
};

// A well-formed pin: a render sink with the standard interface and medium and one audio range.
HostileReplies WellFormedReplies();

// KSMULTIPLE_ITEM lists as a driver writes them, with Size and Count as given.
std::vector<UCHAR> MultipleItem(ULONG size, ULONG count, const std::vector<UCHAR> &items);
std::vector<UCHAR> AudioRange(ULONG formatSize);

} // namespace kslib_tests
