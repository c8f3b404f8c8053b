#include "zel_asio_driver.h"

#include "asio_latency.h"
#include "asio_settings.h"
#include "asio_trace.h"

#include <math.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include <initializer_list>

namespace {

const ULONG kPcmRates[] = {32000, 44100, 48000, 88200, 96000, 176400, 192000, 352800, 384000};
const ULONG kDsdRates[] = {2822400, 5644800};
constexpr ULONG kDefaultPcmRate = 44100;
constexpr ULONG kDefaultDsdRate = 2822400;
const char kDriverName[] = "Quen_Norvane_asio";
const char kInitializedBefore[] = "ASIO driver was initialized before this time.\n";
const char kNotEnoughMemory[] = "Memories are not enough.\n";
const char kNoDevice[] = "No RV-D3 is connected.\n";
// What hosts give getErrorMessage: 124 bytes.
constexpr size_t kHostMessageBytes = 124;

// The one live driver object of the process.
PVOID volatile g_instance;

template <size_t N>
bool Contains(const ULONG (&table)[N], ULONG value)
{
    for (ULONG entry : table) {
        if (entry == value)
            return true;
    }
    return false;
}

// Formats into a fixed field, cutting what does not fit; always terminated.
__attribute__((format(printf, 3, 4))) void FormatInto(char *target, size_t capacity,
                                                      const char *format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(target, capacity, format, arguments);
    va_end(arguments);
}

void CopyText(char *target, size_t capacity, const char *text)
{
    FormatInto(target, capacity, "%s", text);
}

} // namespace

const CFactoryTemplate g_Templates[] = {
    {L"ZelAsioDriver", &CLSID_ZelAsioDriver, CZelAsioDriver::Create, nullptr},
};
const int g_cTemplates = 1;

CUnknown *CZelAsioDriver::Create(IUnknown *outer, HRESULT *)
{
    // The slot is claimed before the object exists, so that two threads cannot both create one.
    static char claimed;
    if (InterlockedCompareExchangePointer(&g_instance, &claimed, nullptr) != nullptr)
        return nullptr;
    auto *driver = new (std::nothrow) CZelAsioDriver(outer);
    InterlockedExchangePointer(&g_instance, driver);
    return driver;
}

CZelAsioDriver::CZelAsioDriver(IUnknown *outer) : CUnknown("CZelAsioDriver", outer) {}

CZelAsioDriver::~CZelAsioDriver()
{
    if (m_state == kRunning)
        stop();
    if (m_state == kPrepared)
        disposeBuffers();
    CloseSettingsObjects();
    NotifyAsioRunning(false);
    for (HANDLE *handle : {&m_stopMutex, &m_stopEvent, &m_driverLock, &m_notificationEvent}) {
        if (*handle != nullptr)
            CloseHandle(*handle);
        *handle = nullptr;
    }
    InterlockedExchangePointer(&g_instance, nullptr);
}

HRESULT CZelAsioDriver::QueryInterface(REFIID riid, void **ppv)
{
    return Owner()->QueryInterface(riid, ppv);
}

ULONG CZelAsioDriver::AddRef() { return Owner()->AddRef(); }

ULONG CZelAsioDriver::Release() { return Owner()->Release(); }

