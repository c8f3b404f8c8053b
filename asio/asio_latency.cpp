#include "asio_latency.h"

namespace {

const WCHAR kPerformanceKey[] = L"SOFTWARE\\ZEL\\Sample Device Performance";

// The kernel driver's defaults and limits for its transfer settings.
constexpr ULONG kRenderMsDefault = 4, kCaptureMsDefault = 1, kTransfersDefault = 8;
constexpr ULONG kMsLimit = 5, kTransfersLimit = 20;

// The RV-D3 starts its output stage with 2 ms in its FIFO and keeps it there.
constexpr double kConverterFifoMs = 2.0;

// Reads a value as the kernel driver's query does: a missing value gives Fallback, one of
// another type fails.
bool QueryDword(HKEY key, const WCHAR *name, ULONG fallback, ULONG *value)
{
    DWORD data = 0, type = 0, size = sizeof(data);
    const LSTATUS status =
        RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE *>(&data), &size);
    if (status == ERROR_FILE_NOT_FOUND) {
        *value = fallback;
        return true;
    }
    if (status != ERROR_SUCCESS || type != REG_DWORD || size != sizeof(data))
        return false;
    *value = data;
    return true;
}

// One direction's pair as the kernel driver corrects it: milliseconds a transfer, transfers in
// flight. An unreadable pair takes both defaults; a 0 takes the milliseconds' default; values
// above the limits take the limits.
void ReadPair(HKEY key, const WCHAR *msName, const WCHAR *countName, ULONG msDefault, ULONG *ms,
              ULONG *count)
{
    if (key == nullptr || !QueryDword(key, msName, msDefault, ms) ||
        !QueryDword(key, countName, kTransfersDefault, count)) {
        *ms = msDefault;
        *count = kTransfersDefault;
        return;
    }
    *ms = *ms == 0 ? msDefault : *ms > kMsLimit ? kMsLimit : *ms;
    *count = *count == 0 ? msDefault : *count > kTransfersLimit ? kTransfersLimit : *count;
}

} // namespace

AsioLatencies EstimateAsioLatencies(ULONG BufferSamples, double Rate)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPerformanceKey, 0, KEY_READ | KEY_WOW64_64KEY, &key) !=
        ERROR_SUCCESS)
        key = nullptr;
    ULONG renderMs = 0, renderTransfers = 0, captureMs = 0, captureTransfers = 0;
    ReadPair(key, L"param1", L"param2", kRenderMsDefault, &renderMs, &renderTransfers);
    ReadPair(key, L"param3", L"param4", kCaptureMsDefault, &captureMs, &captureTransfers);
    if (key != nullptr)
        RegCloseKey(key);

    const double bufferMs = Rate > 0 ? 1000.0 * BufferSamples / Rate : 0;
    // Render keeps its transfers in flight ahead of the bus, and starts with two halves and two
    // transfers queued; the converter's FIFO follows.
    const double startMs = 2 * (bufferMs > renderMs ? bufferMs : double(renderMs));
    const double aheadMs = double(renderMs) * renderTransfers;
    const double outputMs = bufferMs + (aheadMs < startMs ? aheadMs : startMs) + kConverterFifoMs;
    // Capture hands over whole transfers.
    const double inputMs = bufferMs + captureMs;
    const double perMs = Rate / 1000.0;
    return {LONG(inputMs * perMs + 0.5), LONG(outputMs * perMs + 0.5)};
}
