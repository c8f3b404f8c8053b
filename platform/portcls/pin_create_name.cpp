#include "pin_create_name.h"

#include <cstring>

namespace host {

NTSTATUS PinCreateName(const KSPIN_CONNECT *connect, std::vector<WCHAR> *name, USHORT *bytes)
{
    static const WCHAR kPin[] = KSSTRING_Pin;
    const ULONG prefix = sizeof kPin; // the terminator's place holds the '\'
    const ULONG parameters = sizeof(KSPIN_CONNECT) +
                             reinterpret_cast<const KSDATAFORMAT *>(connect + 1)->FormatSize;
    if (parameters < sizeof(KSPIN_CONNECT) || prefix + parameters > MAXUSHORT)
        return STATUS_INVALID_PARAMETER;
    name->assign((prefix + parameters + 1) / sizeof(WCHAR), 0);
    std::memcpy(name->data(), kPin, prefix);
    (*name)[prefix / sizeof(WCHAR) - 1] = L'\\';
    std::memcpy(reinterpret_cast<UCHAR *>(name->data()) + prefix, connect, parameters);
    *bytes = USHORT(prefix + parameters);
    return STATUS_SUCCESS;
}

} // namespace host
