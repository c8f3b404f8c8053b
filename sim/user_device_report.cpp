#include "user_device_report.h"

#include "report_line.h"

#include "ks_aud_filter.h"
#include "ks_aud_pin.h"

#include <string>
#include <vector>

namespace sim {

namespace {

std::string Narrow(LPCWSTR text)
{
    std::string narrow;
    for (; *text != 0; ++text)
        narrow.push_back(*text < 0x80 ? char(*text) : '?');
    return narrow;
}

// A device property as text (a multi-string's strings joined by ", "); empty if it is absent.
std::string DeviceText(HDEVINFO set, PSP_DEVINFO_DATA device, DWORD property)
{
    DWORD needed = 0;
    SetupDiGetDeviceRegistryPropertyW(set, device, property, nullptr, nullptr, 0, &needed);
    std::vector<WCHAR> value(needed / sizeof(WCHAR) + 2, 0); // room for missing terminators
    if (needed == 0 ||
        !SetupDiGetDeviceRegistryPropertyW(set, device, property, nullptr,
                                           reinterpret_cast<PBYTE>(value.data()), needed, nullptr))
        return std::string();
    std::string text;
    for (LPCWSTR item = value.data(); *item != 0; item += lstrlenW(item) + 1)
        text += (text.empty() ? "" : ", ") + Narrow(item);
    return text;
}

void PrintPins(std::FILE *out, const char *direction, const CKsPinList &pins)
{
    for (CKsPin *candidate : pins) {
        auto pin = static_cast<CKsAudPin *>(candidate);
        ReportLine(out, 2, "pin %u: %s \"%s\", %u instance(s)", pin->PinId(), direction,
                   Narrow(pin->Name()).c_str(), pin->Instances().PossibleCount);
        for (const KSDATARANGE_AUDIO &range : pin->AudioRanges())
            ReportLine(out, 3, "up to %u ch, %u to %u bits, %u to %u Hz", range.MaximumChannels,
                       range.MinimumBitsPerSample, range.MaximumBitsPerSample,
                       range.MinimumSampleFrequency, range.MaximumSampleFrequency);
    }
}

void PrintFilter(std::FILE *out, LPCWSTR path)
{
    HRESULT status = E_FAIL;
    CKsAudFilter2 filter(path, &status);
    if (FAILED(status) || FAILED(filter.OpenFilter())) {
        ReportLine(out, 2, "!! the filter cannot be opened (error %u)", GetLastError());
        return;
    }
    if (FAILED(filter.ListPins())) {
        ReportLine(out, 2, "!! the filter lists no streaming pin");
        return;
    }
    PrintPins(out, "render", filter.RenderSinkPins());
    PrintPins(out, "capture", filter.CaptureSinkPins());
}

} // namespace

unsigned PrintUserModeDevices(std::FILE *out)
{
    HDEVINFO set = SetupDiGetClassDevsW(&KSCATEGORY_AUDIO, nullptr, nullptr,
                                        DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) {
        ReportLine(out, 0, "!! SetupAPI lists no audio interfaces (error %u)", GetLastError());
        return 0;
    }
    SP_DEVICE_INTERFACE_DATA data = {};
    data.cbSize = sizeof data;
    unsigned count = 0;
    for (; SetupDiEnumDeviceInterfaces(set, nullptr, &KSCATEGORY_AUDIO, count, &data); ++count) {
        DWORD needed = 0;
        SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, 0, &needed, nullptr);
        std::vector<BYTE> buffer(needed > sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)
                                     ? needed
                                     : sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W));
        auto detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_W>(buffer.data());
        detail->cbSize = sizeof *detail;
        SP_DEVINFO_DATA device = {};
        device.cbSize = sizeof device;
        if (!SetupDiGetDeviceInterfaceDetailW(set, &data, detail, DWORD(buffer.size()), nullptr,
                                              &device)) {
            ReportLine(out, 0, "!! interface %u: no detail (error %u)", count, GetLastError());
            continue;
        }
        WCHAR instanceId[MAX_DEVICE_ID_LEN] = {};
        const std::string instance =
            SetupDiGetDeviceInstanceIdW(set, &device, instanceId, MAX_DEVICE_ID_LEN, nullptr)
                ? Narrow(instanceId)
                : "unknown (error " + std::to_string(GetLastError()) + ")";
        ReportLine(out, 0, "%s", Narrow(detail->DevicePath).c_str());
        ReportLine(out, 1, "device: \"%s\", instance %s",
                   DeviceText(set, &device, SPDRP_DEVICEDESC).c_str(), instance.c_str());
        ReportLine(out, 1, "hardware ids: %s", DeviceText(set, &device, SPDRP_HARDWAREID).c_str());
        PrintFilter(out, detail->DevicePath);
    }
    SetupDiDestroyDeviceInfoList(set);
    return count;
}

} // namespace sim
