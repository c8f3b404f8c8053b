// ExAllocatePoolWithTag and friends: the executive's pool entry points over the machine's pool.
#include "machine.h"

namespace {
constexpr ULONG kUntaggedTag = 0x656e6f4e; // 'None', the tag ExAllocatePool uses
}

extern "C" {

PVOID ExAllocatePoolWithTag(POOL_TYPE PoolType, SIZE_T NumberOfBytes, ULONG Tag)
{
    PKTHREAD thread = host::CurrentThread("ExAllocatePoolWithTag");
    return thread->machine->KernelPool().Allocate(PoolType, NumberOfBytes, Tag, thread->irql);
}

PVOID ExAllocatePool(POOL_TYPE PoolType, SIZE_T NumberOfBytes)
{
    return ExAllocatePoolWithTag(PoolType, NumberOfBytes, kUntaggedTag);
}

void ExFreePoolWithTag(PVOID P, ULONG Tag)
{
    PKTHREAD thread = host::CurrentThread("ExFreePoolWithTag");
    thread->machine->KernelPool().Free(P, Tag, thread->irql);
}

void ExFreePool(PVOID P) { ExFreePoolWithTag(P, 0); }

} // extern "C"
