#include "asio_settings.h"

#include "asio_trace.h"

#include <string.h>

const WCHAR kSettingsKey[] = L"SOFTWARE\\Norvane_Quen\\Quen RV-D3";
const WCHAR kSetupKey[] = L"SOFTWARE\\Norvane_Quen\\Quen RV-D3 Setup";
const WCHAR kPresenceEventName[] = L"{5E0C41D2-7A93-4B6F-8C1D-2F64A9B0E317}";
const WCHAR kListeningEventName[] = L"{C47B9E05-3D21-4A8C-9F6E-81B2D05A7C94}0";
const WCHAR kChangeEventName[] = L"{C47B9E05-3D21-4A8C-9F6E-81B2D05A7C94}1";

namespace {

const SettingDescriptor kSettings[] = {
    {kSettingDefault, L"", REG_SZ, 128, 1},
    {kSettingBufferSize, L"buffer_size", REG_DWORD, 4, 0},
    {kSettingSamplingRate, L"sampling_rate", REG_DWORD, 4, 0},
    {kSettingBitDepth, L"bit_depth", REG_DWORD, 4, 1},
    {kSettingFormat, L"format", REG_BINARY, 1, 1},
    {kSettingSelected, L"selected", REG_SZ, 256, 0},
    {kSettingLock, L"lock", REG_BINARY, 1, 1},
    {kSettingNotify, L"notify", REG_BINARY, 1, 1},
    {kSettingStreaming, L"streaming", REG_DWORD, 4, 1},
    {0, L"", 0, 0, 0},
};

struct SettingDefault {
    ULONG id;
    DWORD value; // "selected": zero bytes of the row's size
};

// In the order they are written when the key is created.
const SettingDefault kDefaults[] = {
    {kSettingSelected, 0}, {kSettingBufferSize, kDefaultBufferSize}, {kSettingSamplingRate, 44100},
    {kSettingBitDepth, 16}, {kSettingFormat, 0},        {kSettingLock, 0},
    {kSettingNotify, 0},
};

constexpr REGSAM kView = KEY_WOW64_64KEY;

LSTATUS WriteDefault(HKEY key, const SettingDefault &entry)
{
    const SettingDescriptor *row = CAsioSettings::Find(entry.id);
    BYTE zeros[256] = {};
    const BYTE *data = row->type == REG_SZ ? zeros : reinterpret_cast<const BYTE *>(&entry.value);
    return RegSetValueExW(key, row->name, 0, row->type, data, row->size);
}

const SettingDefault *DefaultOf(ULONG id)
{
    for (const SettingDefault &entry : kDefaults) {
        if (entry.id == id)
            return &entry;
    }
    return nullptr;
}

} // namespace

const SettingDescriptor *CAsioSettings::Find(ULONG id)
{
    // The first row (the key's unnamed value) has id 0 and no name like the end of the table.
    if (id == kSettingDefault)
        return kSettings;
    for (const SettingDescriptor *row = kSettings + 1; row->id != 0 || row->name[0] != 0; ++row) {
        if (row->id == id)
            return row;
    }
    return nullptr;
}

bool CAsioSettings::CreateDefaults()
{
    HKEY key = nullptr;
    DWORD disposition = 0;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0,
                        KEY_READ | KEY_WRITE | kView, nullptr, &key,
                        &disposition) != ERROR_SUCCESS)
        return false;
    bool written = true;
    if (disposition != REG_OPENED_EXISTING_KEY) {
        for (const SettingDefault &entry : kDefaults)
            written = written && WriteDefault(key, entry) == ERROR_SUCCESS;
    }
    RegCloseKey(key);
    return written;
}

int CAsioSettings::Read(ULONG id, PVOID buffer, ULONG length)
{
    if (buffer == nullptr || length == 0 || LONG(id) < 0)
        return kSettingsBadArgument;
    HKEY key = nullptr;
    LSTATUS status = RegOpenKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_READ | kView, &key);
    if (status == ERROR_FILE_NOT_FOUND) {
        if (!CreateDefaults())
            return kSettingsCannotCreate;
        status = RegOpenKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_READ | kView, &key);
    }
    if (status != ERROR_SUCCESS)
        return kSettingsCannotOpen;
    const SettingDescriptor *row = Find(id);
    int result = kSettingsOk;
    if (row != nullptr && length < row->size) {
        result = kSettingsBadArgument;
    } else if (row != nullptr) {
        DWORD type = 0;
        DWORD size = row->size;
        status = RegQueryValueExW(key, row->name, nullptr, &type, static_cast<BYTE *>(buffer),
                                  &size);
        const SettingDefault *fallback = DefaultOf(id);
        if (status == ERROR_FILE_NOT_FOUND && fallback != nullptr) {
            // A key that lost a value gets its default back, so both programs agree on it.
            HKEY writable = nullptr;
            if (RegOpenKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_WRITE | kView,
                              &writable) == ERROR_SUCCESS) {
                WriteDefault(writable, *fallback);
                RegCloseKey(writable);
            }
            memset(buffer, 0, row->size);
            if (row->type != REG_SZ)
                memcpy(buffer, &fallback->value, row->size);
        } else if (status != ERROR_SUCCESS || type != row->type) {
            result = kSettingsCannotRead;
        } else if (size < row->size) {
            memset(static_cast<BYTE *>(buffer) + size, 0, row->size - size);
        }
    }
    RegCloseKey(key);
    return result;
}

int CAsioSettings::Write(ULONG id, const void *data, ULONG length)
{
    if (data == nullptr || length == 0 || LONG(id) < 0)
        return kSettingsBadArgument;
    const SettingDescriptor *row = Find(id);
    if (row == nullptr)
        return kSettingsOk;
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_WRITE | kView, nullptr,
                        &key, nullptr) != ERROR_SUCCESS)
        return kSettingsCannotOpen;
    LSTATUS status =
        RegSetValueExW(key, row->name, 0, row->type, static_cast<const BYTE *>(data), length);
    RegCloseKey(key);
    return status == ERROR_SUCCESS ? kSettingsOk : kSettingsCannotWrite;
}

int CAsioSettings::ReadSelected(WCHAR (&instanceId)[kInstanceIdUnits])
{
    // One unit more than the row, so that a value filling the row still ends in a terminator.
    WCHAR buffer[kInstanceIdUnits + 1] = {};
    int result = Read(kSettingSelected, buffer, kInstanceIdUnits * sizeof(WCHAR));
    buffer[kInstanceIdUnits - 1] = 0;
    memcpy(instanceId, buffer, sizeof instanceId);
    return result;
}

int CAsioSettings::WriteSelected(LPCWSTR instanceId)
{
    ULONG units = 0;
    while (units < kInstanceIdUnits - 1 && instanceId[units] != 0)
        ++units;
    WCHAR buffer[kInstanceIdUnits] = {};
    memcpy(buffer, instanceId, units * sizeof(WCHAR));
    return Write(kSettingSelected, buffer, (units + 1) * sizeof(WCHAR));
}

ULONG CAsioSettings::ValidBufferSize(DWORD stored)
{
    if (stored < 64 || stored > 7680)
        return kDefaultBufferSize;
    return stored - stored % 32;
}