HRESULT CZelAsioDriver::NonDelegatingQueryInterface(REFIID riid, void **ppv)
{
    if (ppv != nullptr && IsEqualGUID(riid, CLSID_ZelAsioDriver)) {
        *ppv = static_cast<IASIO *>(this);
        static_cast<IASIO *>(this)->AddRef();
        return S_OK;
    }
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

void CZelAsioDriver::Lock() { WaitForSingleObject(m_driverLock, INFINITE); }

void CZelAsioDriver::Unlock() { ReleaseMutex(m_driverLock); }

ASIOBool CZelAsioDriver::init(void *)
{
    if (m_state != kLoaded) {
        CopyText(m_errorMessage, sizeof m_errorMessage, kInitializedBefore);
        return ASIOFalse;
    }
    m_errorMessage[0] = 0;
    m_stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    m_stopMutex = CreateMutexW(nullptr, FALSE, nullptr);
    m_driverLock = CreateMutexW(nullptr, FALSE, nullptr);
    if (m_stopEvent == nullptr || m_stopMutex == nullptr || m_driverLock == nullptr ||
        !CreateSettingsObjects()) {
        CopyText(m_errorMessage, sizeof m_errorMessage, kNotEnoughMemory);
        CloseSettingsObjects();
        for (HANDLE *handle : {&m_stopMutex, &m_stopEvent, &m_driverLock}) {
            if (*handle != nullptr)
                CloseHandle(*handle);
            *handle = nullptr;
        }
        return ASIOFalse;
    }
    m_pendingRate = 0;
    Lock();
    ReloadSettings();
    Unlock();
    if (m_selectedDevice[0] == 0)
        CopyText(m_errorMessage, sizeof m_errorMessage, kNoDevice);
    m_state = kInitialized;
    m_dsdNativeSupported = SendDsdMode();
    AsioTrace("init: %u in, %u out, %lu Hz, DSD %s", m_inputChannels, m_outputChannels,
              static_cast<unsigned long>(m_sampleRate), m_dsdNativeSupported ? "yes" : "no");
    return ASIOTrue;
}

// Initialise step 2: the selected device, its settings and its channels.
void CZelAsioDriver::ReloadSettings()
{
    WCHAR stored[kInstanceIdUnits] = {};
    if (CAsioSettings::ReadSelected(stored) != kSettingsOk)
        stored[0] = 0;
    m_devices.makeActiveDeviceList();
    bool selected = stored[0] != 0 && m_devices.setCurrentSelectedByDeviceInstanceId(stored);
    if (!selected && m_devices.FilterCount() > 0) {
        selected = m_devices.selectByIndex(0);
        WCHAR first[kInstanceIdUnits] = {};
        if (selected && m_devices.getSelectedInstanceId(first, kInstanceIdUnits))
            CAsioSettings::WriteSelected(first);
    }
    int index = 0;
    if (selected && m_devices.findSelectedIndex(&index)) {
        m_devices.getSelectedInstanceId(m_selectedDevice, kInstanceIdUnits);
        TakeDeviceFormat(*m_devices.entryAt(index));
        ReadDeviceSettings();
    } else {
        m_selectedDevice[0] = 0;
        m_bufferSizeSetting = kDefaultBufferSize;
        m_lock = 0;
        m_sampleRate = IsDsd() ? kDefaultDsdRate : kDefaultPcmRate;
        m_inputChannels = m_outputChannels = 0;
        m_minimumRate = m_maximumRate = 0;
    }
}

void CZelAsioDriver::ReadDeviceSettings()
{
    BYTE value = 0;
    if (CAsioSettings::ReadByte(kSettingLock, &value) == kSettingsOk)
        m_lock = value;
    DWORD number = 0;
    if (CAsioSettings::ReadDword(kSettingBufferSize, &number) == kSettingsOk)
        m_bufferSizeSetting = CAsioSettings::ValidBufferSize(number);
    if (CAsioSettings::ReadDword(kSettingSamplingRate, &number) != kSettingsOk)
        number = m_sampleRate;
    m_sampleRate = ValidRate(number);
}

void CZelAsioDriver::TakeDeviceFormat(const ActiveDeviceEntry &entry)
{
    m_inputChannels = USHORT(entry.captureRange.channels);
    m_outputChannels = USHORT(entry.renderRange.channels);
    if (m_inputChannels == 0) {
        m_minimumRate = entry.renderRange.minimumRate;
        m_maximumRate = entry.renderRange.maximumRate;
    } else if (m_outputChannels == 0) {
        m_minimumRate = entry.captureRange.minimumRate;
        m_maximumRate = entry.captureRange.maximumRate;
    } else {
        const FormatRange &render = entry.renderRange, &capture = entry.captureRange;
        m_minimumRate =
            render.minimumRate > capture.minimumRate ? render.minimumRate : capture.minimumRate;
        m_maximumRate =
            render.maximumRate < capture.maximumRate ? render.maximumRate : capture.maximumRate;
    }
    const ULONG dsdRate = IsDsd() ? 32 : 1;
    if (m_outputChannels != 0 &&
        !CanInstantiatePin(false, m_outputChannels, WORD(entry.renderRange.minimumBits),
                           entry.renderRange.minimumRate * dsdRate))
        m_outputChannels = 0;
    if (m_inputChannels != 0 &&
        !CanInstantiatePin(true, m_inputChannels, WORD(entry.captureRange.minimumBits),
                           entry.captureRange.minimumRate * dsdRate))
        m_inputChannels = 0;
}

bool CZelAsioDriver::RateAllowed(ULONG rate) const
{
    if (IsDsd())
        return Contains(kDsdRates, rate);
    return Contains(kPcmRates, rate) && rate >= m_minimumRate && rate <= m_maximumRate;
}

ULONG CZelAsioDriver::WholeRate(ASIOSampleRate sampleRate)
{
    return sampleRate > 0 && sampleRate < 1e9 && sampleRate == floor(sampleRate) ? ULONG(sampleRate)
                                                                                 : 0;
}

ASIOError CZelAsioDriver::RateAccepted(ULONG rate) const
{
    if (m_lock != 0)
        return rate == m_sampleRate ? ASE_OK : ASE_NoClock;
    return RateAllowed(rate) ? ASE_OK : ASE_NoClock;
}

ULONG CZelAsioDriver::ValidRate(ULONG rate) const
{
    if (RateAllowed(rate))
        return rate;
    return IsDsd() ? kDefaultDsdRate : kDefaultPcmRate;
}

void CZelAsioDriver::NotifyAsioRunning(bool running)
{
    // Only the instance that said it streams takes it back: another process's driver may stream.
    if (!running && !m_wroteStreaming)
        return;
    const DWORD value = running ? 1 : 0;
    if (CAsioSettings::Write(kSettingStreaming, &value, sizeof value) != kSettingsOk)
        AsioTrace("cannot store the streaming flag");
    m_wroteStreaming = running;
}

void CZelAsioDriver::getDriverName(char *name) { memcpy(name, kDriverName, sizeof kDriverName); }

LONG CZelAsioDriver::getDriverVersion() { return 1; }

void CZelAsioDriver::getErrorMessage(char *string)
{
    CopyText(string, kHostMessageBytes, m_errorMessage);
}

ASIOError CZelAsioDriver::getChannels(LONG *numInputChannels, LONG *numOutputChannels)
{
    if (m_state == kLoaded)
        return ASE_NotPresent;
    if (numInputChannels != nullptr)
        *numInputChannels = InputChannels();
    if (numOutputChannels != nullptr)
        *numOutputChannels = m_outputChannels;
    return ASE_OK;
}

// In sample frames, as hosts compensate with them.
ASIOError CZelAsioDriver::getLatencies(LONG *inputLatency, LONG *outputLatency)
{
    if (m_state == kLoaded)
        return ASE_NotPresent;
    const ULONG buffer =
        m_hostBufferSamples != 0 ? m_hostBufferSamples : m_bufferSizeSetting * (IsDsd() ? 8 : 1);
    const AsioLatencies latencies = EstimateAsioLatencies(buffer, double(m_sampleRate));
    if (inputLatency != nullptr)
        *inputLatency = latencies.input;
    if (outputLatency != nullptr)
        *outputLatency = latencies.output;
    return ASE_OK;
}

ASIOError CZelAsioDriver::getBufferSize(LONG *minSize, LONG *maxSize, LONG *preferredSize,
                                        LONG *granularity)
{
    if (m_state == kLoaded)
        return ASE_NotPresent;
    const LONG size = LONG(m_bufferSizeSetting * (m_ioFormat.FormatType == kASIODSDFormat ? 8 : 1));
    for (LONG *target : {minSize, maxSize, preferredSize}) {
        if (target != nullptr)
            *target = size;
    }
    if (granularity != nullptr)
        *granularity = 0;
    return ASE_OK;
}

ASIOError CZelAsioDriver::canSampleRate(ASIOSampleRate sampleRate)
{
    if (m_state == kLoaded)
        return ASE_NotPresent;
    const ULONG rate = WholeRate(sampleRate);
    return rate != 0 ? RateAccepted(rate) : ASE_NoClock;
}

ASIOError CZelAsioDriver::getSampleRate(ASIOSampleRate *sampleRate)
{
    if (m_state == kLoaded)
        return ASE_NotPresent;
    if (sampleRate == nullptr)
        return ASE_InvalidParameter;
    *sampleRate = m_pendingRate > 0 && m_pendingRate != m_sampleRate ? m_pendingRate : m_sampleRate;
    return ASE_OK;
}

ASIOError CZelAsioDriver::getClockSources(ASIOClockSource *clocks, LONG *numSources)
{
    if (m_state == kLoaded)
        return ASE_NotPresent;
    if (clocks == nullptr || numSources == nullptr)
        return ASE_InvalidParameter;
    if (*numSources >= 1) {
        memset(clocks, 0, sizeof *clocks);
        clocks->index = 0;
        clocks->associatedChannel = -1;
        clocks->associatedGroup = -1;
        clocks->isCurrentSource = ASIOTrue;
        CopyText(clocks->name, sizeof clocks->name, "Internal");
    }
    *numSources = 1;
    return ASE_OK;
}

ASIOError CZelAsioDriver::setClockSource(LONG reference)
{
    if (m_state == kLoaded || reference != 0)
        return ASE_NotPresent;
    m_timeRecord.timeInfo.flags |= kClockSourceChanged;
    return ASE_OK;
}

ASIOError CZelAsioDriver::getSamplePosition(ASIOSamples *sPos, ASIOTimeStamp *tStamp)
{
    if (m_state == kLoaded)
        return ASE_NotPresent;
    if (sPos == nullptr || tStamp == nullptr)
        return ASE_InvalidParameter;
    *tStamp = m_timeStamp;
    const ULONGLONG position = ULONGLONG(m_samplePosition);
    sPos->hi = ULONG(position >> 32);
    sPos->lo = ULONG(position);
    return ASE_OK;
}

ASIOError CZelAsioDriver::getChannelInfo(ASIOChannelInfo *info)
{
    if (m_state == kLoaded)
        return ASE_NotPresent;
    if (info == nullptr || info->channel < 0 ||
        info->channel >= LONG(info->isInput ? InputChannels() : m_outputChannels))
        return ASE_InvalidParameter;
    info->type = m_sampleType;
    info->channelGroup = 0;
    const int *inUse = info->isInput ? m_inputInUse : m_outputInUse;
    info->isActive = m_state != kInitialized && inUse != nullptr && inUse[info->channel] != 0
                         ? ASIOTrue
                         : ASIOFalse;

    // The device's name without a leading ordinal ("2- Speakers" is "Speakers").
    char base[32] = {};
    Lock();
    CKsAudFilter2 *filter = m_devices.getCurrentSelected();
    if (filter != nullptr)
        WideCharToMultiByte(CP_ACP, 0, filter->FriendlyName(), -1, base, sizeof base - 1, "?",
                            nullptr);
    Unlock();
    base[sizeof base - 1] = 0;
    size_t skip = strspn(base, "0123456789- ");
    const char *name = base[skip] != 0 ? base + skip : base;
    const char *direction = info->isInput ? "In" : "Out";
    const int number = int(info->channel) + 1;
    if (strlen(name) + 7 < sizeof info->name)
        FormatInto(info->name, sizeof info->name, "%s %s %02d", name, direction, number);
    else
        FormatInto(info->name, sizeof info->name, "%.21s... %s %02d", name, direction, number);
    return ASE_OK;
}

ASIOError CZelAsioDriver::setSampleRate(ASIOSampleRate sampleRate)
{
    if (m_state == kLoaded)
        return ASE_NotPresent;
    const ULONG rate = WholeRate(sampleRate);
    if (rate == 0)
        return ASE_InvalidMode;
    const ASIOError accepted = RateAccepted(rate);
    if (accepted != ASE_OK || rate == m_sampleRate)
        return accepted;
    if (m_state == kRunning && GetCurrentThreadId() == m_switchThreadId) {
        // From inside a callback the stream cannot be stopped here: the host re-creates it,
        // asked once (the watcher finds the request made).
        CAsioSettings::Write(kSettingSamplingRate, &rate, sizeof rate);
        m_pendingRate = rate;
        if (InterlockedExchange(&m_resetLatched, 1) == 0)
            RequestReset();
        return ASE_OK;
    }
    if (m_state == kPrepared || m_state == kRunning)
        return RestartAtRate(rate);
    StoreRate(rate);
    return ASE_OK;
}

// With the driver mutex held, so that the settings watcher, waking on this write, finds the
// store and the rate in use agree.
void CZelAsioDriver::StoreRate(ULONG rate)
{
    Lock();
    CAsioSettings::Write(kSettingSamplingRate, &rate, sizeof rate);
    m_sampleRate = rate;
    Unlock();
}

ASIOError CZelAsioDriver::future(LONG selector, void *opt)
{
    if (m_state == kLoaded)
        return ASE_NotPresent;
    auto *format = static_cast<ASIOIoFormat *>(opt);
    switch (selector) {
    case kAsioEnableTimeCodeRead: m_timeCodeRead = true; return ASE_SUCCESS;
    case kAsioDisableTimeCodeRead: m_timeCodeRead = false; return ASE_SUCCESS;
    case kAsioCanTimeInfo:
    case kAsioCanTimeCode: return ASE_SUCCESS;
    case kAsioCanDoIoFormat:
        if (format == nullptr)
            return ASE_InvalidParameter;
        return format->FormatType == kASIOPCMFormat ||
                       (format->FormatType == kASIODSDFormat && m_dsdNativeSupported)
                   ? ASE_SUCCESS
                   : ASE_InvalidParameter;
    case kAsioGetIoFormat:
        if (format == nullptr)
            return ASE_InvalidParameter;
        memcpy(format, &m_ioFormat, sizeof m_ioFormat);
        return ASE_SUCCESS;
    case kAsioSetIoFormat: break;
    default: return ASE_InvalidParameter;
    }
    if (format == nullptr || (format->FormatType != kASIOPCMFormat &&
                              !(format->FormatType == kASIODSDFormat && m_dsdNativeSupported)))
        return ASE_InvalidParameter;
    const LONG previous = m_ioFormat.FormatType;
    if (format->FormatType == previous) {
        memcpy(&m_ioFormat, format, sizeof m_ioFormat);
        return ASE_SUCCESS;
    }
    // The sample type cannot change under a running stream.
    if (m_state == kRunning)
        return ASE_InvalidMode;
    memcpy(&m_ioFormat, format, sizeof m_ioFormat);
    m_sampleType = format->FormatType == kASIODSDFormat ? ASIOSTDSDInt8MSB1 : ASIOSTInt32LSB;
    Lock();
    if (m_state == kInitialized) {
        ReloadSettings();
    } else {
        m_sampleRate = ValidRate(m_sampleRate);
    }
    Unlock();
    if (m_state == kPrepared) {
        // The pins carry the other format: the host must create its buffers again.
        m_needsRecreation = true;
        RequestReset();
    }
    return ASE_SUCCESS;
}

// Starts the control panel the installer recorded, without waiting for it; the host gets ASE_OK
// whether or not it could be started.
ASIOError CZelAsioDriver::controlPanel()
{
    WCHAR path[129] = {}; // at most 256 bytes, and a terminator
    DWORD size = 256;
    DWORD type = REG_NONE;
    HKEY key = nullptr;
    LSTATUS status =
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSetupKey, 0, KEY_READ | KEY_WOW64_64KEY, &key);
    if (status == ERROR_SUCCESS) {
        status = RegQueryValueExW(key, L"ControlPanel", nullptr, &type,
                                  reinterpret_cast<BYTE *>(path), &size);
        RegCloseKey(key);
    }
    if (status != ERROR_SUCCESS || type != REG_SZ) {
        AsioTrace("controlPanel: no control panel is recorded (%ld)", static_cast<long>(status));
        return ASE_OK;
    }
    path[size / sizeof(WCHAR)] = 0;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started = {};
    if (path[0] == 0 || !CreateProcessW(path, nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                        &startup, &started)) {
        AsioTrace("controlPanel: the control panel did not start (%lu)",
                  static_cast<unsigned long>(GetLastError()));
        return ASE_OK;
    }
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    return ASE_OK;
}
