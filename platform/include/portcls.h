// Host version of <portcls.h>: the records with which a port-class miniport describes its
// filter (pins, nodes, connections, automation tables) and the property requests that reach its
// handlers, with their Windows x64 layouts; the port-class interfaces (names, IIDs and slot
// orders as the WDK declares them) and the port class driver's entry points, which
// platform/portcls implements.
#pragma once

#include "wdm.h"
#include "punknown.h"
#include "ks.h"
#include "ksmedia.h"

// The filter itself as the end of a connection.
#define PCFILTER_NODE KSFILTER_NODE

#define _100NS_UNITS_PER_SECOND 10000000L
// Bytes of the functional device object's extension that belong to the port class driver; an
// adapter's own extension bytes follow them.
#define PORT_CLASS_DEVICE_EXTENSION_SIZE (64 * sizeof(ULONG_PTR))

// ---------------------------------------------------------------------------------------------
// Automation: property, method and event items and the tables that list them

typedef struct _PCPROPERTY_REQUEST PCPROPERTY_REQUEST, *PPCPROPERTY_REQUEST;
typedef NTSTATUS(NTAPI *PCPFNPROPERTY_HANDLER)(PPCPROPERTY_REQUEST PropertyRequest);

typedef struct {
    const GUID *Set;
    ULONG Id;
    ULONG Flags; // the verbs the handler accepts
    PCPFNPROPERTY_HANDLER Handler;
} PCPROPERTY_ITEM, *PPCPROPERTY_ITEM;

#define PCPROPERTY_ITEM_FLAG_GET KSPROPERTY_TYPE_GET
#define PCPROPERTY_ITEM_FLAG_SET KSPROPERTY_TYPE_SET
#define PCPROPERTY_ITEM_FLAG_BASICSUPPORT KSPROPERTY_TYPE_BASICSUPPORT
#define PCPROPERTY_ITEM_FLAG_DEFAULTVALUES KSPROPERTY_TYPE_DEFAULTVALUES
#define PCPROPERTY_ITEM_FLAG_SERIALIZERAW KSPROPERTY_TYPE_SERIALIZERAW
#define PCPROPERTY_ITEM_FLAG_UNSERIALIZERAW KSPROPERTY_TYPE_UNSERIALIZERAW
#define PCPROPERTY_ITEM_FLAG_SERIALIZESIZE KSPROPERTY_TYPE_SERIALIZESIZE
#define PCPROPERTY_ITEM_FLAG_SERIALIZE                                                             \
    (PCPROPERTY_ITEM_FLAG_SERIALIZERAW | PCPROPERTY_ITEM_FLAG_UNSERIALIZERAW |                     \
     PCPROPERTY_ITEM_FLAG_SERIALIZESIZE)

// What a property handler is given: the objects addressed (filter, pin or node), the item, the
// verb (KSPROPERTY_TYPE_*) and the caller's instance and value buffers.
struct _PCPROPERTY_REQUEST {
    PUNKNOWN MajorTarget; // the miniport
    PUNKNOWN MinorTarget; // the stream, for a pin property
    ULONG Node;           // the node id, or ULONG(-1)
    const PCPROPERTY_ITEM *PropertyItem;
    ULONG Verb;
    ULONG InstanceSize;
    PVOID Instance;
    ULONG ValueSize;
    PVOID Value;
    PIRP Irp;
};

typedef struct _PCMETHOD_REQUEST PCMETHOD_REQUEST, *PPCMETHOD_REQUEST;
typedef NTSTATUS(NTAPI *PCPFNMETHOD_HANDLER)(PPCMETHOD_REQUEST MethodRequest);

typedef struct {
    const GUID *Set;
    ULONG Id;
    ULONG Flags;
    PCPFNMETHOD_HANDLER Handler;
} PCMETHOD_ITEM, *PPCMETHOD_ITEM;

#define PCMETHOD_ITEM_FLAG_NONE KSMETHOD_TYPE_NONE
#define PCMETHOD_ITEM_FLAG_READ KSMETHOD_TYPE_READ
#define PCMETHOD_ITEM_FLAG_WRITE KSMETHOD_TYPE_WRITE
#define PCMETHOD_ITEM_FLAG_MODIFY KSMETHOD_TYPE_MODIFY
#define PCMETHOD_ITEM_FLAG_SOURCE KSMETHOD_TYPE_SOURCE
#define PCMETHOD_ITEM_FLAG_BASICSUPPORT KSMETHOD_TYPE_BASICSUPPORT

struct _PCMETHOD_REQUEST {
    PUNKNOWN MajorTarget;
    PUNKNOWN MinorTarget;
    ULONG Node;
    const PCMETHOD_ITEM *MethodItem;
    ULONG Verb;
};

typedef struct _PCEVENT_REQUEST PCEVENT_REQUEST, *PPCEVENT_REQUEST;
typedef NTSTATUS(NTAPI *PCPFNEVENT_HANDLER)(PPCEVENT_REQUEST EventRequest);

typedef struct {
    const GUID *Set;
    ULONG Id;
    ULONG Flags;
    PCPFNEVENT_HANDLER Handler;
} PCEVENT_ITEM, *PPCEVENT_ITEM;

