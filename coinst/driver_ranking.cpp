#include "driver_ranking.h"

#include "coinst_trace.h"

#include <cstring>

namespace {

const char kPackageManufacturer[] = "Norvane_Quen";
const char *const kPackageModels[] = {"Quen DSD Audio RV-D3", nullptr};

const DWORD kWorstRank = 0xFFFFFFFF;

enum class WalkStep { Detect, Demote };

// A name field equal to `text` with its terminator (a field without one never matches).
bool SameName(const CHAR (&field)[LINE_LEN], const char *text)
{
    return std::memcmp(field, text, std::strlen(text) + 1) == 0;
}

template <size_t N>
void CopyName(CHAR (&to)[N], const CHAR *from, size_t capacity)
{
    size_t size = strnlen(from, capacity < N ? capacity : N - 1);
    std::memcpy(to, from, size);
    to[size] = '\0';
}

void TraceDriver(DWORD index, const SP_DRVINFO_DATA_V2_A &driver,
                 const SP_DEVINSTALL_PARAMS_A &deviceParams)
{
    CoinstTraceDriver record = {};
    record.index = index;
    CopyName(record.path, deviceParams.DriverPath, MAX_PATH);
    CopyName(record.description, driver.Description, LINE_LEN);
    CopyName(record.manufacturer, driver.MfgName, LINE_LEN);
    CopyName(record.provider, driver.ProviderName, LINE_LEN);
    SYSTEMTIME date;
    if (FileTimeToSystemTime(&driver.DriverDate, &date)) {
        GetDateFormatA(LOCALE_USER_DEFAULT, DATE_LONGDATE, &date, nullptr, record.date,
                       sizeof record.date);
        GetTimeFormatA(LOCALE_USER_DEFAULT, 0, &date, nullptr, record.time, sizeof record.time);
    }
    for (int part = 0; part < 4; ++part)
        record.version[part] = WORD(driver.DriverVersion >> (48 - 16 * part));
    CoinstTrace(kTraceDriver, record);
}

DWORD Detect(DWORD index, const SP_DRVINFO_DATA_V2_A &driver, const SP_DRVINSTALL_PARAMS &params,
             bool *found)
{
    if (IsPackageDriver(driver)) {
        CoinstTrace(kTraceMatch, CoinstTraceRank{index, params.Rank, params.Flags});
        *found = true;
    }
    return NO_ERROR;
}

DWORD Demote(HDEVINFO set, PSP_DEVINFO_DATA device, DWORD index, SP_DRVINFO_DATA_V2_A &driver,
             SP_DRVINSTALL_PARAMS &params)
{
    if (IsPackageDriver(driver)) {
        CoinstTrace(kTraceKept, CoinstTraceRank{index, params.Rank, params.Flags});
        return NO_ERROR;
    }
    params.Rank = kWorstRank;
    if (!SetupDiSetDriverInstallParamsA(set, device, &driver, &params)) {
        DWORD error = GetLastError();
        CoinstTrace(kTraceDemoteFailed, CoinstTraceFailure{index, error});
        return error;
    }
    CoinstTrace(kTraceDemoted, CoinstTraceRank{index, params.Rank, params.Flags});
    return NO_ERROR;
}

DWORD WalkDrivers(HDEVINFO set, PSP_DEVINFO_DATA device, WalkStep step, bool *found)
{
    DWORD result = NO_ERROR;
    DWORD type = device != nullptr ? SPDIT_COMPATDRIVER : SPDIT_CLASSDRIVER;
    for (DWORD index = 0;; ++index) {
        SP_DRVINFO_DATA_V2_A driver = {};
        driver.cbSize = sizeof driver;
        if (!SetupDiEnumDriverInfoA(set, device, type, index, &driver)) {
            DWORD error = GetLastError();
            if (error != ERROR_NO_MORE_ITEMS)
                CoinstTrace(kTraceWalkFailed, CoinstTraceFailure{index, error});
            break;
        }
        SP_DEVINSTALL_PARAMS_A deviceParams = {};
        deviceParams.cbSize = sizeof deviceParams;
        if (!SetupDiGetDeviceInstallParamsA(set, device, &deviceParams)) {
            CoinstTrace(kTraceWalkFailed, CoinstTraceFailure{index, GetLastError()});
            break;
        }
        TraceDriver(index, driver, deviceParams);
        SP_DRVINSTALL_PARAMS params = {};
        params.cbSize = sizeof params;
        if (!SetupDiGetDriverInstallParamsA(set, device, &driver, &params)) {
            CoinstTrace(kTraceWalkFailed, CoinstTraceFailure{index, GetLastError()});
            break;
        }
        CoinstTrace(kTraceDriverRank, CoinstTraceRank{index, params.Rank, params.Flags});
        DWORD stepResult = step == WalkStep::Detect ? Detect(index, driver, params, found)
                                                    : Demote(set, device, index, driver, params);
        if (stepResult != NO_ERROR)
            result = stepResult;
    }
    return result;
}

} // namespace

bool IsPackageDriver(const SP_DRVINFO_DATA_V2_A &driver)
{
    if (!SameName(driver.MfgName, kPackageManufacturer))
        return false;
    for (const char *const *model = kPackageModels; *model != nullptr; ++model)
        if (SameName(driver.Description, *model))
            return true;
    return false;
}

void RankPackageDriverFirst(HDEVINFO set, PSP_DEVINFO_DATA device)
{
    bool found = false;
    WalkDrivers(set, device, WalkStep::Detect, &found);
    if (found)
        WalkDrivers(set, device, WalkStep::Demote, &found);
}
