#include "device_installer.h"

#include "caller.h"
#include "device_info_set.h"
#include "system_modules.h"

#include "kernel/wide_string.h"

#include <algorithm>
#include <memory>

namespace host::win32 {

namespace {

typedef DWORD(CALLBACK *CoInstallerEntry)(DI_FUNCTION, HDEVINFO, PSP_DEVINFO_DATA,
                                          PCOINSTALLER_CONTEXT_DATA);

// What setup sends a new device's co-installers, in order, once the driver is chosen.
const DI_FUNCTION kInstallRequests[] = {
    DIF_SELECTBESTCOMPATDRV,           DIF_ALLOW_INSTALL,     DIF_INSTALLDEVICEFILES,
    DIF_REGISTER_COINSTALLERS,         DIF_INSTALLINTERFACES, DIF_INSTALLDEVICE,
    DIF_NEWDEVICEWIZARD_FINISHINSTALL,
};

ULONGLONG TimeOf(const FILETIME &time)
{
    return (ULONGLONG(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

class Installer {
public:
    Installer(Caller &caller, const DeviceInstallation &installation)
        : caller_(caller), installation_(installation)
    {
        auto set = std::make_unique<DeviceInfoSet>(caller.machine);
        set_ = set.get();
        size_t device = set_->AddDevice(installation.instanceId);
        for (size_t i = 0; i < installation.drivers.size(); ++i) {
            const OfferedDriver &offered = installation.drivers[i];
            std::optional<DWORD> score = IdentifierScore(
                installation.hardwareIds, installation.compatibleIds, offered.modelIds);
            if (!score)
                continue;
            DWORD rank = (DWORD(offered.signatureScore) << 24) |
                         (DWORD(offered.featureScore) << 16) | *score;
            set_->Device(device).compatibleDrivers.push_back(
                {offered.description, offered.manufacturer, offered.provider, offered.date,
                 offered.version, rank, 0});
            offeredOf_.push_back(i);
        }
        handle_ = caller.process.AddDeviceInfoSet(std::move(set));
        deviceData_.cbSize = sizeof(deviceData_);
        set_->Describe(device, &deviceData_);
    }
    ~Installer()
    {
        for (HMODULE module : modules_)
            FreeLibrary(module);
        caller_.process.RemoveDeviceInfoSet(handle_);
    }

    InstallOutcome Run()
    {
        InstallOutcome outcome;
        outcome.ranks.resize(installation_.drivers.size());
        outcome.error = LoadCoInstallers();
        for (DI_FUNCTION request : kInstallRequests) {
            if (outcome.error != NO_ERROR)
                break;
            outcome.requests.push_back(request);
            outcome.error = Send(request, outcome);
        }
        if (!modules_.empty()) {
            outcome.requests.push_back(DIF_DESTROYPRIVATEDATA);
            Send(DIF_DESTROYPRIVATEDATA, outcome);
        }
        if (outcome.error != NO_ERROR)
            outcome.selected.reset();
        return outcome;
    }

private:
    DWORD LoadCoInstallers()
    {
        for (const std::u16string &path : installation_.coInstallers) {
            HMODULE module = LoadLibraryW(reinterpret_cast<LPCWSTR>(path.c_str()));
            if (module == nullptr)
                return GetLastError();
            modules_.push_back(module);
            FARPROC entry = GetProcAddress(module, "CoInstallerEntryPoint");
            if (entry == nullptr)
                return GetLastError();
            entries_.push_back(FunctionFrom<CoInstallerEntry>(entry));
        }
        return NO_ERROR;
    }

    // One request through every co-installer, the installer's own step, and the post-processing
    // the co-installers asked for (last asked, first called).
    DWORD Send(DI_FUNCTION request, InstallOutcome &outcome)
    {
        std::vector<std::pair<CoInstallerEntry, PVOID>> postProcessing;
        for (CoInstallerEntry entry : entries_) {
            COINSTALLER_CONTEXT_DATA context = {FALSE, NO_ERROR, nullptr};
            DWORD result = entry(request, handle_, &deviceData_, &context);
            if (result == ERROR_DI_POSTPROCESSING_REQUIRED)
                postProcessing.emplace_back(entry, context.PrivateData);
            else if (result != NO_ERROR)
                return result;
        }
        DWORD result = request == DIF_SELECTBESTCOMPATDRV ? SelectBest(outcome) : NO_ERROR;
        for (auto it = postProcessing.rbegin(); it != postProcessing.rend(); ++it) {
            COINSTALLER_CONTEXT_DATA context = {TRUE, result, it->second};
            DWORD post = it->first(request, handle_, &deviceData_, &context);
            if (post != NO_ERROR)
                result = post;
        }
        return result;
    }

    DWORD SelectBest(InstallOutcome &outcome)
    {
        const std::vector<DriverNode> &list = set_->Device(0).compatibleDrivers;
        if (list.empty())
            return ERROR_NO_COMPAT_DRIVERS;
        size_t best = 0;
        for (size_t i = 0; i < list.size(); ++i) {
            outcome.ranks[offeredOf_[i]] = list[i].rank;
            const DriverNode &a = list[i], &b = list[best];
            if (a.rank < b.rank ||
                (a.rank == b.rank && (TimeOf(a.date) > TimeOf(b.date) ||
                                      (TimeOf(a.date) == TimeOf(b.date) && a.version > b.version))))
                best = i;
        }
        outcome.selected = offeredOf_[best];
        return NO_ERROR;
    }

    Caller &caller_;
    const DeviceInstallation &installation_;
    DeviceInfoSet *set_;
    HDEVINFO handle_;
    SP_DEVINFO_DATA deviceData_ = {};
    std::vector<size_t> offeredOf_; // the offered driver behind each node of the list
    std::vector<HMODULE> modules_;
    std::vector<CoInstallerEntry> entries_;
};

// Position of an id in a list (case-insensitive), if it is there.
std::optional<DWORD> PositionIn(const std::vector<std::u16string> &list, const std::u16string &id)
{
    for (size_t i = 0; i < list.size(); ++i)
        if (EqualIgnoreCase(list[i], id))
            return DWORD(std::min<size_t>(i, 0xFFF));
    return std::nullopt;
}

} // namespace

std::optional<DWORD> IdentifierScore(const std::vector<std::u16string> &hardwareIds,
                                     const std::vector<std::u16string> &compatibleIds,
                                     const std::vector<std::u16string> &modelIds)
{
    std::optional<DWORD> best;
    auto consider = [&best](DWORD score) { best = best ? std::min(*best, score) : score; };
    for (size_t j = 0; j < modelIds.size(); ++j) {
        DWORD hardwareType = j == 0 ? 0x0000 : 0x1000;
        DWORD compatibleType = j == 0 ? 0x2000 : 0x3000;
        if (std::optional<DWORD> i = PositionIn(hardwareIds, modelIds[j]))
            consider(hardwareType + *i);
        if (std::optional<DWORD> k = PositionIn(compatibleIds, modelIds[j]))
            consider(compatibleType + *k);
    }
    return best;
}

InstallOutcome InstallDevice(const DeviceInstallation &installation)
{
    Caller caller = CallerOf("device installer");
    return Installer(caller, installation).Run();
}

} // namespace host::win32
