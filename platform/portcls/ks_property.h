// Property requests (IOCTL_KS_PROPERTY) on a filter or pin of a port: the request's KSPROPERTY
// (or KSNODEPROPERTY for a node, with KSPROPERTY_TYPE_TOPOLOGY) names a set, an id and one verb.
// The port serves some sets itself; the rest go to the miniport's automation table of the
// object or of the node, as a PCPROPERTY_REQUEST. The dispatcher
// - refuses a request naming no verb or several (STATUS_INVALID_PARAMETER), an unknown set
//   (STATUS_PROPSET_NOT_FOUND) or id (STATUS_NOT_FOUND), a verb the item does not declare
//   (STATUS_INVALID_DEVICE_REQUEST), and an input too short for its header or instance
//   (STATUS_INVALID_BUFFER_SIZE);
// - answers KSPROPERTY_TYPE_SETSUPPORT, and basic support for an item that does not handle it
//   (its access flags, or a KSPROPERTY_DESCRIPTION when the buffer holds one);
// - answers size queries of fixed-size values itself: no buffer gives STATUS_BUFFER_OVERFLOW
//   with the needed size, a short one STATUS_BUFFER_TOO_SMALL;
// - returns as information the value size a miniport handler leaves in its request (for
//   success and for STATUS_BUFFER_OVERFLOW).
// It runs in the caller's thread at PASSIVE_LEVEL; callers serialise requests per object.
#pragma once

#include <portcls.h>

#include <vector>

namespace host {

struct PropertyCall {
    ULONG verb; // KSPROPERTY_TYPE_GET, _SET or _BASICSUPPORT
    const KSPROPERTY *property;
    PVOID instance; // the bytes after the KSPROPERTY (or KSNODEPROPERTY)
    ULONG instanceSize;
    PVOID value;
    ULONG valueSize;
    ULONG_PTR information; // bytes of the value returned, or the size a size query needs
    PIRP irp;
};

// A property the port serves itself. With a fixed value size the dispatcher checks the value
// buffer; with 0 the handler answers size queries itself.
struct PortPropertyItem {
    const GUID *set;
    ULONG id;
    ULONG verbs;
    ULONG minimumInstance;
    ULONG valueSize;
    NTSTATUS (*handler)(void *object, PropertyCall &call);
};

struct PropertyTarget {
    void *object; // what the port's handlers get
    const PortPropertyItem *items;
    size_t itemCount;
    const PCAUTOMATION_TABLE *table;       // the miniport's table for this filter or pin
    const PCFILTER_DESCRIPTOR *descriptor; // its nodes' tables
    PUNKNOWN majorTarget;                  // the miniport
    PUNKNOWN minorTarget;                  // the stream, for a pin
};

// Dispatches an IOCTL_KS_PROPERTY request and completes it; returns its status.
NTSTATUS DispatchProperty(PIRP irp, const PropertyTarget &target);

// Answers a variable-size list value (KSMULTIPLE_ITEM and items) as KS does: no buffer gives
// the size with STATUS_BUFFER_OVERFLOW; a ULONG buffer gets the size; a KSMULTIPLE_ITEM buffer
// the header; a buffer for everything everything; anything else STATUS_BUFFER_TOO_SMALL.
NTSTATUS AnswerMultipleItem(PropertyCall &call, ULONG count, const std::vector<UCHAR> &items);

// Answers a variable-size value given whole: STATUS_BUFFER_OVERFLOW with the size for no
// buffer, STATUS_BUFFER_TOO_SMALL for a short one.
NTSTATUS AnswerValue(PropertyCall &call, const void *bytes, ULONG size);

} // namespace host
