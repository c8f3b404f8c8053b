// The request checks and basic-support replies every property handler of the driver shares.
// A request's ValueSize is the caller's buffer length on entry and the reply's length on
// return.
#pragma once

#include "quen_driver_platform.h"

// Access flags of a property that can be read and written (basic support, get, set).
#define PROPERTY_ACCESS_GET_SET                                                                    \
    (KSPROPERTY_TYPE_BASICSUPPORT | KSPROPERTY_TYPE_GET | KSPROPERTY_TYPE_SET)

// Checks a get or set request for a value of ValueSize bytes and an instance of at least
// InstanceSize bytes. A request with no value buffer length is a size query: ValueSize is set
// and STATUS_BUFFER_OVERFLOW returned.
NTSTATUS ValidatePropertyRequest(PPCPROPERTY_REQUEST Request, ULONG ValueSize, ULONG InstanceSize);

// Basic support that describes no values: the access flags, or a description without members.
NTSTATUS PropertyHandlerBasicSupport(PPCPROPERTY_REQUEST Request, ULONG AccessFlags);

// The part of a basic-support reply all handlers share. A buffer under 4 bytes is too small;
// under a KSPROPERTY_DESCRIPTION it gets the access flags; otherwise the description of
// DescriptionSize bytes with the value type (PropTypeSet, PropTypeId) and MembersListCount. When
// the buffer holds all DescriptionSize bytes, *Members points where the members go (the reply is
// then DescriptionSize bytes, zero-filled); otherwise it is null and the reply ends after the
// header.
NTSTATUS BasicSupportDescription(PPCPROPERTY_REQUEST Request, ULONG AccessFlags,
                                 ULONG DescriptionSize, const GUID *PropTypeSet, ULONG PropTypeId,
                                 ULONG MembersListCount, PUCHAR *Members);