#define PCEVENT_ITEM_FLAG_ENABLE KSEVENT_TYPE_ENABLE
#define PCEVENT_ITEM_FLAG_ONESHOT KSEVENT_TYPE_ONESHOT
#define PCEVENT_ITEM_FLAG_BASICSUPPORT KSEVENT_TYPE_BASICSUPPORT

#define PCEVENT_VERB_NONE 0
#define PCEVENT_VERB_ADD 1
#define PCEVENT_VERB_REMOVE 2
#define PCEVENT_VERB_SUPPORT 4

typedef struct _KSEVENT_ENTRY KSEVENT_ENTRY, *PKSEVENT_ENTRY;

struct _PCEVENT_REQUEST {
    PUNKNOWN MajorTarget;
    PUNKNOWN MinorTarget;
    ULONG Node;
    const PCEVENT_ITEM *EventItem;
    PKSEVENT_ENTRY EventEntry;
    ULONG Verb;
    PIRP Irp;
};

typedef struct {
    ULONG PropertyItemSize;
    ULONG PropertyCount;
    const PCPROPERTY_ITEM *Properties;
    ULONG MethodItemSize;
    ULONG MethodCount;
    const PCMETHOD_ITEM *Methods;
    ULONG EventItemSize;
    ULONG EventCount;
    const PCEVENT_ITEM *Events;
    ULONG Reserved;
} PCAUTOMATION_TABLE, *PPCAUTOMATION_TABLE;

// An automation table of properties only, over a PCPROPERTY_ITEM array.
// clang-format off
#define DEFINE_PCAUTOMATION_TABLE_PROP(AutomationTable, PropertyTable)                             \
    const PCAUTOMATION_TABLE AutomationTable = {                                                   \
        sizeof(PropertyTable[0]), SIZEOF_ARRAY(PropertyTable),                                     \
        (const PCPROPERTY_ITEM *)PropertyTable, 0, 0, NULL, 0, 0, NULL, 0}
// clang-format on

// ---------------------------------------------------------------------------------------------
// The filter description: pins, nodes and the connections between them

typedef struct {
    ULONG MaxGlobalInstanceCount;
    ULONG MaxFilterInstanceCount;
    ULONG MinFilterInstanceCount;
    const PCAUTOMATION_TABLE *AutomationTable;
    KSPIN_DESCRIPTOR KsPinDescriptor;
} PCPIN_DESCRIPTOR, *PPCPIN_DESCRIPTOR;

typedef struct {
    ULONG Flags;
    const PCAUTOMATION_TABLE *AutomationTable;
    const GUID *Type;
    const GUID *Name;
} PCNODE_DESCRIPTOR, *PPCNODE_DESCRIPTOR;

// One connection; a pin end is written as node PCFILTER_NODE with the pin id as node pin.
typedef struct {
    ULONG FromNode;
    ULONG FromNodePin;
    ULONG ToNode;
    ULONG ToNodePin;
} PCCONNECTION_DESCRIPTOR;

// PinSize and NodeSize let a miniport extend the pin and node records with its own fields.
typedef struct {
    ULONG Version;
    const PCAUTOMATION_TABLE *AutomationTable;
    ULONG PinSize;
    ULONG PinCount;
    const PCPIN_DESCRIPTOR *Pins;
    ULONG NodeSize;
    ULONG NodeCount;
    const PCNODE_DESCRIPTOR *Nodes;
    ULONG ConnectionCount;
    const PCCONNECTION_DESCRIPTOR *Connections;
    ULONG CategoryCount;
    const GUID *Categories;
} PCFILTER_DESCRIPTOR, *PPCFILTER_DESCRIPTOR;

static_assert(sizeof(PCPROPERTY_ITEM) == 24, "PCPROPERTY_ITEM layout");
static_assert(sizeof(PCMETHOD_ITEM) == 24, "PCMETHOD_ITEM layout");
static_assert(sizeof(PCEVENT_ITEM) == 24, "PCEVENT_ITEM layout");
static_assert(sizeof(PCPROPERTY_REQUEST) == 72, "PCPROPERTY_REQUEST layout");
static_assert(sizeof(PCAUTOMATION_TABLE) == 56, "PCAUTOMATION_TABLE layout");
static_assert(sizeof(PCPIN_DESCRIPTOR) == 112, "PCPIN_DESCRIPTOR layout");
static_assert(offsetof(PCPIN_DESCRIPTOR, KsPinDescriptor) == 24, "PCPIN_DESCRIPTOR layout");
static_assert(sizeof(PCNODE_DESCRIPTOR) == 32, "PCNODE_DESCRIPTOR layout");
static_assert(sizeof(PCCONNECTION_DESCRIPTOR) == 16, "PCCONNECTION_DESCRIPTOR layout");
static_assert(sizeof(PCFILTER_DESCRIPTOR) == 80, "PCFILTER_DESCRIPTOR layout");

// ---------------------------------------------------------------------------------------------
// Resource lists

DEFINE_GUID(IID_IResourceList, 0x22C6AC60L, 0x851B, 0x11D0, 0x9A, 0x7F, 0x00, 0xAA, 0x00, 0x38,
            0xAC, 0xFE);

