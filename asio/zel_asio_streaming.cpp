// CZelAsioDriver's stream: the pins and their shared buffers, start, stop and release.
#include "zel_asio_driver.h"

#include "asio_settings.h"
#include "asio_trace.h"

#include <string.h>

#include <initializer_list>

namespace {

constexpr ULONG kMinimumBufferFrames = 64;
constexpr ULONG kMaximumBufferFrames = 7680;
constexpr ULONG kOutputOnlyDelayMs = 64;
constexpr int kStateAttempts = 10;

// The shared header lies just before the first channel's half 0.
ASIO_SHARED_HEADER *HeaderOf(const ASIO_CHANNEL_BUFFER &first)
{
    return reinterpret_cast<ASIO_SHARED_HEADER *>(ULONG_PTR(first.UserHalf[0]) -
                                                  sizeof(ASIO_SHARED_HEADER));
}

} // namespace

void CZelAsioDriver::FormatFor(WAVEFORMATEXTENSIBLE *format, ULONG channels, ULONG rate, WORD bits,
                               WORD validBits)
{
    memset(format, 0, sizeof *format);
    format->Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
    format->Format.nChannels = WORD(channels);
    format->Format.nSamplesPerSec = rate;
    format->Format.wBitsPerSample = bits;
    format->Format.nBlockAlign = WORD(channels * bits / 8);
    format->Format.nAvgBytesPerSec = rate * format->Format.nBlockAlign;
    format->Format.cbSize = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
    format->Samples.wValidBitsPerSample = validBits != 0 ? validBits : bits;
    format->dwChannelMask = channels == 1 ? 4 : channels == 2 ? 3 : 0;
    format->SubFormat = KSDATAFORMAT_SUBTYPE_PCM;
}

// In DSD mode each 32-bit sample carries 32 one-bit samples of one channel.
void CZelAsioDriver::BuildFormat(WAVEFORMATEXTENSIBLE *format, ULONG channels, ULONG rate,
                                 WORD bits, WORD validBits) const
{
    if (IsDsd())
        FormatFor(format, channels, rate / 32, 32, 32);
    else
        FormatFor(format, channels, rate, bits, validBits);
}

CKsAudPin *CZelAsioDriver::OpenPin(bool capture, ULONG channels, ULONG rate, WORD bits)
{
    CKsAudFilter2 *filter = m_devices.getCurrentSelected();
    if (filter == nullptr)
        return nullptr;
    WAVEFORMATEXTENSIBLE format;
    BuildFormat(&format, channels, rate, bits, bits);
    auto open = [&] {
        return capture ? filter->OpenCapturePinFor(&format.Format)
                       : filter->OpenRenderPinFor(&format.Format);
    };
    CKsAudPin *pin = open();
    // The DSD converter needs 32-bit device samples: no other container in DSD mode.
    if (pin == nullptr && !IsDsd() && (bits == 24 || bits == 32)) {
        FormatFor(&format, channels, rate, bits == 24 ? 32 : 24, 24);
        pin = open();
    }
    return pin;
}

bool CZelAsioDriver::CanInstantiatePin(bool capture, ULONG channels, WORD bits, ULONG rate)
{
    CKsAudPin *pin = OpenPin(capture, channels, rate, bits);
    if (pin != nullptr)
        pin->ClosePin();
    return pin != nullptr;
}

bool CZelAsioDriver::SetUpPinBuffers(CKsAudPin *pin, bool capture, ASIOBufferInfo *infos,
                                     LONG count, ASIO_SHARED_HEADER **header)
{
    const ULONG channels = capture ? m_inputsInUse : m_outputsInUse;
    // The instance: the fixed part, then (type, channel) pairs, in the host's order.
    ULONG *request = new (std::nothrow) ULONG[4 * channels];
    auto *reply = new (std::nothrow) ASIO_CHANNEL_BUFFER[channels];
    bool done = request != nullptr && reply != nullptr;
    if (done) {
        memset(request, 0, 16 * channels);
        request[0] = channels;
        request[1] = 2 * m_bufferFrames;
        ULONG entry = 0;
        for (LONG i = 0; i < count; ++i) {
            if ((infos[i].isInput != ASIOFalse) != capture)
                continue;
            request[2 + 2 * entry] = ULONG(m_sampleType);
            request[3 + 2 * entry] = ULONG(infos[i].channelNum);
            ++entry;
        }
        done = SUCCEEDED(pin->StoreProperty(KSPROPSETID_AsioPrivate, KSPROPERTY_ASIO_BUFFERS,
                                            nullptr, 0, request, 16 * channels)) &&
               SUCCEEDED(pin->QueryProperty(KSPROPSETID_AsioPrivate, KSPROPERTY_ASIO_BUFFERS, reply,
                                            ULONG(sizeof *reply * channels)));
    }
    if (done) {
        ULONG entry = 0;
        for (LONG i = 0; i < count; ++i) {
            if ((infos[i].isInput != ASIOFalse) != capture)
                continue;
            infos[i].buffers[0] = reinterpret_cast<void *>(ULONG_PTR(reply[entry].UserHalf[0]));
            infos[i].buffers[1] = reinterpret_cast<void *>(ULONG_PTR(reply[entry].UserHalf[1]));
            ++entry;
        }
        *header = HeaderOf(reply[0]);
    }
    delete[] request;
    delete[] reply;
    return done;
}

