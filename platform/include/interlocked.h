// The interlocked operations, memory barrier and spin-wait hint: compiler intrinsics on Windows,
// declared by both <wdm.h> and <winnt.h>. The kernel and the user-mode host headers both include
// this one.
#pragma once

#include "basetsd.h"

inline LONG InterlockedIncrement(volatile LONG *p)
{
    return __atomic_add_fetch(p, 1, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedDecrement(volatile LONG *p)
{
    return __atomic_sub_fetch(p, 1, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedExchange(volatile LONG *p, LONG v)
{
    return __atomic_exchange_n(p, v, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedExchangeAdd(volatile LONG *p, LONG v)
{
    return __atomic_fetch_add(p, v, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedAdd(volatile LONG *p, LONG v)
{
    return __atomic_add_fetch(p, v, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedOr(volatile LONG *p, LONG v)
{
    return __atomic_fetch_or(p, v, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedAnd(volatile LONG *p, LONG v)
{
    return __atomic_fetch_and(p, v, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedCompareExchange(volatile LONG *p, LONG exchange, LONG comparand)
{
    __atomic_compare_exchange_n(p, &comparand, exchange, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
    return comparand;
}
inline LONG64 InterlockedIncrement64(volatile LONG64 *p)
{
    return __atomic_add_fetch(p, 1, __ATOMIC_SEQ_CST);
}
inline LONG64 InterlockedDecrement64(volatile LONG64 *p)
{
    return __atomic_sub_fetch(p, 1, __ATOMIC_SEQ_CST);
}
inline LONG64 InterlockedExchange64(volatile LONG64 *p, LONG64 v)
{
    return __atomic_exchange_n(p, v, __ATOMIC_SEQ_CST);
}
inline LONG64 InterlockedExchangeAdd64(volatile LONG64 *p, LONG64 v)
{
    return __atomic_fetch_add(p, v, __ATOMIC_SEQ_CST);
}
inline LONG64 InterlockedCompareExchange64(volatile LONG64 *p, LONG64 exchange, LONG64 comparand)
{
    __atomic_compare_exchange_n(p, &comparand, exchange, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
    return comparand;
}
inline PVOID InterlockedExchangePointer(PVOID volatile *p, PVOID v)
{
    return __atomic_exchange_n(p, v, __ATOMIC_SEQ_CST);
}
inline PVOID InterlockedCompareExchangePointer(PVOID volatile *p, PVOID exchange, PVOID comparand)
{
    __atomic_compare_exchange_n(p, &comparand, exchange, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
    return comparand;
}
inline void MemoryBarrier() { __atomic_thread_fence(__ATOMIC_SEQ_CST); }
#define YieldProcessor() __builtin_ia32_pause()
