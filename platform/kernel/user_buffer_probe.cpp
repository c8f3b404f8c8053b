#include "user_buffer_probe.h"

#include "machine.h"

namespace {

// The highest user address plus one that a probe accepts, as on x64 Windows.
constexpr ULONG_PTR kUserProbeAddress = 0x7FFFFFFF0000ULL;
// The lowest page is never mapped in a Windows process.
constexpr ULONG_PTR kLowestUserAddress = 0x10000;

void Raise(const char *entryPoint, NTSTATUS status, const volatile void *address)
{
    char text[200];
    std::snprintf(text, sizeof text,
                  "%s(%p) raised 0x%08X; without __try Windows bug-checks "
                  "(KMODE_EXCEPTION_NOT_HANDLED)",
                  entryPoint, const_cast<const void *>(address), unsigned(status));
    host::CurrentThread(entryPoint)->machine->Checks().Report(host::VerifierCheck::Usage, text);
}

} // namespace

NTSTATUS host::ProbeUserBuffer(const volatile void *address, SIZE_T length, ULONG alignment)
{
    if (length == 0)
        return STATUS_SUCCESS;
    auto start = reinterpret_cast<ULONG_PTR>(address);
    if (alignment != 0 && (start & (alignment - 1)) != 0)
        return STATUS_DATATYPE_MISALIGNMENT;
    if (start < kLowestUserAddress || length > kUserProbeAddress ||
        start > kUserProbeAddress - length)
        return STATUS_ACCESS_VIOLATION;
    if (CurrentThread("ProbeUserBuffer")->machine->KernelPool().Overlaps(start, length))
        return STATUS_ACCESS_VIOLATION;
    return STATUS_SUCCESS;
}

extern "C" {

void ProbeForRead(const volatile void *Address, SIZE_T Length, ULONG Alignment)
{
    NTSTATUS status = host::ProbeUserBuffer(Address, Length, Alignment);
    if (!NT_SUCCESS(status))
        Raise("ProbeForRead", status, Address);
}

void ProbeForWrite(volatile void *Address, SIZE_T Length, ULONG Alignment)
{
    NTSTATUS status = host::ProbeUserBuffer(Address, Length, Alignment);
    if (!NT_SUCCESS(status))
        Raise("ProbeForWrite", status, Address);
}

} // extern "C"
