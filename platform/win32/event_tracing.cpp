#include "event_tracing.h"

namespace host::win32 {

TRACEHANDLE EventTracing::Enable(const GUID &control, UCHAR level, ULONG flags)
{
    TRACEHANDLE logger;
    std::vector<Registration> providers;
    {
        std::lock_guard<std::mutex> guard(lock_);
        Session *session = nullptr;
        for (Session &s : sessions_)
            if (s.control == control)
                session = &s;
        if (session == nullptr) {
            sessions_.push_back(Session{control, next_++, 0, 0, {}});
            session = &sessions_.back();
        }
        session->level = level;
        session->flags = flags;
        logger = session->logger;
        providers = ProvidersLocked(control);
    }
    Notify(control, WMI_ENABLE_EVENTS, logger, providers);
    return logger;
}

void EventTracing::Disable(const GUID &control)
{
    TRACEHANDLE logger = 0;
    std::vector<Registration> providers;
    {
        std::lock_guard<std::mutex> guard(lock_);
        for (auto it = sessions_.begin(); it != sessions_.end(); ++it)
            if (it->control == control) {
                logger = it->logger;
                sessions_.erase(it);
                break;
            }
        if (logger == 0)
            return;
        providers = ProvidersLocked(control);
    }
    Notify(control, WMI_DISABLE_EVENTS, logger, providers);
}

std::vector<TraceMessageRecord> EventTracing::Messages(const GUID &control)
{
    std::lock_guard<std::mutex> guard(lock_);
    for (const Session &s : sessions_)
        if (s.control == control)
            return s.messages;
    return {};
}

ULONG EventTracing::Register(PKPROCESS process, const GUID &control, WMIDPREQUEST callback,
                             PVOID context, TRACEHANDLE *registration)
{
    Registration entry{process, control, callback, context};
    TRACEHANDLE logger = 0;
    {
        std::lock_guard<std::mutex> guard(lock_);
        *registration = next_++;
        registrations_.emplace(*registration, entry);
        for (const Session &s : sessions_)
            if (s.control == control)
                logger = s.logger;
    }
    if (logger != 0)
        Notify(control, WMI_ENABLE_EVENTS, logger, {entry});
    return ERROR_SUCCESS;
}

ULONG EventTracing::Unregister(TRACEHANDLE registration)
{
    std::lock_guard<std::mutex> guard(lock_);
    return registrations_.erase(registration) != 0 ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

bool EventTracing::SessionOf(TRACEHANDLE logger, UCHAR *level, ULONG *flags)
{
    std::lock_guard<std::mutex> guard(lock_);
    Session *session = SessionLocked(logger);
    if (session == nullptr)
        return false;
    *level = session->level;
    *flags = session->flags;
    return true;
}

ULONG EventTracing::Log(TRACEHANDLE logger, TraceMessageRecord record)
{
    std::lock_guard<std::mutex> guard(lock_);
    Session *session = SessionLocked(logger);
    if (session == nullptr)
        return ERROR_INVALID_HANDLE;
    session->messages.push_back(std::move(record));
    return ERROR_SUCCESS;
}

void EventTracing::ProcessEnded(PKPROCESS process)
{
    std::lock_guard<std::mutex> guard(lock_);
    for (auto it = registrations_.begin(); it != registrations_.end();)
        it = it->second.process == process ? registrations_.erase(it) : std::next(it);
}

void EventTracing::Notify(const GUID &control, WMIDPREQUESTCODE code, TRACEHANDLE logger,
                          const std::vector<Registration> &providers)
{
    for (const Registration &provider : providers) {
        WNODE_HEADER header{};
        header.BufferSize = sizeof(header);
        header.HistoricalContext = logger;
        header.Guid = control;
        ULONG size = sizeof(header);
        provider.callback(code, provider.context, &size, &header);
    }
}

std::vector<EventTracing::Registration> EventTracing::ProvidersLocked(const GUID &control)
{
    std::vector<Registration> providers;
    for (const auto &[handle, registration] : registrations_)
        if (registration.control == control)
            providers.push_back(registration);
    return providers;
}

EventTracing::Session *EventTracing::SessionLocked(TRACEHANDLE logger)
{
    for (Session &s : sessions_)
        if (s.logger == logger)
            return &s;
    return nullptr;
}

} // namespace host::win32
