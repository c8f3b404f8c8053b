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
static_assert(sizeof(DEVICE_CAPABILITIES) == 64, "DEVICE_CAPABILITIES layout");
static_assert(sizeof(CM_PARTIAL_RESOURCE_DESCRIPTOR) == 20,
              "CM_PARTIAL_RESOURCE_DESCRIPTOR layout");
static_assert(sizeof(CM_RESOURCE_LIST) == 40, "CM_RESOURCE_LIST layout");
static_assert(sizeof(POWER_STATE) == 4, "POWER_STATE layout");
static_assert(PORT_CLASS_DEVICE_EXTENSION_SIZE == 512, "port class device extension");

// The port-class implementation macros declare every slot of their interfaces, and CUnknown
// with DECLARE_STD_UNKNOWN completes IUnknown, so a class built from them is not abstract.
class HeaderCheckMiniport : public IMiniportWaveCyclic, public IPowerNotify, public CUnknown {
public:
    DECLARE_STD_UNKNOWN();
    DEFINE_STD_CONSTRUCTOR(HeaderCheckMiniport);
    IMP_IMiniportWaveCyclic;
    STDMETHODIMP_(void) PowerChangeNotify(POWER_STATE PowerState);
};
static_assert(!__is_abstract(HeaderCheckMiniport), "miniport interfaces");

class HeaderCheckStream : public IMiniportWaveCyclicStream, public IDmaChannel, public CUnknown {
public:
    DECLARE_STD_UNKNOWN();
    DEFINE_STD_CONSTRUCTOR(HeaderCheckStream);
    IMP_IMiniportWaveCyclicStream;
    IMP_IDmaChannel;
};
static_assert(!__is_abstract(HeaderCheckStream), "stream interfaces");

class HeaderCheckAdapter : public IAdapterPowerManagement, public IServiceSink, public CUnknown {
public:
    DECLARE_STD_UNKNOWN();
    DEFINE_STD_CONSTRUCTOR(HeaderCheckAdapter);
    IMP_IAdapterPowerManagement;
    IMP_IServiceSink
};
static_assert(!__is_abstract(HeaderCheckAdapter), "adapter interfaces");
