// The co-installer's trace: an event-tracing provider registered while the module is loaded.
// Each event is a message of the provider's GUID with one structured record as its argument
// (the records below); nothing is written while no session enables the provider.
#pragma once

#include "quen_coinst_platform.h"

// The provider's control GUID, which also names its messages.
inline constexpr GUID kCoinstTraceGuid = {
    0x6e1c9f42, 0x8b3a, 0x4d5e, {0xa0, 0x71, 0x2c, 0x94, 0xb8, 0xd3, 0xe5, 0xf6}};

enum CoinstTraceMessage : USHORT {
    kTraceRequest = 1,     // CoinstTraceRequest: an installation request arrived
    kTraceWalkFailed = 2,  // CoinstTraceFailure: a SetupAPI call ended a driver walk
    kTraceDriver = 3,      // CoinstTraceDriver: a driver of the list
    kTraceDriverRank = 4,  // CoinstTraceRank: its rank and flags
    kTraceMatch = 5,       // CoinstTraceRank: the driver matches the package's model
    kTraceKept = 6,        // CoinstTraceRank: a matching driver kept its rank
    kTraceDemoted = 7,     // CoinstTraceRank: another driver got the worst rank
    kTraceDemoteFailed = 8 // CoinstTraceFailure: writing the worst rank failed
};

#pragma pack(push, 4)
struct CoinstTraceRequest {
    DWORD installFunction;
};
struct CoinstTraceFailure {
    DWORD step; // the index of the driver being walked
    DWORD error;
};
struct CoinstTraceDriver {
    DWORD index;
    CHAR path[MAX_PATH];
    CHAR description[LINE_LEN];
    CHAR manufacturer[LINE_LEN];
    CHAR provider[LINE_LEN];
    CHAR date[64];
    CHAR time[32];
    WORD version[4];
};
struct CoinstTraceRank {
    DWORD index;
    DWORD rank;
    DWORD flags;
};
#pragma pack(pop)

void CoinstTraceRegister();
void CoinstTraceUnregister();
// Logs one record when a session enables the provider.
void CoinstTrace(CoinstTraceMessage message, const void *record, size_t size);

template <class Record>
void CoinstTrace(CoinstTraceMessage message, const Record &record)
{
    CoinstTrace(message, &record, sizeof record);
}
