// The settings the ASIO driver shares with the control panel: one per-user registry key with a
// fixed table of values, read and written by id, created with its defaults on first use; the
// named events by which the panel tells running drivers about a change; and the presence event
// both programs hold while they run.
#pragma once

#include "quen_asio_platform.h"

enum : ULONG {
    kSettingDefault = 0,
    kSettingBufferSize = 1,
    kSettingSamplingRate = 2,
    kSettingBitDepth = 3,
    kSettingFormat = 4,
    kSettingSelected = 6,
    kSettingLock = 7,
    kSettingNotify = 8,
    kSettingStreaming = 9,
};

// Status codes of the store.
enum : int {
    kSettingsOk = 0,
    kSettingsBadArgument = -1,
    kSettingsCannotOpen = -2,
    kSettingsCannotCreate = -3,
    kSettingsCannotRead = -4,
    kSettingsCannotWrite = -5,
};

struct SettingDescriptor {
    ULONG id;
    WCHAR name[128];
    ULONG type;
    ULONG size;
    ULONG flag;
};

constexpr ULONG kDefaultBufferSize = 2048;

// Units of a device instance id, its terminator included.
constexpr ULONG kInstanceIdUnits = 128;

class CAsioSettings {
public:
    // Reads exactly the row's size into `buffer`, creating the key with its defaults first if
    // it does not exist; a value missing from an existing key is written with its default.
    static int Read(ULONG id, PVOID buffer, ULONG length);
    static int Write(ULONG id, const void *data, ULONG length);
    // Creates the key; writes the defaults only if it did not exist.
    static bool CreateDefaults();
    // "selected", terminated whatever was stored (an odd or unterminated value is cut).
    static int ReadSelected(WCHAR (&instanceId)[kInstanceIdUnits]);
    // "selected" written with its terminator.
    static int WriteSelected(LPCWSTR instanceId);
    static int ReadDword(ULONG id, DWORD *value) { return Read(id, value, sizeof *value); }
    static int ReadByte(ULONG id, BYTE *value) { return Read(id, value, sizeof *value); }

    static const SettingDescriptor *Find(ULONG id);

    // A stored buffer size as the driver uses it: outside 64..7680 the default, else whole
    // steps of 32 samples (as the control panel shows it).
    static ULONG ValidBufferSize(DWORD stored);
};

extern const WCHAR kSettingsKey[];
extern const WCHAR kSetupKey[];
extern const WCHAR kPresenceEventName[];
extern const WCHAR kListeningEventName[];
extern const WCHAR kChangeEventName[];
