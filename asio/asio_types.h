// The ASIO interface as hosts on 64-bit Windows use it: the scalar types (ASIO's "long" is 32
// bits on Windows), the records with their x64 layouts (the time records packed to 4 bytes), the
// constants, the host's callbacks and the IASIO vtable. Declared here, from the published
// layouts; hosts pass the driver's class id as the interface id.
#pragma once

#include "quen_asio_platform.h"

#include <stddef.h>

typedef LONG ASIOBool;
typedef LONG ASIOError;
typedef LONG ASIOSampleType;
typedef double ASIOSampleRate;

enum : LONG { ASIOFalse = 0, ASIOTrue = 1 };

enum : LONG {
    ASE_OK = 0,
    ASE_SUCCESS = 0x3F4847A0,
    ASE_NotPresent = -1000,
    ASE_HWMalfunction = -999,
    ASE_InvalidParameter = -998,
    ASE_InvalidMode = -997,
    ASE_SPNotAdvancing = -996,
    ASE_NoClock = -995,
    ASE_NoMemory = -994,
};

enum : LONG {
    ASIOSTInt32LSB = 18,
    ASIOSTDSDInt8MSB1 = 33,
};

// asioMessage selectors (driver to host).
enum : LONG {
    kAsioSelectorSupported = 1,
    kAsioEngineVersion = 2,
    kAsioResetRequest = 3,
    kAsioBufferSizeChange = 4,
    kAsioResyncRequest = 5,
    kAsioLatenciesChanged = 6,
    kAsioSupportsTimeInfo = 7,
    kAsioSupportsTimeCode = 8,
};

// future selectors (host to driver).
enum : LONG {
    kAsioEnableTimeCodeRead = 1,
    kAsioDisableTimeCodeRead = 2,
    kAsioSetInputMonitor = 3,
    kAsioCanInputMonitor = 9,
    kAsioCanTimeInfo = 10,
    kAsioCanTimeCode = 11,
    kAsioSetIoFormat = 0x23111961,
    kAsioGetIoFormat = 0x23111983,
    kAsioCanDoIoFormat = 0x23112004,
};

enum : ULONG {
    kSystemTimeValid = 0x01,
    kSamplePositionValid = 0x02,
    kSampleRateValid = 0x04,
    kSpeedValid = 0x08,
    kSampleRateChanged = 0x10,
    kClockSourceChanged = 0x20,
};

enum : ULONG { kTcValid = 0x01, kTcRunning = 0x02 };

enum : LONG { kASIOFormatInvalid = -1, kASIOPCMFormat = 0, kASIODSDFormat = 1 };

#pragma pack(push, 4)

// A 64-bit count as two 32-bit halves, the high half first.
struct ASIOSamples {
    ULONG hi;
    ULONG lo;
};
typedef ASIOSamples ASIOTimeStamp;

struct ASIOClockSource {
    LONG index;
    LONG associatedChannel;
    LONG associatedGroup;
    ASIOBool isCurrentSource;
    char name[32];
};

struct ASIOChannelInfo {
    LONG channel;
    ASIOBool isInput;
    ASIOBool isActive;
    LONG channelGroup;
    ASIOSampleType type;
    char name[32];
};

struct ASIOBufferInfo {
    ASIOBool isInput;
    LONG channelNum;
    void *buffers[2];
};

struct AsioTimeInfo {
    double speed;
    ASIOTimeStamp systemTime;
    ASIOSamples samplePosition;
    ASIOSampleRate sampleRate;
    ULONG flags;
    char reserved[12];
};

struct ASIOTimeCode {
    double speed;
    ASIOSamples timeCodeSamples;
    ULONG flags;
    char future[64];
};

struct ASIOTime {
    LONG reserved[4];
    AsioTimeInfo timeInfo;
    ASIOTimeCode timeCode;
};

struct ASIOIoFormat {
    LONG FormatType;
    char future[512 - sizeof(LONG)];
};

