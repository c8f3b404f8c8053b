#include "passive_level.h"

#include "machine.h"

namespace host {

Machine &EnterPassiveLevelCall(const char *entryPoint)
{
    Machine &machine = *CurrentThread(entryPoint)->machine;
    KIRQL irql = KeGetCurrentIrql();
    if (irql > PASSIVE_LEVEL)
        machine.Checks().Report(VerifierCheck::Irql, std::string(entryPoint) + " at IRQL " +
                                                         std::to_string(irql) +
                                                         " (PASSIVE_LEVEL only)");
    return machine;
}

NTSTATUS ReportBadPointer(Machine &machine, const char *entryPoint, const char *argument)
{
    machine.Checks().Report(VerifierCheck::Usage,
                            std::string(entryPoint) + " called with a null " + argument);
    return STATUS_ACCESS_VIOLATION;
}

} // namespace host
