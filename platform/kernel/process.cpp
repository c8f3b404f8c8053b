#include "process.h"

#include "dispatcher.h"

_KPROCESS::_KPROCESS(host::Machine &owner, const std::string &processName, ULONG processId,
                     bool wow64, bool kernelTable)
    : machine(&owner), name(processName), id(processId), is32Bit(wow64), handles(kernelTable),
      addressSpace(wow64)
{
    host::InitializeDispatcherHeader(&Header, ProcessObject,
                                     sizeof(DISPATCHER_HEADER) / sizeof(LONG), 0);
}
