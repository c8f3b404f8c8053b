// ole32: GUIDs as registry strings ("{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}") and back, and the
// task allocator such strings are returned in.
#include <objbase.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int kGuidChars = 39; // with braces and terminator

// Parses exactly the braced registry form; false for anything else.
bool ParseGuid(LPCOLESTR text, GUID *guid)
{
    static const char kPattern[] = "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}";
    unsigned char bytes[16];
    int nibble = 0;
    for (int i = 0; i < kGuidChars - 1; ++i) {
        WCHAR c = text[i];
        if (kPattern[i] != 'X') {
            if (c != WCHAR(kPattern[i]))
                return false;
            continue;
        }
        int value = c >= '0' && c <= '9'   ? c - '0'
                    : c >= 'a' && c <= 'f' ? c - 'a' + 10
                    : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                           : -1;
        if (value < 0)
            return false;
        if (nibble % 2 == 0)
            bytes[nibble / 2] = UCHAR(value << 4);
        else
            bytes[nibble / 2] |= UCHAR(value);
        ++nibble;
    }
    if (text[kGuidChars - 1] != 0)
        return false;
    guid->Data1 =
        (ULONG(bytes[0]) << 24) | (ULONG(bytes[1]) << 16) | (ULONG(bytes[2]) << 8) | bytes[3];
    guid->Data2 = USHORT((bytes[4] << 8) | bytes[5]);
    guid->Data3 = USHORT((bytes[6] << 8) | bytes[7]);
    std::memcpy(guid->Data4, bytes + 8, 8);
    return true;
}

// A null string is the null GUID; anything but the braced form is `malformed`.
HRESULT GuidFromString(LPCOLESTR text, GUID *guid, HRESULT malformed)
{
    if (guid == nullptr)
        return E_INVALIDARG;
    if (text == nullptr) {
        *guid = GUID{};
        return S_OK;
    }
    return ParseGuid(text, guid) ? S_OK : malformed;
}

HRESULT AllocatedGuidString(REFGUID guid, LPOLESTR *text)
{
    if (text == nullptr)
        return E_INVALIDARG;
    *text = static_cast<LPOLESTR>(CoTaskMemAlloc(kGuidChars * sizeof(OLECHAR)));
    if (*text == nullptr)
        return E_OUTOFMEMORY;
    StringFromGUID2(guid, *text, kGuidChars);
    return S_OK;
}

} // namespace

extern "C" {

LPVOID STDAPICALLTYPE CoTaskMemAlloc(SIZE_T cb) { return std::malloc(cb != 0 ? cb : 1); }

LPVOID STDAPICALLTYPE CoTaskMemRealloc(LPVOID pv, SIZE_T cb)
{
    return std::realloc(pv, cb != 0 ? cb : 1);
}

void STDAPICALLTYPE CoTaskMemFree(LPVOID pv) { std::free(pv); }

int STDAPICALLTYPE StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax)
{
    if (lpsz == nullptr || cchMax < kGuidChars)
        return 0;
    char text[kGuidChars];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  rguid.Data1, rguid.Data2, rguid.Data3, rguid.Data4[0], rguid.Data4[1],
                  rguid.Data4[2], rguid.Data4[3], rguid.Data4[4], rguid.Data4[5], rguid.Data4[6],
                  rguid.Data4[7]);
    for (int i = 0; i < kGuidChars; ++i)
        lpsz[i] = OLECHAR(text[i]);
    return kGuidChars;
}

HRESULT STDAPICALLTYPE StringFromCLSID(REFCLSID rclsid, LPOLESTR *lplpsz)
{
    return AllocatedGuidString(rclsid, lplpsz);
}

HRESULT STDAPICALLTYPE StringFromIID(REFIID rclsid, LPOLESTR *lplpsz)
{
    return AllocatedGuidString(rclsid, lplpsz);
}

HRESULT STDAPICALLTYPE CLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid)
{
    // A program id instead of a braced class id is not looked up.
    return GuidFromString(lpsz, pclsid, CO_E_CLASSSTRING);
}

HRESULT STDAPICALLTYPE IIDFromString(LPCOLESTR lpsz, LPIID lpiid)
{
    return GuidFromString(lpsz, lpiid, E_INVALIDARG);
}

} // extern "C"
