// The device installer's driver selection for a new device, as Windows setup runs it in its own
// process: it builds the device's compatible driver list from the drivers whose INF models name
// one of the device's ids, ranks each (signature score, feature score, identifier score), calls
// the device's co-installers with each installation request in turn, and installs the driver with
// the best rank after DIF_SELECTBESTCOMPATDRV (ties go to the newer date, then the higher
// version). A co-installer's error other than ERROR_DI_POSTPROCESSING_REQUIRED ends the
// installation with that error; a request a co-installer asked post-processing for calls it again
// with PostProcessing set once the installer's own step has run.
#pragma once

#include <setupapi.h>

#include <optional>
#include <string>
#include <vector>

namespace host::win32 {

// A driver an INF offers: its model entry (the hardware id, then its compatible ids) and what
// SP_DRVINFO_DATA tells about it.
struct OfferedDriver {
    std::string description;
    std::string manufacturer;
    std::string provider;
    FILETIME date;
    DWORDLONG version;
    std::vector<std::u16string> modelIds;
    UCHAR signatureScore = 0x0D; // a driver signed for this Windows
    UCHAR featureScore = 0xFF;   // no FeatureScore directive
};

struct DeviceInstallation {
    std::u16string instanceId;
    std::vector<std::u16string> hardwareIds;
    std::vector<std::u16string> compatibleIds;
    std::vector<OfferedDriver> drivers;
    // The co-installers' modules, each called at its CoInstallerEntryPoint.
    std::vector<std::u16string> coInstallers;
};

struct InstallOutcome {
    DWORD error = NO_ERROR;
    // For each offered driver, its rank when DIF_SELECTBESTCOMPATDRV was done (none if it does
    // not match the device).
    std::vector<std::optional<DWORD>> ranks;
    std::optional<size_t> selected;    // the installed driver, an index into the offered ones
    std::vector<DI_FUNCTION> requests; // the requests sent, in order
};

// The identifier score of a model entry for a device's ids: none if no id matches.
std::optional<DWORD> IdentifierScore(const std::vector<std::u16string> &hardwareIds,
                                     const std::vector<std::u16string> &compatibleIds,
                                     const std::vector<std::u16string> &modelIds);

// Runs the installation on the calling emulated thread, whose process plays the installer's.
InstallOutcome InstallDevice(const DeviceInstallation &installation);

} // namespace host::win32
