// CZelAsioDriver: the IASIO object. It picks the device the settings name, opens a KS render
// and a KS capture pin on the kernel driver, has the kernel map the channel buffers into this
// process and signal an event at every half, and runs the buffer-switch thread that calls the
// host back; a settings watcher adopts the control panel's changes or asks the host for a reset.
// PCM in 32-bit integer samples and native DSD (eight one-bit samples per byte).
#pragma once

#include "asio_types.h"
#include "com_base.h"
#include "dev_info.h"
#include "ks_aud_pin.h"

#include "../driver/asio/asio_private_properties.h"

class CZelAsioDriver : public IASIO, public CUnknown {
public:
    explicit CZelAsioDriver(IUnknown *outer);
    ~CZelAsioDriver() override;

    // The factory template's create function: null while another driver object lives.
    static CUnknown *Create(IUnknown *outer, HRESULT *status);

    // IUnknown, forwarded to the owner.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void **ppv) override;

    ASIOBool init(void *sysHandle) override;
    void getDriverName(char *name) override;
    LONG getDriverVersion() override;
    void getErrorMessage(char *string) override;
    ASIOError start() override;
    ASIOError stop() override;
    ASIOError getChannels(LONG *numInputChannels, LONG *numOutputChannels) override;
    ASIOError getLatencies(LONG *inputLatency, LONG *outputLatency) override;
    ASIOError getBufferSize(LONG *minSize, LONG *maxSize, LONG *preferredSize,
                            LONG *granularity) override;
    ASIOError canSampleRate(ASIOSampleRate sampleRate) override;
    ASIOError getSampleRate(ASIOSampleRate *sampleRate) override;
    ASIOError setSampleRate(ASIOSampleRate sampleRate) override;
    ASIOError getClockSources(ASIOClockSource *clocks, LONG *numSources) override;
    ASIOError setClockSource(LONG reference) override;
    ASIOError getSamplePosition(ASIOSamples *sPos, ASIOTimeStamp *tStamp) override;
    ASIOError getChannelInfo(ASIOChannelInfo *info) override;
    ASIOError createBuffers(ASIOBufferInfo *bufferInfos, LONG numChannels, LONG bufferSize,
                            ASIOCallbacks *callbacks) override;
    ASIOError disposeBuffers() override;
    ASIOError controlPanel() override;
    ASIOError future(LONG selector, void *opt) override;
    ASIOError outputReady() override;

    enum : ULONG { kLoaded = 0, kInitialized = 1, kPrepared = 2, kRunning = 3 };

private:
    // Settings and device (under the driver lock).
    void ReloadSettings();
    void ReadDeviceSettings();
    void TakeDeviceFormat(const ActiveDeviceEntry &entry);
    bool IsDsd() const { return m_sampleType == ASIOSTDSDInt8MSB1; }
    ULONG ValidRate(ULONG rate) const;
    bool RateAllowed(ULONG rate) const;
    // A host's rate in whole hertz; 0 when it is none.
    static ULONG WholeRate(ASIOSampleRate sampleRate);
    // Whether a rate may be set: the current one only while the "lock" setting is on.
    ASIOError RateAccepted(ULONG rate) const;
    ULONG InputChannels() const { return IsDsd() ? 0 : m_inputChannels; }
    void NotifyAsioRunning(bool running);
    void Lock();
    void Unlock();
    // The driver lock for a scope: the device list, the settings and the callbacks, shared with
    // the settings watcher.
    class CScopedLock {
    public:
        explicit CScopedLock(CZelAsioDriver &driver) : m_driver(driver) { m_driver.Lock(); }
        ~CScopedLock() { m_driver.Unlock(); }
        CScopedLock(const CScopedLock &) = delete;
        CScopedLock &operator=(const CScopedLock &) = delete;

    private:
        CZelAsioDriver &m_driver;
    };