#undef INTERFACE
#define INTERFACE IResourceList
DECLARE_INTERFACE_(IResourceList, IUnknown)
{
    DEFINE_ABSTRACT_UNKNOWN()
    STDMETHOD_(ULONG, NumberOfEntries)(THIS) PURE;
    STDMETHOD_(ULONG, NumberOfEntriesOfType)(THIS_ CM_RESOURCE_TYPE Type) PURE;
    STDMETHOD_(PCM_PARTIAL_RESOURCE_DESCRIPTOR, FindTranslatedEntry)
    (THIS_ CM_RESOURCE_TYPE Type, ULONG Index) PURE;
    STDMETHOD_(PCM_PARTIAL_RESOURCE_DESCRIPTOR, FindUntranslatedEntry)
    (THIS_ CM_RESOURCE_TYPE Type, ULONG Index) PURE;
    STDMETHOD_(NTSTATUS, AddEntry)
    (THIS_ PCM_PARTIAL_RESOURCE_DESCRIPTOR Translated, PCM_PARTIAL_RESOURCE_DESCRIPTOR Untranslated)
        PURE;
    STDMETHOD_(NTSTATUS, AddEntryFromParent)
    (THIS_ IResourceList * Parent, CM_RESOURCE_TYPE Type, ULONG Index) PURE;
    STDMETHOD_(PCM_RESOURCE_LIST, TranslatedList)(THIS) PURE;
    STDMETHOD_(PCM_RESOURCE_LIST, UntranslatedList)(THIS) PURE;
};
#undef INTERFACE
typedef IResourceList *PRESOURCELIST;

// Entries of one resource type.
#define NumberOfPorts() NumberOfEntriesOfType(CmResourceTypePort)
#define FindTranslatedPort(n) FindTranslatedEntry(CmResourceTypePort, (n))
#define FindUntranslatedPort(n) FindUntranslatedEntry(CmResourceTypePort, (n))
#define AddPortFromParent(p, n) AddEntryFromParent((p), CmResourceTypePort, (n))
#define NumberOfInterrupts() NumberOfEntriesOfType(CmResourceTypeInterrupt)
#define FindTranslatedInterrupt(n) FindTranslatedEntry(CmResourceTypeInterrupt, (n))
#define FindUntranslatedInterrupt(n) FindUntranslatedEntry(CmResourceTypeInterrupt, (n))
#define AddInterruptFromParent(p, n) AddEntryFromParent((p), CmResourceTypeInterrupt, (n))
#define NumberOfMemories() NumberOfEntriesOfType(CmResourceTypeMemory)
#define FindTranslatedMemory(n) FindTranslatedEntry(CmResourceTypeMemory, (n))
#define FindUntranslatedMemory(n) FindUntranslatedEntry(CmResourceTypeMemory, (n))
#define AddMemoryFromParent(p, n) AddEntryFromParent((p), CmResourceTypeMemory, (n))
#define NumberOfDmas() NumberOfEntriesOfType(CmResourceTypeDma)
#define FindTranslatedDma(n) FindTranslatedEntry(CmResourceTypeDma, (n))
#define FindUntranslatedDma(n) FindUntranslatedEntry(CmResourceTypeDma, (n))

// clang-format off
#define IMP_IResourceList                                                                          \
    STDMETHODIMP_(ULONG) NumberOfEntries(void);                                                    \
    STDMETHODIMP_(ULONG) NumberOfEntriesOfType(CM_RESOURCE_TYPE Type);                             \
    STDMETHODIMP_(PCM_PARTIAL_RESOURCE_DESCRIPTOR) FindTranslatedEntry(CM_RESOURCE_TYPE Type,      \
                                                                       ULONG Index);               \
    STDMETHODIMP_(PCM_PARTIAL_RESOURCE_DESCRIPTOR) FindUntranslatedEntry(CM_RESOURCE_TYPE Type,    \
                                                                         ULONG Index);             \
    STDMETHODIMP_(NTSTATUS) AddEntry(PCM_PARTIAL_RESOURCE_DESCRIPTOR Translated,                   \
                                     PCM_PARTIAL_RESOURCE_DESCRIPTOR Untranslated);                \
    STDMETHODIMP_(NTSTATUS) AddEntryFromParent(IResourceList *Parent, CM_RESOURCE_TYPE Type,       \
                                               ULONG Index);                                       \
    STDMETHODIMP_(PCM_RESOURCE_LIST) TranslatedList(void);                                         \
    STDMETHODIMP_(PCM_RESOURCE_LIST) UntranslatedList(void);
// clang-format on

// ---------------------------------------------------------------------------------------------
// Service sinks and groups: RequestService on a group calls RequestService of every member.

DEFINE_GUID(IID_IServiceSink, 0x22C6AC64L, 0x851B, 0x11D0, 0x9A, 0x7F, 0x00, 0xAA, 0x00, 0x38, 0xAC,
            0xFE);

#define INTERFACE IServiceSink
DECLARE_INTERFACE_(IServiceSink, IUnknown)
{
    DEFINE_ABSTRACT_UNKNOWN()
    STDMETHOD_(void, RequestService)(THIS) PURE;
};
#undef INTERFACE
typedef IServiceSink *PSERVICESINK;

#define IMP_IServiceSink STDMETHODIMP_(void) RequestService(void);

DEFINE_GUID(IID_IServiceGroup, 0x22C6AC65L, 0x851B, 0x11D0, 0x9A, 0x7F, 0x00, 0xAA, 0x00, 0x38,
            0xAC, 0xFE);

