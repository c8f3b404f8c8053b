#include "asio/performance_parameters.h"

#include "driver_trace.h"

// Older kernel header sets lack the type check of direct queries (documented values).
#ifndef RTL_QUERY_REGISTRY_TYPECHECK
#define RTL_QUERY_REGISTRY_TYPECHECK 0x00000100
#define RTL_QUERY_REGISTRY_TYPECHECK_SHIFT 24
#endif

namespace {

const WCHAR kKeyPath[] = L"\\Registry\\Machine\\SOFTWARE\\ZEL\\Sample Device Performance";

// Registry value names per direction: frames per transfer, transfers in flight.
const WCHAR *const kValueNames[2][2] = {{L"param1", L"param2"}, {L"param3", L"param4"}};

// Direct entries with a type check: a value of another type fails the query instead of being
// written over the 32-bit result.
const ULONG kDwordTypeCheck = REG_DWORD | (REG_DWORD << RTL_QUERY_REGISTRY_TYPECHECK_SHIFT);

} // namespace

int ReadPerformanceParameterPair(ULONG Direction, PULONG First, PULONG Second, ULONG FirstDefault)
{
    PAGED_CODE();
    if (First == nullptr || Second == nullptr) {
        return PERFORMANCE_MISSING_OUTPUT;
    }
    if (FirstDefault < 1 || FirstDefault > PERFORMANCE_FRAMES_MAX) {
        return PERFORMANCE_BAD_FIRST_DEFAULT;
    }
    const WCHAR *const *names = kValueNames[Direction == PERFORMANCE_DIRECTION_RENDER ? 0 : 1];
    ULONG firstDefault = FirstDefault;
    ULONG secondDefault = PERFORMANCE_TRANSFERS_DEFAULT;
    ULONG first = 0;
    ULONG second = 0;
    RTL_QUERY_REGISTRY_TABLE table[3];
    RtlZeroMemory(table, sizeof(table));
    table[0].Flags = RTL_QUERY_REGISTRY_DIRECT | RTL_QUERY_REGISTRY_TYPECHECK;
    table[0].Name = const_cast<PWSTR>(names[0]);
    table[0].EntryContext = &first;
    table[0].DefaultType = kDwordTypeCheck;
    table[0].DefaultData = &firstDefault;
    table[0].DefaultLength = sizeof(ULONG);
    table[1] = table[0];
    table[1].Name = const_cast<PWSTR>(names[1]);
    table[1].EntryContext = &second;
    table[1].DefaultData = &secondDefault;

    const NTSTATUS status =
        RtlQueryRegistryValues(RTL_REGISTRY_ABSOLUTE, kKeyPath, table, nullptr, nullptr);
    if (!NT_SUCCESS(status)) {
        QuenTrace(TRACE_LEVEL_WARNING, "%ws: status 0x%08lX, defaults used", kKeyPath, status);
        *First = FirstDefault;
        *Second = PERFORMANCE_TRANSFERS_DEFAULT;
        return PERFORMANCE_KEY_UNREADABLE;
    }
    int result = 0;
    if (first == 0) {
        first = FirstDefault;
        result |= PERFORMANCE_FIRST_ZERO;
    } else if (first > PERFORMANCE_FRAMES_MAX) {
        first = PERFORMANCE_FRAMES_MAX;
        result |= PERFORMANCE_FIRST_ABOVE_LIMIT;
    }
    if (second == 0) {
        second = FirstDefault;
        result |= PERFORMANCE_SECOND_ZERO;
    } else if (second > PERFORMANCE_TRANSFERS_MAX) {
        second = PERFORMANCE_TRANSFERS_MAX;
        result |= PERFORMANCE_SECOND_ABOVE_LIMIT;
    }
    *First = first;
    *Second = second;
    return result;
}

int ReadPerformanceParameters(ULONG Direction, PERFORMANCE_PARAMETERS *Parameters)
{
    PAGED_CODE();
    const BOOLEAN render = Direction == PERFORMANCE_DIRECTION_RENDER;
    const ULONG firstDefault =
        render ? PERFORMANCE_RENDER_FRAMES_DEFAULT : PERFORMANCE_CAPTURE_FRAMES_DEFAULT;
    PULONG first =
        render ? &Parameters->RenderFramesPerTransfer : &Parameters->CaptureFramesPerTransfer;
    PULONG second =
        render ? &Parameters->RenderTransfersInFlight : &Parameters->CaptureTransfersInFlight;
    const int result = ReadPerformanceParameterPair(Direction, first, second, firstDefault);
    if (result < 0) {
        *first = firstDefault;
        *second = PERFORMANCE_TRANSFERS_DEFAULT;
    }
    return result;
}
