// DbgPrint, DbgPrintEx and RtlAssert: the kernel debugger's output, kept in the machine's debug
// log. They may be called at any IRQL.
#include "debug_log.h"
#include "machine.h"
#include "windows_format.h"

#include <wdm/rtl.h>

namespace {

// The kernel transmits at most 512 bytes of one message.
constexpr size_t kMaximumMessageBytes = 512;

} // namespace

extern "C" {

ULONG vDbgPrintEx(ULONG ComponentId, ULONG Level, PCSTR Format, va_list arglist)
{
    host::Machine &machine = *host::CurrentThread("DbgPrint")->machine;
    // A message the filter stops is not even formatted.
    if (!host::DebugLogOf(machine).Passes(ComponentId, Level))
        return STATUS_SUCCESS;
    std::string text = host::FormatWindows(Format, arglist);
    if (text.size() > kMaximumMessageBytes)
        text.resize(kMaximumMessageBytes);
    host::DebugLogOf(machine).Write(ComponentId, Level, std::move(text));
    return STATUS_SUCCESS;
}

ULONG DbgPrintEx(ULONG ComponentId, ULONG Level, PCSTR Format, ...)
{
    va_list args;
    va_start(args, Format);
    ULONG status = vDbgPrintEx(ComponentId, Level, Format, args);
    va_end(args);
    return status;
}

ULONG DbgPrint(PCSTR Format, ...)
{
    va_list args;
    va_start(args, Format);
    ULONG status = vDbgPrintEx(DPFLTR_DEFAULT_ID, DPFLTR_INFO_LEVEL, Format, args);
    va_end(args);
    return status;
}

NTSTATUS DbgSetDebugFilterState(ULONG ComponentId, ULONG Level, BOOLEAN State)
{
    host::Machine &machine = *host::CurrentThread("DbgSetDebugFilterState")->machine;
    return host::DebugLogOf(machine).SetFilterState(ComponentId, Level, State != FALSE);
}

void RtlAssert(PVOID VoidFailedAssertion, PVOID VoidFileName, ULONG LineNumber, PSTR MutableMessage)
{
    host::Machine &machine = *host::CurrentThread("RtlAssert")->machine;
    std::string text =
        std::string("Assertion failed: ") + static_cast<const char *>(VoidFailedAssertion);
    if (MutableMessage != nullptr)
        text += std::string(" (") + MutableMessage + ")";
    text += std::string(" at ") + static_cast<const char *>(VoidFileName) + ":" +
            std::to_string(LineNumber);
    host::DebugLogOf(machine).Write(DPFLTR_DEFAULT_ID, DPFLTR_ERROR_LEVEL, "*** " + text + "\n");
    machine.Checks().Report(host::VerifierCheck::Usage, text);
}

} // extern "C"