#define INTERFACE IServiceGroup
DECLARE_INTERFACE_(IServiceGroup, IServiceSink)
{
    DEFINE_ABSTRACT_UNKNOWN()
    STDMETHOD_(void, RequestService)(THIS) PURE; // IServiceSink
    STDMETHOD_(NTSTATUS, AddMember)(THIS_ PSERVICESINK pServiceSink) PURE;
    STDMETHOD_(void, RemoveMember)(THIS_ PSERVICESINK pServiceSink) PURE;
    STDMETHOD_(void, SupportDelayedService)(THIS) PURE;
    STDMETHOD_(void, RequestDelayedService)(THIS_ ULONGLONG ullDelay) PURE;
    STDMETHOD_(void, CancelDelayedService)(THIS) PURE;
};
#undef INTERFACE
typedef IServiceGroup *PSERVICEGROUP;

// clang-format off
#define IMP_IServiceGroup                                                                          \
    IMP_IServiceSink;                                                                              \
    STDMETHODIMP_(NTSTATUS) AddMember(PSERVICESINK pServiceSink);                                  \
    STDMETHODIMP_(void) RemoveMember(PSERVICESINK pServiceSink);                                   \
    STDMETHODIMP_(void) SupportDelayedService(void);                                               \
    STDMETHODIMP_(void) RequestDelayedService(ULONGLONG ullDelay);                                 \
    STDMETHODIMP_(void) CancelDelayedService(void);
// clang-format on

// ---------------------------------------------------------------------------------------------
// Subdevice unregistration

DEFINE_GUID(IID_IUnregisterSubdevice, 0x16738177L, 0xe199, 0x41f9, 0x9a, 0x87, 0xab, 0xb2, 0xa5,
            0x43, 0x2f, 0x21);

#define INTERFACE IUnregisterSubdevice
DECLARE_INTERFACE_(IUnregisterSubdevice, IUnknown)
{
    DEFINE_ABSTRACT_UNKNOWN()
    STDMETHOD_(NTSTATUS, UnregisterSubdevice)
    (THIS_ PDEVICE_OBJECT DeviceObject, PUNKNOWN Unknown) PURE;
};
#undef INTERFACE
typedef IUnregisterSubdevice *PUNREGISTERSUBDEVICE;

#define IMP_IUnregisterSubdevice                                                                   \
    STDMETHODIMP_(NTSTATUS) UnregisterSubdevice(PDEVICE_OBJECT DeviceObject, PUNKNOWN Unknown)

// ---------------------------------------------------------------------------------------------
// DMA channels: the cyclic buffer a WaveCyclic stream hands to its port

// clang-format off
#define DEFINE_ABSTRACT_DMACHANNEL()                                                               \
    STDMETHOD_(NTSTATUS, AllocateBuffer)(THIS_ ULONG BufferSize,                                   \
                                         PPHYSICAL_ADDRESS PhysicalAddressConstraint) PURE;        \
    STDMETHOD_(void, FreeBuffer)(THIS) PURE;                                                       \
    STDMETHOD_(ULONG, TransferCount)(THIS) PURE;                                                   \
    STDMETHOD_(ULONG, MaximumBufferSize)(THIS) PURE;                                               \
    STDMETHOD_(ULONG, AllocatedBufferSize)(THIS) PURE;                                             \
    STDMETHOD_(ULONG, BufferSize)(THIS) PURE;                                                      \
    STDMETHOD_(void, SetBufferSize)(THIS_ ULONG BufferSize) PURE;                                  \
    STDMETHOD_(PVOID, SystemAddress)(THIS) PURE;                                                   \
    STDMETHOD_(PHYSICAL_ADDRESS, PhysicalAddress)(THIS) PURE;                                      \
    STDMETHOD_(PADAPTER_OBJECT, GetAdapterObject)(THIS) PURE;                                      \
    STDMETHOD_(void, CopyTo)(THIS_ PVOID Destination, PVOID Source, ULONG ByteCount) PURE;         \
    STDMETHOD_(void, CopyFrom)(THIS_ PVOID Destination, PVOID Source, ULONG ByteCount) PURE;

#define IMP_IDmaChannel                                                                            \
    STDMETHODIMP_(NTSTATUS) AllocateBuffer(ULONG BufferSize,                                       \
                                           PPHYSICAL_ADDRESS PhysicalAddressConstraint);           \
    STDMETHODIMP_(void) FreeBuffer(void);                                                          \
    STDMETHODIMP_(ULONG) TransferCount(void);                                                      \
    STDMETHODIMP_(ULONG) MaximumBufferSize(void);                                                  \
    STDMETHODIMP_(ULONG) AllocatedBufferSize(void);                                                \
    STDMETHODIMP_(ULONG) BufferSize(void);                                                         \
    STDMETHODIMP_(void) SetBufferSize(ULONG BufferSize);                                           \
    STDMETHODIMP_(PVOID) SystemAddress(void);                                                      \
    STDMETHODIMP_(PHYSICAL_ADDRESS) PhysicalAddress(void);                                         \
    STDMETHODIMP_(PADAPTER_OBJECT) GetAdapterObject(void);                                         \
    STDMETHODIMP_(void) CopyTo(PVOID Destination, PVOID Source, ULONG ByteCount);                  \
    STDMETHODIMP_(void) CopyFrom(PVOID Destination, PVOID Source, ULONG ByteCount)
// clang-format on