ASIOError CZelAsioDriver::createBuffers(ASIOBufferInfo *bufferInfos, LONG numChannels,
                                        LONG bufferSize, ASIOCallbacks *callbacks)
{
    if (m_state == kLoaded)
        return ASE_NotPresent;
    // Buffers exist already: the open pins stay as they are.
    if (m_state != kInitialized)
        return ASE_InvalidMode;
    if (bufferInfos == nullptr || callbacks == nullptr || numChannels <= 0 ||
        numChannels > LONG(InputChannels() + m_outputChannels))
        return ASE_InvalidParameter;
    CScopedLock lock(*this);
    ReloadSettings();
    if (m_selectedDevice[0] == 0)
        return ASE_NotPresent;
    ULONG frames = ULONG(bufferSize);
    if (IsDsd()) {
        if (bufferSize <= 0 || bufferSize % 32 != 0)
            return ASE_InvalidParameter;
        frames = ULONG(bufferSize) / 8;
    }
    m_pendingRate = 0;
    if (bufferSize <= 0 || frames < kMinimumBufferFrames || frames > kMaximumBufferFrames)
        return ASE_InvalidMode;

    m_bufferFrames = frames;
    m_hostBufferSamples = ULONG(bufferSize);
    const ULONG inputs = InputChannels();
    m_inputInUse = new (std::nothrow) int[inputs + 1]();
    m_outputInUse = new (std::nothrow) int[m_outputChannels + 1u]();
    if (m_inputInUse == nullptr || m_outputInUse == nullptr) {
        UndoBuffers();
        return ASE_NoMemory;
    }
    m_inputsInUse = m_outputsInUse = 0;
    for (LONG i = 0; i < numChannels; ++i) {
        const bool input = bufferInfos[i].isInput != ASIOFalse;
        const LONG channel = bufferInfos[i].channelNum;
        int *inUse = input ? m_inputInUse : m_outputInUse;
        if (channel < 0 || channel >= LONG(input ? inputs : m_outputChannels) ||
            inUse[channel] != 0) {
            UndoBuffers();
            return ASE_InvalidMode;
        }
        inUse[channel] = 1;
        ++(input ? m_inputsInUse : m_outputsInUse);
    }

    m_notificationEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    bool ready = m_notificationEvent != nullptr;
    HANDLE event = m_notificationEvent;
    if (ready && m_inputsInUse > 0) {
        m_capturePin = OpenPin(true, inputs, m_sampleRate, 32);
        ASIO_SHARED_HEADER *header = nullptr;
        ready = m_capturePin != nullptr &&
                SetUpPinBuffers(m_capturePin, true, bufferInfos, numChannels, &header) &&
                SUCCEEDED(m_capturePin->StoreProperty(KSPROPSETID_AsioPrivate,
                                                      KSPROPERTY_ASIO_REGISTER_EVENT, nullptr, 0,
                                                      &event, sizeof event));
        m_captureHeader = header;
    }
    if (ready && m_outputsInUse > 0) {
        m_renderPin = OpenPin(false, m_outputChannels, m_sampleRate, 32);
        ASIO_SHARED_HEADER *header = nullptr;
        ready = m_renderPin != nullptr &&
                SetUpPinBuffers(m_renderPin, false, bufferInfos, numChannels, &header);
        m_renderHeader = header;
        if (ready && m_inputsInUse == 0)
            ready = SUCCEEDED(m_renderPin->StoreProperty(KSPROPSETID_AsioPrivate,
                                                         KSPROPERTY_ASIO_REGISTER_EVENT, nullptr, 0,
                                                         &event, sizeof event));
        ULONG delay = kOutputOnlyDelayMs;
        if (m_inputsInUse > 0) {
            const ULONG rate = IsDsd() ? m_sampleRate / 8 : m_sampleRate;
            delay = ULONG(double(m_bufferFrames) * 1000 / rate + 0.5);
            delay = delay < 2 ? 2 : delay;
        }
        ready = ready && SUCCEEDED(m_renderPin->StoreProperty(KSPROPSETID_AsioPrivate,
                                                              KSPROPERTY_ASIO_OUTPUT_DELAY, nullptr,
                                                              0, &delay, sizeof delay));
    }
    if (!ready) {
        UndoBuffers();
        return ASE_NoMemory;
    }

    m_callbacks = callbacks;
    memset(&m_timeRecord, 0, sizeof m_timeRecord);
    m_timeInfoMode = callbacks->bufferSwitchTimeInfo != nullptr &&
                     callbacks->asioMessage(kAsioSupportsTimeInfo, 0, nullptr, nullptr) != 0;
    if (m_timeInfoMode) {
        m_timeRecord.timeInfo.speed = 1.0;
        m_timeRecord.timeInfo.sampleRate = m_sampleRate;
        m_timeRecord.timeInfo.flags = kSystemTimeValid | kSamplePositionValid | kSampleRateValid;
        m_timeRecord.timeCode.speed = 1.0;
        m_timeRecord.timeCode.flags = kTcValid | kTcRunning;
    }
    m_resetLatched = 0;
    m_state = kPrepared;
    return ASE_OK;
}

