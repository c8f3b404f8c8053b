// Classic event tracing on one machine: the providers user processes register (control GUID,
// control callback), the sessions a test enables for a control GUID (level, flags), and the
// message events providers log to an enabling session. A provider whose GUID a session already
// enables gets its enable callback while it registers, as ETW calls it then; enabling a provider
// that is already registered calls its callback on the enabling thread (ETW uses a thread of the
// provider's process). A process that ends loses its registrations.
#pragma once

#include <evntrace.h>
#include <winerror.h>

#include <wdm.h>

#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

namespace host::win32 {

struct TraceMessageRecord {
    GUID messageGuid;
    USHORT number;
    std::vector<std::vector<uint8_t>> arguments;
};

class EventTracing {
public:
    EventTracing() = default;
    EventTracing(const EventTracing &) = delete;
    EventTracing &operator=(const EventTracing &) = delete;

    // Starts a session enabling `control` (or changes its level and flags); returns its logger
    // handle. Registered providers of that GUID get WMI_ENABLE_EVENTS.
    TRACEHANDLE Enable(const GUID &control, UCHAR level, ULONG flags);
    // Ends the session of `control`: registered providers get WMI_DISABLE_EVENTS.
    void Disable(const GUID &control);
    // The messages logged to the session of `control` so far.
    std::vector<TraceMessageRecord> Messages(const GUID &control);

    // RegisterTraceGuids for `process`; returns a Win32 error.
    ULONG Register(PKPROCESS process, const GUID &control, WMIDPREQUEST callback, PVOID context,
                   TRACEHANDLE *registration);
    ULONG Unregister(TRACEHANDLE registration);
    // The session behind a logger handle: false if there is none.
    bool SessionOf(TRACEHANDLE logger, UCHAR *level, ULONG *flags);
    ULONG Log(TRACEHANDLE logger, TraceMessageRecord record);

    void ProcessEnded(PKPROCESS process);

private:
    struct Registration {
        PKPROCESS process;
        GUID control;
        WMIDPREQUEST callback;
        PVOID context;
    };
    struct Session {
        GUID control;
        TRACEHANDLE logger;
        UCHAR level;
        ULONG flags;
        std::vector<TraceMessageRecord> messages;
    };
    // Calls the control callbacks of `control`'s providers, outside the lock.
    void Notify(const GUID &control, WMIDPREQUESTCODE code, TRACEHANDLE logger,
                const std::vector<Registration> &providers);
    std::vector<Registration> ProvidersLocked(const GUID &control);
    Session *SessionLocked(TRACEHANDLE logger);

    std::mutex lock_;
    std::map<TRACEHANDLE, Registration> registrations_;
    std::vector<Session> sessions_;
    TRACEHANDLE next_ = 1;
};

} // namespace host::win32