DEFINE_GUID(IID_IDmaChannel, 0x22C6AC61L, 0x851B, 0x11D0, 0x9A, 0x7F, 0x00, 0xAA, 0x00, 0x38, 0xAC,
            0xFE);

#define INTERFACE IDmaChannel
// clang-format off
DECLARE_INTERFACE_(IDmaChannel, IUnknown)
{
    DEFINE_ABSTRACT_UNKNOWN()
    DEFINE_ABSTRACT_DMACHANNEL()
};
// clang-format on
#undef INTERFACE
typedef IDmaChannel *PDMACHANNEL;

// clang-format off
#define DEFINE_ABSTRACT_DMACHANNELSLAVE()                                                          \
    STDMETHOD_(NTSTATUS, Start)(THIS_ ULONG MapSize, BOOLEAN WriteToDevice) PURE;                  \
    STDMETHOD_(NTSTATUS, Stop)(THIS) PURE;                                                         \
    STDMETHOD_(ULONG, ReadCounter)(THIS) PURE;                                                     \
    STDMETHOD_(NTSTATUS, WaitForTC)(THIS_ ULONG Timeout) PURE;

#define IMP_IDmaChannelSlave                                                                       \
    IMP_IDmaChannel;                                                                               \
    STDMETHODIMP_(NTSTATUS) Start(ULONG MapSize, BOOLEAN WriteToDevice);                           \
    STDMETHODIMP_(NTSTATUS) Stop(void);                                                            \
    STDMETHODIMP_(ULONG) ReadCounter(void);                                                        \
    STDMETHODIMP_(NTSTATUS) WaitForTC(ULONG Timeout)
// clang-format on

// The WDK names no IID for the slave channel on Vista and later.
#define INTERFACE IDmaChannelSlave
// clang-format off
DECLARE_INTERFACE_(IDmaChannelSlave, IDmaChannel)
{
    DEFINE_ABSTRACT_UNKNOWN()
    DEFINE_ABSTRACT_DMACHANNEL()
    DEFINE_ABSTRACT_DMACHANNELSLAVE()
};
// clang-format on
#undef INTERFACE
typedef IDmaChannelSlave *PDMACHANNELSLAVE;

// ---------------------------------------------------------------------------------------------
// Registry keys a port opens for its miniport

enum {
    GeneralRegistryKey,
    DeviceRegistryKey,
    DriverRegistryKey,
    HwProfileRegistryKey,
    DeviceInterfaceRegistryKey
};

DEFINE_GUID(IID_IRegistryKey, 0xE8DA4302l, 0xF304, 0x11D0, 0x95, 0x8B, 0x00, 0xC0, 0x4F, 0xB9, 0x25,
            0xD3);

#define INTERFACE IRegistryKey
DECLARE_INTERFACE_(IRegistryKey, IUnknown)
{
    DEFINE_ABSTRACT_UNKNOWN()
    STDMETHOD_(NTSTATUS, QueryKey)
    (THIS_ KEY_INFORMATION_CLASS KeyInformationClass, PVOID KeyInformation, ULONG Length,
     PULONG ResultLength) PURE;
    STDMETHOD_(NTSTATUS, EnumerateKey)
    (THIS_ ULONG Index, KEY_INFORMATION_CLASS KeyInformationClass, PVOID KeyInformation,
     ULONG Length, PULONG ResultLength) PURE;
    STDMETHOD_(NTSTATUS, QueryValueKey)
    (THIS_ PUNICODE_STRING ValueName, KEY_VALUE_INFORMATION_CLASS KeyValueInformationClass,
     PVOID KeyValueInformation, ULONG Length, PULONG ResultLength) PURE;
    STDMETHOD_(NTSTATUS, EnumerateValueKey)
    (THIS_ ULONG Index, KEY_VALUE_INFORMATION_CLASS KeyValueInformationClass,
     PVOID KeyValueInformation, ULONG Length, PULONG ResultLength) PURE;
    STDMETHOD_(NTSTATUS, SetValueKey)
    (THIS_ PUNICODE_STRING ValueName, ULONG Type, PVOID Data, ULONG DataSize) PURE;
    STDMETHOD_(NTSTATUS, QueryRegistryValues)
    (THIS_ PRTL_QUERY_REGISTRY_TABLE QueryTable, PVOID Context) PURE;
    STDMETHOD_(NTSTATUS, NewSubKey)
    (THIS_ IRegistryKey * *RegistrySubKey, PUNKNOWN OuterUnknown, ACCESS_MASK DesiredAccess,
     PUNICODE_STRING SubKeyName, ULONG CreateOptions, PULONG Disposition) PURE;
    STDMETHOD_(NTSTATUS, DeleteKey)(THIS) PURE;
};
#undef INTERFACE
typedef IRegistryKey *PREGISTRYKEY;

// ---------------------------------------------------------------------------------------------
// Ports and miniports

DEFINE_GUID(IID_IMiniport, 0xb4c90a24L, 0x5791, 0x11d0, 0x86, 0xf9, 0x00, 0xa0, 0xc9, 0x11, 0xb5,
            0x44);
DEFINE_GUID(IID_IMiniPort, 0xb4c90a24L, 0x5791, 0x11d0, 0x86, 0xf9, 0x00, 0xa0, 0xc9, 0x11, 0xb5,
            0x44);
