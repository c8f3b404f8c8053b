// Classic event tracing from a provider's side: the enable callback at registration or when a
// session starts, the session's handle, level and flags, message records, and registrations
// dropped with their process.
#include "win32_fixture.h"

#include "event_tracing.h"

#include <evntrace.h>

namespace {

const GUID kProvider = {
    0x1b5c7d3e, 0x2a4f, 0x4c6b, {0x9d, 0x8e, 0x7f, 0x60, 0x51, 0x42, 0x33, 0x24}};

struct ProviderState {
    TRACEHANDLE logger = 0;
    int enables = 0;
    int disables = 0;
};

ULONG WINAPI Control(WMIDPREQUESTCODE code, PVOID context, ULONG *, PVOID buffer)
{
    auto *state = static_cast<ProviderState *>(context);
    if (code == WMI_ENABLE_EVENTS) {
        state->logger = GetTraceLoggerHandle(buffer);
        ++state->enables;
    } else if (code == WMI_DISABLE_EVENTS) {
        state->logger = 0;
        ++state->disables;
    }
    return ERROR_SUCCESS;
}

class EventTracing : public Win32Test {
protected:
    host::win32::EventTracing &Tracing() { return Win32().Tracing(); }
    ULONG Register(ProviderState *state, TRACEHANDLE *handle)
    {
        return RegisterTraceGuidsW(Control, state, &kProvider, 0, nullptr, nullptr, nullptr,
                                   handle);
    }
};

TEST_F(EventTracing, ProvidersLearnOfSessionsWhetherTheyRegisterBeforeOrAfter)
{
    ProviderState early, late;
    TRACEHANDLE earlyHandle, lateHandle;
    ASSERT_EQ(Register(&early, &earlyHandle), ULONG(ERROR_SUCCESS));
    EXPECT_EQ(early.enables, 0);
    TRACEHANDLE session = Tracing().Enable(kProvider, 4, 0x30);
    EXPECT_EQ(early.logger, session);
    ASSERT_EQ(Register(&late, &lateHandle), ULONG(ERROR_SUCCESS));
    EXPECT_EQ(late.logger, session);
    EXPECT_EQ(GetTraceEnableLevel(session), 4);
    EXPECT_EQ(GetTraceEnableFlags(session), 0x30u);

    int value = 7;
    EXPECT_EQ(
        TraceMessage(session, TRACE_MESSAGE_GUID, &kProvider, 3, &value, sizeof value, nullptr),
        ULONG(ERROR_SUCCESS));
    std::vector<host::win32::TraceMessageRecord> messages = Tracing().Messages(kProvider);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].number, 3);
    ASSERT_EQ(messages[0].arguments.size(), 1u);
    EXPECT_EQ(messages[0].arguments[0].size(), sizeof value);

    EXPECT_EQ(UnregisterTraceGuids(lateHandle), ULONG(ERROR_SUCCESS));
    EXPECT_EQ(UnregisterTraceGuids(lateHandle), ULONG(ERROR_INVALID_HANDLE));
    Tracing().Disable(kProvider);
    EXPECT_EQ(early.disables, 1);
    EXPECT_EQ(late.disables, 0);
    EXPECT_EQ(TraceMessage(session, 0, &kProvider, 3, nullptr), ULONG(ERROR_INVALID_HANDLE));
    EXPECT_EQ(UnregisterTraceGuids(earlyHandle), ULONG(ERROR_SUCCESS));
}

TEST_F(EventTracing, RefusesBadArgumentsAndForgetsProvidersOfEndedProcesses)
{
    TRACEHANDLE handle;
    ProviderState state;
    EXPECT_EQ(
        RegisterTraceGuidsW(nullptr, nullptr, &kProvider, 0, nullptr, nullptr, nullptr, &handle),
        ULONG(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(
        RegisterTraceGuidsW(Control, &state, &kProvider, 1, nullptr, nullptr, nullptr, &handle),
        ULONG(ERROR_INVALID_PARAMETER));
    WNODE_HEADER stale = {};
    stale.HistoricalContext = 12345;
    EXPECT_EQ(GetTraceLoggerHandle(&stale), TRACEHANDLE(ULONG_PTR(INVALID_HANDLE_VALUE)));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));

    PKPROCESS provider = Start("provider", [&state] {
        TRACEHANDLE own;
        return RegisterTraceGuidsW(Control, &state, &kProvider, 0, nullptr, nullptr, nullptr, &own);
    });
    EXPECT_EQ(Join(provider), DWORD(ERROR_SUCCESS));
    Tracing().Enable(kProvider, 1, 0);
    EXPECT_EQ(state.enables, 0);
}

} // namespace