// Closes what createBuffers opened (the kernel frees the buffers and the event reference with
// the pins) and forgets the host's buffers and callbacks.
void CZelAsioDriver::UndoBuffers()
{
    for (CKsAudPin **pin : {&m_capturePin, &m_renderPin}) {
        if (*pin != nullptr)
            (*pin)->ClosePin();
        *pin = nullptr;
    }
    m_captureHeader = m_renderHeader = nullptr;
    delete[] m_inputInUse;
    delete[] m_outputInUse;
    m_inputInUse = m_outputInUse = nullptr;
    m_inputsInUse = m_outputsInUse = 0;
    if (m_notificationEvent != nullptr)
        CloseHandle(m_notificationEvent);
    m_notificationEvent = nullptr;
    m_callbacks = nullptr;
    m_timeInfoMode = false;
    memset(&m_timeRecord, 0, sizeof m_timeRecord);
    m_needsRecreation = false;
    m_hostBufferSamples = 0;
}

ASIOError CZelAsioDriver::disposeBuffers()
{
    if (m_state != kPrepared)
        return ASE_NotPresent;
    // The thread reads the shared headers: it must be gone before the pins close.
    while (!JoinBufferSwitch(INFINITE)) {
    }
    CScopedLock lock(*this);
    UndoBuffers();
    m_state = kInitialized;
    return ASE_OK;
}

bool CZelAsioDriver::SendDsdMode()
{
    CKsAudFilter2 *filter = m_devices.getCurrentSelected();
    USHORT mode = m_ioFormat.FormatType == kASIODSDFormat ? 1 : 0;
    return filter != nullptr &&
           SUCCEEDED(filter->StoreProperty(KSPROPSETID_AsioPrivate, KSPROPERTY_ASIO_DSD_NATIVE_MODE,
                                           &mode, sizeof mode));
}

bool CZelAsioDriver::ChangePinState(CKsAudPin *pin, KSSTATE state)
{
    if (pin == nullptr)
        return true;
    for (int attempt = 0; attempt < kStateAttempts; ++attempt) {
        KSSTATE now = KSSTATE_STOP;
        pin->ChangeState(state);
        if (SUCCEEDED(pin->ReadState(&now)) && now == state)
            return true;
    }
    AsioTrace("%s cannot reach state %d", pin == m_renderPin ? "[REN]" : "[CAP]", int(state));
    return false;
}

// Render before capture at each state; on the way up through every state in between.
bool CZelAsioDriver::SetPinStates(KSSTATE state)
{
    if (state == KSSTATE_STOP) {
        // Both pins are stopped, whether or not the first refuses.
        const bool render = ChangePinState(m_renderPin, state);
        const bool capture = ChangePinState(m_capturePin, state);
        return render && capture;
    }
    for (KSSTATE step : {KSSTATE_ACQUIRE, KSSTATE_PAUSE, KSSTATE_RUN}) {
        if (!ChangePinState(m_renderPin, step) || !ChangePinState(m_capturePin, step))
            return false;
        if (step == state)
            break;
    }
    return true;
}