DEFINE_GUID(IID_IPort, 0xb4c90a25L, 0x5791, 0x11d0, 0x86, 0xf9, 0x00, 0xa0, 0xc9, 0x11, 0xb5, 0x44);

// clang-format off
#define DEFINE_ABSTRACT_PORT()                                                                     \
    STDMETHOD_(NTSTATUS, Init)(THIS_ PDEVICE_OBJECT DeviceObject, PIRP Irp,                        \
                               PUNKNOWN UnknownMiniport, PUNKNOWN UnknownAdapter,                  \
                               PRESOURCELIST ResourceList) PURE;                                   \
    STDMETHOD_(NTSTATUS, GetDeviceProperty)(THIS_ DEVICE_REGISTRY_PROPERTY DeviceProperty,         \
                                            ULONG BufferLength, PVOID PropertyBuffer,              \
                                            PULONG ResultLength) PURE;                             \
    STDMETHOD_(NTSTATUS, NewRegistryKey)(THIS_ PREGISTRYKEY * OutRegistryKey,                      \
                                         PUNKNOWN OuterUnknown, ULONG RegistryKeyType,             \
                                         ACCESS_MASK DesiredAccess,                                \
                                         POBJECT_ATTRIBUTES ObjectAttributes,                      \
                                         ULONG CreateOptiona, PULONG Disposition) PURE;

// The port's own implementation macros, as the WDK offers them only to the port class driver.
#ifdef PC_IMPLEMENTATION
#define IMP_IPort                                                                                  \
    STDMETHODIMP_(NTSTATUS) Init(PDEVICE_OBJECT DeviceObject, PIRP Irp, PUNKNOWN UnknownMiniport,  \
                                 PUNKNOWN UnknownAdapter, PRESOURCELIST ResourceList);             \
    STDMETHODIMP_(NTSTATUS) GetDeviceProperty(DEVICE_REGISTRY_PROPERTY DeviceProperty,             \
                                              ULONG BufferLength, PVOID PropertyBuffer,            \
                                              PULONG ResultLength);                                \
    STDMETHODIMP_(NTSTATUS) NewRegistryKey(PREGISTRYKEY *OutRegistryKey, PUNKNOWN OuterUnknown,    \
                                           ULONG RegistryKeyType, ACCESS_MASK DesiredAccess,       \
                                           POBJECT_ATTRIBUTES ObjectAttributes,                    \
                                           ULONG CreateOptions, PULONG Disposition)
#endif
// clang-format on

#define INTERFACE IPort
DECLARE_INTERFACE_(IPort, IUnknown){DEFINE_ABSTRACT_UNKNOWN() DEFINE_ABSTRACT_PORT()};
#undef INTERFACE
typedef IPort *PPORT;

DEFINE_GUID(IID_IPortWaveCyclic, 0xb4c90a26L, 0x5791, 0x11d0, 0x86, 0xf9, 0x00, 0xa0, 0xc9, 0x11,
            0xb5, 0x44);
DEFINE_GUID(CLSID_PortWaveCyclic, 0xb4c90a2aL, 0x5791, 0x11d0, 0x86, 0xf9, 0x00, 0xa0, 0xc9, 0x11,
            0xb5, 0x44);

#define INTERFACE IPortWaveCyclic
DECLARE_INTERFACE_(IPortWaveCyclic, IPort)
{
    DEFINE_ABSTRACT_UNKNOWN()
    DEFINE_ABSTRACT_PORT()
    STDMETHOD_(VOID, Notify)(THIS_ PSERVICEGROUP ServiceGroup) PURE;
    STDMETHOD_(NTSTATUS, NewSlaveDmaChannel)
    (THIS_ PDMACHANNELSLAVE * DmaChannel, PUNKNOWN OuterUnknown, PRESOURCELIST ResourceList,
     ULONG DmaIndex, ULONG MaximumLength, BOOLEAN DemandMode, DMA_SPEED DmaSpeed) PURE;
    STDMETHOD_(NTSTATUS, NewMasterDmaChannel)
    (THIS_ PDMACHANNEL * DmaChannel, PUNKNOWN OuterUnknown, PRESOURCELIST ResourceList,
     ULONG MaximumLength, BOOLEAN Dma32BitAddresses, BOOLEAN Dma64BitAddresses, DMA_WIDTH DmaWidth,
     DMA_SPEED DmaSpeed) PURE;
};
#undef INTERFACE
typedef IPortWaveCyclic *PPORTWAVECYCLIC;

// clang-format off
#ifdef PC_IMPLEMENTATION
#define IMP_IPortWaveCyclic                                                                        \
    IMP_IPort;                                                                                     \
    STDMETHODIMP_(VOID) Notify(PSERVICEGROUP ServiceGroup);                                        \
    STDMETHODIMP_(NTSTATUS) NewSlaveDmaChannel(PDMACHANNELSLAVE *DmaChannel,                       \
                                               PUNKNOWN OuterUnknown, PRESOURCELIST ResourceList,  \
                                               ULONG DmaIndex, ULONG MaximumLength,                \
                                               BOOLEAN DemandMode, DMA_SPEED DmaSpeed);            \
    STDMETHODIMP_(NTSTATUS) NewMasterDmaChannel(PDMACHANNEL *DmaChannel, PUNKNOWN OuterUnknown,    \
                                                PRESOURCELIST ResourceList, ULONG MaximumLength,   \
                                                BOOLEAN Dma32BitAddresses,                         \
                                                BOOLEAN Dma64BitAddresses, DMA_WIDTH DmaWidth,     \
                                                DMA_SPEED DmaSpeed)