    // Pins.
    CKsAudPin *OpenPin(bool capture, ULONG channels, ULONG rate, WORD bits);
    bool CanInstantiatePin(bool capture, ULONG channels, WORD bits, ULONG rate);
    static void FormatFor(WAVEFORMATEXTENSIBLE *format, ULONG channels, ULONG rate, WORD bits,
                          WORD validBits);
    void BuildFormat(WAVEFORMATEXTENSIBLE *format, ULONG channels, ULONG rate, WORD bits,
                     WORD validBits) const;
    bool SetUpPinBuffers(CKsAudPin *pin, bool capture, ASIOBufferInfo *infos, LONG count,
                         ASIO_SHARED_HEADER **header);
    bool ChangePinState(CKsAudPin *pin, KSSTATE state);
    bool SetPinStates(KSSTATE state);
    bool ApplyRate(CKsAudPin *pin, ULONG rate);
    void UndoBuffers();
    ASIOError RestartAtRate(ULONG rate);
    // The rate in use and in the settings store.
    void StoreRate(ULONG rate);
    bool SendDsdMode();

    // The buffer-switch thread.
    static DWORD WINAPI BufferSwitchThread(LPVOID context);
    void RunBufferSwitch();
    void WaitStep();
    void OnNotification();
    void DeliverSwitch();
    void TimeInfoSwitch();
    void RequestReset();
    bool JoinBufferSwitch(DWORD timeoutMs);
    static ASIOTimeStamp TimeStamp();

    // The settings watcher.
    static DWORD WINAPI SettingsWatcherThread(LPVOID context);
    void WatchSettings();
    void OnSettingsChanged();
    bool CreateSettingsObjects();
    void CloseSettingsObjects();

    ASIOIoFormat m_ioFormat = {};
    bool m_dsdNativeSupported = false;
    BYTE m_lock = 0;
    ULONG m_bufferSizeSetting = 2048;
    ULONG m_sampleRate = 0;
    WCHAR m_selectedDevice[128] = {};
    USHORT m_inputChannels = 0;
    USHORT m_outputChannels = 0;
    ASIOSampleType m_sampleType = ASIOSTInt32LSB;
    ULONG m_minimumRate = 0;
    ULONG m_maximumRate = 0;
    ULONG m_bufferFrames = 0;
    ULONG m_hostBufferSamples = 0; // the host's buffer size (DSD: samples, not bytes)
    ULONG m_inputsInUse = 0;
    ULONG m_outputsInUse = 0;
    int *m_inputInUse = nullptr;
    int *m_outputInUse = nullptr;
    ULONG m_doubleBufferIndex = 0;
    volatile ULONG m_state = kLoaded;
    bool m_needsRecreation = false;
    ASIOCallbacks *volatile m_callbacks = nullptr;
    char m_errorMessage[128] = {};
    bool m_firstSwitch = false;
    bool m_timeInfoMode = false;
    bool m_timeCodeRead = false;
    double m_samplePosition = 0;
    ASIOTimeStamp m_timeStamp = {};
    ASIOTime m_timeRecord = {};
    HANDLE m_stopEvent = nullptr;
    HANDLE m_notificationEvent = nullptr;
    HANDLE m_stopMutex = nullptr;
    HANDLE m_driverLock = nullptr;
    volatile LONG m_stopRequested = 0;
    volatile LONG m_hostSentOutputReady = 0;
    volatile LONG m_resetLatched = 0; // a reset request is out for the present buffers
    ULONG m_pendingRate = 0;
    CKsAudPin *m_capturePin = nullptr; // the filter's
    CKsAudPin *m_renderPin = nullptr;
    ASIO_SHARED_HEADER *volatile m_captureHeader = nullptr;
    ASIO_SHARED_HEADER *volatile m_renderHeader = nullptr;
    ULONG m_previousIndex = 0xFFFFFFFF;
    CDevInfo m_devices;

    HANDLE m_switchThread = nullptr;
    DWORD m_switchThreadId = 0;
    volatile LONG m_switchRun = 0;

    HANDLE m_presenceEvent = nullptr;
    HANDLE m_listeningEvent = nullptr;
    HANDLE m_changeEvent = nullptr;
    HANDLE m_watcherExit = nullptr;
    HANDLE m_watcherThread = nullptr;
    bool m_wroteStreaming = false;
};