ASIOError CZelAsioDriver::start()
{
    if (m_state != kPrepared || m_callbacks == nullptr || m_needsRecreation ||
        m_inputsInUse + m_outputsInUse == 0)
        return ASE_NotPresent;
    while (!JoinBufferSwitch(1000)) {
    }
    if (m_dsdNativeSupported && !SendDsdMode())
        return ASE_NotPresent;
    InterlockedExchange(&m_stopRequested, 0);
    InterlockedExchange(&m_hostSentOutputReady, 0);
    NotifyAsioRunning(true);
    m_samplePosition = 0;
    m_doubleBufferIndex = 0;
    m_previousIndex = 0xFFFFFFFF;
    m_firstSwitch = true;
    ResetEvent(m_notificationEvent);
    ResetEvent(m_stopEvent);
    m_switchRun = 1;
    m_switchThread = CreateThread(nullptr, 0, BufferSwitchThread, this, 0, &m_switchThreadId);
    if (m_switchThread == nullptr) {
        NotifyAsioRunning(false);
        return ASE_HWMalfunction;
    }
    m_state = kRunning;
    if (!SetPinStates(KSSTATE_RUN)) {
        stop();
        return ASE_HWMalfunction;
    }
    return ASE_OK;
}

ASIOError CZelAsioDriver::stop()
{
    InterlockedExchange(&m_stopRequested, 1);
    if (m_stopMutex == nullptr)
        return ASE_NotPresent;
    WaitForSingleObject(m_stopMutex, INFINITE);
    ASIOError result = ASE_NotPresent;
    if (m_state == kRunning) {
        SetEvent(m_stopEvent);
        // From a callback the thread ends once the callback returns; it is joined later.
        if (GetCurrentThreadId() != m_switchThreadId) {
            while (!JoinBufferSwitch(1000)) {
            }
        } else {
            m_switchRun = 0;
        }
        // Stopped pins or not (a device that is gone refuses), the host may release its buffers.
        result = SetPinStates(KSSTATE_STOP) ? ASE_OK : ASE_HWMalfunction;
        NotifyAsioRunning(false);
        if (GetCurrentThreadId() != m_switchThreadId)
            ResetEvent(m_stopEvent);
        m_state = kPrepared;
    }
    ReleaseMutex(m_stopMutex);
    return result;
}

ASIOError CZelAsioDriver::outputReady()
{
    if (m_state != kRunning || m_renderPin == nullptr)
        return ASE_OK;
    InterlockedExchange(&m_hostSentOutputReady, 1);
    if (FAILED(m_renderPin->StoreProperty(KSPROPSETID_AsioPrivate, KSPROPERTY_ASIO_OUTPUT_READY,
                                          nullptr, 0)))
        AsioTrace("[REN] output ready failed");
    return ASE_OK;
}

bool CZelAsioDriver::ApplyRate(CKsAudPin *pin, ULONG rate)
{
    if (pin == nullptr)
        return true;
    WAVEFORMATEXTENSIBLE format;
    const WAVEFORMATEX *current = pin->CurrentFormat();
    const WORD bits = current != nullptr ? current->wBitsPerSample : 32;
    const WORD valid =
        current != nullptr && current->wFormatTag == WAVE_FORMAT_EXTENSIBLE
            ? reinterpret_cast<const WAVEFORMATEXTENSIBLE *>(current)->Samples.wValidBitsPerSample
            : bits;
    BuildFormat(&format, current != nullptr ? current->nChannels : 2, rate, bits, valid);
    return SUCCEEDED(pin->ApplyFormatToOpenPin(&format.Format));
}

// A new rate for open pins: stopped, both pins given the format, started again if they ran.
// A pin that refuses leaves both at the old rate.
ASIOError CZelAsioDriver::RestartAtRate(ULONG rate)
{
    const bool running = m_state == kRunning;
    const ULONG previous = m_sampleRate;
    if (running)
        stop();
    ASIOError result = ASE_OK;
    if (ApplyRate(m_capturePin, rate)) {
        if (!ApplyRate(m_renderPin, rate)) {
            ApplyRate(m_capturePin, previous);
            result = ASE_NoClock;
        }
    } else {
        result = ASE_NoClock;
    }
    if (result == ASE_OK) {
        StoreRate(rate);
        m_timeRecord.timeInfo.sampleRate = rate;
        m_timeRecord.timeInfo.flags |= kSampleRateChanged;
    }
    m_pendingRate = 0;
    if (running) {
        ASIOError started = start();
        result = result == ASE_OK ? started : result;
    }
    return result;
}