#endif

#define DEFINE_ABSTRACT_MINIPORT()                                                                 \
    STDMETHOD_(NTSTATUS, GetDescription)(THIS_ PPCFILTER_DESCRIPTOR * Description) PURE;           \
    STDMETHOD_(NTSTATUS, DataRangeIntersection)(THIS_ ULONG PinId, PKSDATARANGE DataRange,         \
                                                PKSDATARANGE MatchingDataRange,                    \
                                                ULONG OutputBufferLength, PVOID ResultantFormat,   \
                                                PULONG ResultantFormatLength) PURE;

#define IMP_IMiniport                                                                              \
    STDMETHODIMP_(NTSTATUS) GetDescription(PPCFILTER_DESCRIPTOR *Description);                     \
    STDMETHODIMP_(NTSTATUS) DataRangeIntersection(ULONG PinId, PKSDATARANGE DataRange,             \
                                                  PKSDATARANGE MatchingDataRange,                  \
                                                  ULONG OutputBufferLength,                        \
                                                  PVOID ResultantFormat,                           \
                                                  PULONG ResultantFormatLength)
// clang-format on

#define INTERFACE IMiniport
DECLARE_INTERFACE_(IMiniport, IUnknown){DEFINE_ABSTRACT_UNKNOWN() DEFINE_ABSTRACT_MINIPORT()};
#undef INTERFACE
typedef IMiniport *PMINIPORT;

DEFINE_GUID(IID_IMiniportWaveCyclicStream, 0xb4c90a28L, 0x5791, 0x11d0, 0x86, 0xf9, 0x00, 0xa0,
            0xc9, 0x11, 0xb5, 0x44);

#define INTERFACE IMiniportWaveCyclicStream
DECLARE_INTERFACE_(IMiniportWaveCyclicStream, IUnknown)
{
    DEFINE_ABSTRACT_UNKNOWN()
    STDMETHOD_(NTSTATUS, SetFormat)(THIS_ PKSDATAFORMAT DataFormat) PURE;
    STDMETHOD_(ULONG, SetNotificationFreq)(THIS_ ULONG Interval, PULONG FrameSize) PURE;
    STDMETHOD_(NTSTATUS, SetState)(THIS_ KSSTATE State) PURE;
    STDMETHOD_(NTSTATUS, GetPosition)(THIS_ PULONG Position) PURE;
    STDMETHOD_(NTSTATUS, NormalizePhysicalPosition)(THIS_ PLONGLONG PhysicalPosition) PURE;
    STDMETHOD_(void, Silence)(THIS_ PVOID Buffer, ULONG ByteCount) PURE;
};
#undef INTERFACE
typedef IMiniportWaveCyclicStream *PMINIPORTWAVECYCLICSTREAM;

// clang-format off
#define IMP_IMiniportWaveCyclicStream                                                              \
    STDMETHODIMP_(NTSTATUS) SetFormat(PKSDATAFORMAT DataFormat);                                   \
    STDMETHODIMP_(ULONG) SetNotificationFreq(ULONG Interval, PULONG FrameSize);                    \
    STDMETHODIMP_(NTSTATUS) SetState(KSSTATE State);                                               \
    STDMETHODIMP_(NTSTATUS) GetPosition(PULONG Position);                                          \
    STDMETHODIMP_(NTSTATUS) NormalizePhysicalPosition(PLONGLONG PhysicalPosition);                 \
    STDMETHODIMP_(void) Silence(PVOID Buffer, ULONG ByteCount)
// clang-format on

DEFINE_GUID(IID_IMiniportWaveCyclic, 0xb4c90a27L, 0x5791, 0x11d0, 0x86, 0xf9, 0x00, 0xa0, 0xc9,
            0x11, 0xb5, 0x44);

#define INTERFACE IMiniportWaveCyclic
DECLARE_INTERFACE_(IMiniportWaveCyclic, IMiniport)
{
    DEFINE_ABSTRACT_UNKNOWN()
    DEFINE_ABSTRACT_MINIPORT()
    STDMETHOD_(NTSTATUS, Init)
    (THIS_ PUNKNOWN UnknownAdapter, PRESOURCELIST ResourceList, PPORTWAVECYCLIC Port) PURE;
    STDMETHOD_(NTSTATUS, NewStream)
    (THIS_ PMINIPORTWAVECYCLICSTREAM * Stream, PUNKNOWN OuterUnknown, POOL_TYPE PoolType, ULONG Pin,
     BOOLEAN Capture, PKSDATAFORMAT DataFormat, PDMACHANNEL * DmaChannel,
     PSERVICEGROUP * ServiceGroup) PURE;
};
#undef INTERFACE
typedef IMiniportWaveCyclic *PMINIPORTWAVECYCLIC;

// clang-format off
#define IMP_IMiniportWaveCyclic                                                                    \
    IMP_IMiniport;                                                                                 \
    STDMETHODIMP_(NTSTATUS) Init(PUNKNOWN UnknownAdapter, PRESOURCELIST ResourceList,              \
                                 PPORTWAVECYCLIC Port);                                            \
    STDMETHODIMP_(NTSTATUS) NewStream(PMINIPORTWAVECYCLICSTREAM *Stream, PUNKNOWN OuterUnknown,    \
                                      POOL_TYPE PoolType, ULONG Pin, BOOLEAN Capture,              \
                                      PKSDATAFORMAT DataFormat, PDMACHANNEL *DmaChannel,           \
                                      PSERVICEGROUP *ServiceGroup)