#pragma pack(pop)

struct ASIOCallbacks {
    void (*bufferSwitch)(LONG doubleBufferIndex, ASIOBool directProcess);
    void (*sampleRateDidChange)(ASIOSampleRate sRate);
    LONG (*asioMessage)(LONG selector, LONG value, void *message, double *opt);
    ASIOTime *(*bufferSwitchTimeInfo)(ASIOTime *params, LONG doubleBufferIndex,
                                      ASIOBool directProcess);
};

static_assert(sizeof(ASIOSamples) == 8, "ASIOSamples is two 32-bit halves");
static_assert(sizeof(ASIOClockSource) == 48, "ASIOClockSource layout");
static_assert(sizeof(ASIOChannelInfo) == 52, "ASIOChannelInfo layout");
static_assert(sizeof(ASIOBufferInfo) == 24 && offsetof(ASIOBufferInfo, buffers) == 8,
              "ASIOBufferInfo layout");
static_assert(sizeof(AsioTimeInfo) == 48 && offsetof(AsioTimeInfo, flags) == 32,
              "AsioTimeInfo layout");
static_assert(sizeof(ASIOTimeCode) == 84 && offsetof(ASIOTimeCode, flags) == 16,
              "ASIOTimeCode layout");
static_assert(sizeof(ASIOTime) == 148 && offsetof(ASIOTime, timeInfo) == 16 &&
                  offsetof(ASIOTime, timeCode) == 64,
              "ASIOTime is 148 bytes");
static_assert(sizeof(ASIOIoFormat) == 512, "ASIOIoFormat is 512 bytes");
static_assert(sizeof(ASIOCallbacks) == 32, "ASIOCallbacks is four function pointers");

// The driver interface, in vtable order after IUnknown's three slots.
struct IASIO : public IUnknown {
    virtual ASIOBool init(void *sysHandle) = 0;
    virtual void getDriverName(char *name) = 0;
    virtual LONG getDriverVersion() = 0;
    virtual void getErrorMessage(char *string) = 0;
    virtual ASIOError start() = 0;
    virtual ASIOError stop() = 0;
    virtual ASIOError getChannels(LONG *numInputChannels, LONG *numOutputChannels) = 0;
    virtual ASIOError getLatencies(LONG *inputLatency, LONG *outputLatency) = 0;
    virtual ASIOError getBufferSize(LONG *minSize, LONG *maxSize, LONG *preferredSize,
                                    LONG *granularity) = 0;
    virtual ASIOError canSampleRate(ASIOSampleRate sampleRate) = 0;
    virtual ASIOError getSampleRate(ASIOSampleRate *sampleRate) = 0;
    virtual ASIOError setSampleRate(ASIOSampleRate sampleRate) = 0;
    virtual ASIOError getClockSources(ASIOClockSource *clocks, LONG *numSources) = 0;
    virtual ASIOError setClockSource(LONG reference) = 0;
    virtual ASIOError getSamplePosition(ASIOSamples *sPos, ASIOTimeStamp *tStamp) = 0;
    virtual ASIOError getChannelInfo(ASIOChannelInfo *info) = 0;
    virtual ASIOError createBuffers(ASIOBufferInfo *bufferInfos, LONG numChannels,
                                    LONG bufferSize, ASIOCallbacks *callbacks) = 0;
    virtual ASIOError disposeBuffers() = 0;
    virtual ASIOError controlPanel() = 0;
    virtual ASIOError future(LONG selector, void *opt) = 0;
    virtual ASIOError outputReady() = 0;
};

// {6D2F8B14-A3C9-4E57-9B0D-7E41C58A2F63}: the driver's class id, also the id of its IASIO.
DEFINE_GUID(CLSID_ZelAsioDriver, 0x6D2F8B14, 0xA3C9, 0x4E57, 0x9B, 0x0D, 0x7E, 0x41, 0xC5, 0x8A,
            0x2F, 0x63);
