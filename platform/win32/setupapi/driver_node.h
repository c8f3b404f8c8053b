// A driver the device installer found for a device (or for a class): what SP_DRVINFO_DATA tells
// about it, and the installer's rank and flags for it, which class installers and co-installers
// read and change through the driver install parameters.
#pragma once

#include <setupapi.h>

#include <string>
#include <vector>

namespace host::win32 {

struct DriverNode {
    std::string description;
    std::string manufacturer;
    std::string provider;
    FILETIME date;
    DWORDLONG version;
    DWORD rank;
    DWORD flags;
};

// Fills an SP_DRVINFO_DATA (version 1 or 2, by its cbSize) for the node at `index` of a list of
// `type`.
void DescribeDriver(const DriverNode &node, DWORD type, size_t index, PSP_DRVINFO_DATA_A data);
// The node an SP_DRVINFO_DATA names in the list of its type: by its Reserved index, or when that
// is 0 by its description, manufacturer and provider, as SetupAPI looks drivers up. Null if none.
DriverNode *FindDriver(std::vector<DriverNode> &list, const SP_DRVINFO_DATA_A &data);

} // namespace host::win32