// clang-format on

// ---------------------------------------------------------------------------------------------
// Power management: the adapter's (registered with PcRegisterAdapterPowerManagement) and a
// miniport's (found by the port through QueryInterface)

DEFINE_GUID(IID_IAdapterPowerManagement, 0x793417D0L, 0x35FE, 0x11D1, 0xAD, 0x08, 0x00, 0xA0, 0xC9,
            0x0A, 0xB1, 0xB0);

#define INTERFACE IAdapterPowerManagement
DECLARE_INTERFACE_(IAdapterPowerManagement, IUnknown)
{
    DEFINE_ABSTRACT_UNKNOWN()
    STDMETHOD_(void, PowerChangeState)(THIS_ POWER_STATE NewState) PURE;
    STDMETHOD_(NTSTATUS, QueryPowerChangeState)(THIS_ POWER_STATE NewStateQuery) PURE;
    STDMETHOD_(NTSTATUS, QueryDeviceCapabilities)(THIS_ PDEVICE_CAPABILITIES PowerDeviceCaps) PURE;
};
#undef INTERFACE
typedef IAdapterPowerManagement *PADAPTERPOWERMANAGEMENT;

// clang-format off
#define IMP_IAdapterPowerManagement                                                                \
    STDMETHODIMP_(void) PowerChangeState(POWER_STATE NewState);                                    \
    STDMETHODIMP_(NTSTATUS) QueryPowerChangeState(POWER_STATE NewStateQuery);                      \
    STDMETHODIMP_(NTSTATUS) QueryDeviceCapabilities(PDEVICE_CAPABILITIES PowerDeviceCaps)
// clang-format on

DEFINE_GUID(IID_IPowerNotify, 0x3DD648B8L, 0x969F, 0x11D1, 0x95, 0xA9, 0x00, 0xC0, 0x4F, 0xB9, 0x25,
            0xD3);

#define INTERFACE IPowerNotify
DECLARE_INTERFACE_(IPowerNotify, IUnknown)
{
    DEFINE_ABSTRACT_UNKNOWN()
    STDMETHOD_(void, PowerChangeNotify)(THIS_ POWER_STATE PowerState) PURE;
};
#undef INTERFACE
typedef IPowerNotify *PPOWERNOTIFY;

// Lets a miniport adjust the instance counts the port reports and enforces for a pin.
DEFINE_GUID(IID_IPinCount, 0x5dadb7dcL, 0xa2cb, 0x4540, 0xa4, 0xa8, 0x42, 0x5e, 0xe4, 0xae, 0x90,
            0x51);

#define INTERFACE IPinCount
DECLARE_INTERFACE_(IPinCount, IUnknown)
{
    DEFINE_ABSTRACT_UNKNOWN()
    STDMETHOD_(void, PinCount)
    (THIS_ ULONG PinId, PULONG FilterNecessary, PULONG FilterCurrent, PULONG FilterPossible,
     PULONG GlobalCurrent, PULONG GlobalPossible) PURE;
};
#undef INTERFACE
typedef IPinCount *PPINCOUNT;

// ---------------------------------------------------------------------------------------------
// Entry points of the port class driver

// Called by the port class driver for IRP_MN_START_DEVICE.
typedef NTSTATUS(NTAPI *PCPFNSTARTDEVICE)(PDEVICE_OBJECT DeviceObject, PIRP Irp,
                                          PRESOURCELIST ResourceList);

extern "C" {
NTSTATUS NTAPI PcInitializeAdapterDriver(PDRIVER_OBJECT DriverObject,
                                         PUNICODE_STRING RegistryPathName,
                                         PDRIVER_ADD_DEVICE AddDevice);
NTSTATUS NTAPI PcAddAdapterDevice(PDRIVER_OBJECT DriverObject, PDEVICE_OBJECT PhysicalDeviceObject,
                                  PCPFNSTARTDEVICE StartDevice, ULONG MaxObjects,
                                  ULONG DeviceExtensionSize);
NTSTATUS NTAPI PcDispatchIrp(PDEVICE_OBJECT DeviceObject, PIRP Irp);
NTSTATUS NTAPI PcCompleteIrp(PDEVICE_OBJECT DeviceObject, PIRP Irp, NTSTATUS Status);
NTSTATUS NTAPI PcNewPort(PPORT *OutPort, REFCLSID ClassId);
NTSTATUS NTAPI PcNewServiceGroup(PSERVICEGROUP *OutServiceGroup, PUNKNOWN OuterUnknown);
NTSTATUS NTAPI PcRegisterSubdevice(PDEVICE_OBJECT DeviceObject, PWCHAR Name, PUNKNOWN Unknown);
NTSTATUS NTAPI PcRegisterAdapterPowerManagement(PUNKNOWN pUnknown, PVOID pvContext1);
NTSTATUS NTAPI PcGetDeviceProperty(PVOID DeviceObject, DEVICE_REGISTRY_PROPERTY DeviceProperty,
                                   ULONG BufferLength, PVOID PropertyBuffer, PULONG ResultLength);
}
