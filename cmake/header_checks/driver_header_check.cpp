// The kernel driver's platform header compiles on its own and gives the Windows x64 layouts the
// driver relies on.
#include "quen_driver_platform.h"

static_assert(sizeof(ULONG) == 4 && sizeof(LONG) == 4, "LONG is 32 bits");
static_assert(sizeof(ULONGLONG) == 8 && sizeof(LARGE_INTEGER) == 8, "64-bit integers");
static_assert(sizeof(ULONG_PTR) == 8 && sizeof(PVOID) == 8 && sizeof(HANDLE) == 8, "x64 pointers");
static_assert(sizeof(BOOLEAN) == 1 && sizeof(UCHAR) == 1, "BOOLEAN is one byte");
static_assert(sizeof(WCHAR) == 2, "WCHAR is 16 bits");
static_assert(sizeof(NTSTATUS) == 4, "NTSTATUS is 32 bits");
static_assert(sizeof(GUID) == 16, "GUID layout");
static_assert(sizeof(LIST_ENTRY) == 16, "LIST_ENTRY layout");
static_assert(sizeof(UNICODE_STRING) == 16, "UNICODE_STRING layout");
static_assert(sizeof(OBJECT_ATTRIBUTES) == 48, "OBJECT_ATTRIBUTES layout");
static_assert(sizeof(KSPIN_LOCK) == 8, "KSPIN_LOCK layout");
static_assert(sizeof(KLOCK_QUEUE_HANDLE) == 24, "KLOCK_QUEUE_HANDLE layout");
static_assert(sizeof(KEVENT) == 24, "KEVENT layout");
static_assert(sizeof(KSEMAPHORE) == 32, "KSEMAPHORE layout");
static_assert(sizeof(KMUTEX) == 56, "KMUTEX layout");
static_assert(sizeof(KTIMER) == 64, "KTIMER layout");
static_assert(sizeof(KDPC) == 64, "KDPC layout");
static_assert(sizeof(KWAIT_BLOCK) == 48, "KWAIT_BLOCK layout");
static_assert(sizeof(IO_STATUS_BLOCK) == 16, "IO_STATUS_BLOCK layout");
static_assert(sizeof(MDL) == 48, "MDL layout");
