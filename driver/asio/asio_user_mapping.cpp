// A compiler with structured exception handling would guard this call with __try/__except; the
// mingw-w64 build has none, so a failing view there is not caught.
#include "asio/asio_user_mapping.h"

PVOID AsioMapIntoCurrentProcess(PMDL Mdl)
{
    return MmMapLockedPagesSpecifyCache(Mdl, UserMode, MmCached, nullptr, FALSE,
                                        NormalPagePriority);
}
