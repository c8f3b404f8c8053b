// Host version of <usbdlib.h>: the USBD library a client driver links with: configuration
// descriptor parsing, the select-configuration request builder, and the macros that fill URBs.
// The host implementation lives in platform/usb/usbd_helpers.cpp.
#pragma once

#include "usbdi.h"

typedef struct _USBD_INTERFACE_LIST_ENTRY {
    PUSB_INTERFACE_DESCRIPTOR InterfaceDescriptor; // null ends the list
    PUSBD_INTERFACE_INFORMATION Interface;         // filled by USBD_CreateConfigurationRequestEx
} USBD_INTERFACE_LIST_ENTRY, *PUSBD_INTERFACE_LIST_ENTRY;

static_assert(sizeof(USBD_INTERFACE_LIST_ENTRY) == 16, "USBD_INTERFACE_LIST_ENTRY layout");

// ---------------------------------------------------------------------------------------------
// Sizes of variable-length requests

#define GET_SELECT_CONFIGURATION_REQUEST_SIZE(totalInterfaces, totalPipes)                         \
    (sizeof(struct _URB_SELECT_CONFIGURATION) +                                                    \
     (((totalInterfaces)-1) * sizeof(USBD_INTERFACE_INFORMATION)) +                                \
     (((totalPipes) - (totalInterfaces)) * sizeof(USBD_PIPE_INFORMATION)))

#define GET_SELECT_INTERFACE_REQUEST_SIZE(totalPipes)                                              \
    (sizeof(struct _URB_SELECT_INTERFACE) + (((totalPipes)-1) * sizeof(USBD_PIPE_INFORMATION)))

#define GET_USBD_INTERFACE_SIZE(numEndpoints)                                                      \
    (sizeof(USBD_INTERFACE_INFORMATION) + (sizeof(USBD_PIPE_INFORMATION) * (numEndpoints)) -       \
     sizeof(USBD_PIPE_INFORMATION))

#define GET_ISO_URB_SIZE(n)                                                                        \
    (sizeof(struct _URB_ISOCH_TRANSFER) + sizeof(USBD_ISO_PACKET_DESCRIPTOR) * (n))

// ---------------------------------------------------------------------------------------------
// Request builders

#define UsbBuildInterruptOrBulkTransferRequest(urb, length, pipeHandle, transferBuffer,            \
                                               transferBufferMDL, transferBufferLength,            \
                                               transferFlags, link)                                \
    {                                                                                              \
        (urb)->UrbHeader.Function = URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER;                       \
        (urb)->UrbHeader.Length = (length);                                                        \
        (urb)->UrbBulkOrInterruptTransfer.PipeHandle = (pipeHandle);                               \
        (urb)->UrbBulkOrInterruptTransfer.TransferBufferLength = (transferBufferLength);           \
        (urb)->UrbBulkOrInterruptTransfer.TransferBufferMDL = (transferBufferMDL);                 \
        (urb)->UrbBulkOrInterruptTransfer.TransferBuffer = (transferBuffer);                       \
        (urb)->UrbBulkOrInterruptTransfer.TransferFlags = (transferFlags);                         \
        (urb)->UrbBulkOrInterruptTransfer.UrbLink = (link);                                        \
    }

#define UsbBuildGetDescriptorRequest(urb, length, descriptorType, descriptorIndex, languageId,     \
                                     transferBuffer, transferBufferMDL, transferBufferLength,      \
                                     link)                                                         \
    {                                                                                              \
        (urb)->UrbHeader.Function = URB_FUNCTION_GET_DESCRIPTOR_FROM_DEVICE;                       \
        (urb)->UrbHeader.Length = (length);                                                        \
        (urb)->UrbControlDescriptorRequest.TransferBufferLength = (transferBufferLength);          \
        (urb)->UrbControlDescriptorRequest.TransferBufferMDL = (transferBufferMDL);                \
        (urb)->UrbControlDescriptorRequest.TransferBuffer = (transferBuffer);                      \
        (urb)->UrbControlDescriptorRequest.DescriptorType = (descriptorType);                      \
        (urb)->UrbControlDescriptorRequest.Index = (descriptorIndex);                              \
        (urb)->UrbControlDescriptorRequest.LanguageId = (languageId);                              \
        (urb)->UrbControlDescriptorRequest.UrbLink = (link);                                       \
    }

#define UsbBuildGetStatusRequest(urb, op, index, transferBuffer, transferBufferMDL, link)          \
    {                                                                                              \
        (urb)->UrbHeader.Function = (op);                                                          \
        (urb)->UrbHeader.Length = sizeof(struct _URB_CONTROL_GET_STATUS_REQUEST);                  \
        (urb)->UrbControlGetStatusRequest.TransferBufferLength = sizeof(USHORT);                   \
        (urb)->UrbControlGetStatusRequest.TransferBufferMDL = (transferBufferMDL);                 \
        (urb)->UrbControlGetStatusRequest.TransferBuffer = (transferBuffer);                       \
        (urb)->UrbControlGetStatusRequest.Index = (index);                                         \
        (urb)->UrbControlGetStatusRequest.UrbLink = (link);                                        \
    }

#define UsbBuildFeatureRequest(urb, op, featureSelector, index, link)                              \
    {                                                                                              \
        (urb)->UrbHeader.Function = (op);                                                          \
        (urb)->UrbHeader.Length = sizeof(struct _URB_CONTROL_FEATURE_REQUEST);                     \
        (urb)->UrbControlFeatureRequest.FeatureSelector = (featureSelector);                       \
        (urb)->UrbControlFeatureRequest.Index = (index);                                           \
        (urb)->UrbControlFeatureRequest.UrbLink = (link);                                          \
    }

#define UsbBuildSelectConfigurationRequest(urb, length, configurationDescriptor)                   \
    {                                                                                              \
        (urb)->UrbHeader.Function = URB_FUNCTION_SELECT_CONFIGURATION;                             \
        (urb)->UrbHeader.Length = (length);                                                        \
        (urb)->UrbSelectConfiguration.ConfigurationDescriptor = (configurationDescriptor);         \
    }

#define UsbBuildSelectInterfaceRequest(urb, length, configurationHandle, interfaceNumber,          \
                                       alternateSetting)                                           \
    {                                                                                              \
        (urb)->UrbHeader.Function = URB_FUNCTION_SELECT_INTERFACE;                                 \
        (urb)->UrbHeader.Length = (length);                                                        \
        (urb)->UrbSelectInterface.Interface.AlternateSetting = (alternateSetting);                 \
        (urb)->UrbSelectInterface.Interface.InterfaceNumber = (interfaceNumber);                   \
        (urb)->UrbSelectInterface.Interface.Length =                                               \
            (USHORT)((length) - sizeof(struct _URB_HEADER) - sizeof(USBD_CONFIGURATION_HANDLE));   \
        (urb)->UrbSelectInterface.ConfigurationHandle = (configurationHandle);                     \
    }

#define UsbBuildVendorRequest(urb, cmd, length, transferFlags, reservedBits, request, value,       \
                              index, transferBuffer, transferBufferMDL, transferBufferLength,      \
                              link)                                                                \
    {                                                                                              \
        (urb)->UrbHeader.Function = (cmd);                                                         \
        (urb)->UrbHeader.Length = (length);                                                        \
        (urb)->UrbControlVendorClassRequest.TransferBufferLength = (transferBufferLength);         \
        (urb)->UrbControlVendorClassRequest.TransferBufferMDL = (transferBufferMDL);               \
        (urb)->UrbControlVendorClassRequest.TransferBuffer = (transferBuffer);                     \
        (urb)->UrbControlVendorClassRequest.RequestTypeReservedBits = (reservedBits);              \
        (urb)->UrbControlVendorClassRequest.Request = (request);                                   \
        (urb)->UrbControlVendorClassRequest.Value = (value);                                       \
        (urb)->UrbControlVendorClassRequest.Index = (index);                                       \
        (urb)->UrbControlVendorClassRequest.TransferFlags = (transferFlags);                       \
        (urb)->UrbControlVendorClassRequest.UrbLink = (link);                                      \
    }

// ---------------------------------------------------------------------------------------------
// USBD library (usbd.sys)

extern "C" {

void USBD_GetUSBDIVersion(PUSBD_VERSION_INFORMATION VersionInformation);

// The first descriptor of DescriptorType at or after StartPosition within the TotalLength bytes
// of DescriptorBuffer, or null.
PUSB_COMMON_DESCRIPTOR USBD_ParseDescriptors(PVOID DescriptorBuffer, ULONG TotalLength,
                                             PVOID StartPosition, LONG DescriptorType);

// The first interface descriptor at or after StartPosition that matches every criterion that is
// not -1, or null.
PUSB_INTERFACE_DESCRIPTOR
USBD_ParseConfigurationDescriptorEx(PUSB_CONFIGURATION_DESCRIPTOR ConfigurationDescriptor,
                                    PVOID StartPosition, LONG InterfaceNumber,
                                    LONG AlternateSetting, LONG InterfaceClass,
                                    LONG InterfaceSubClass, LONG InterfaceProtocol);

// A select-configuration URB for the interfaces of InterfaceList (ended by an entry without a
// descriptor), allocated from non-paged pool (the caller frees it with ExFreePool); each
// entry's Interface points at its record in the URB. Null when out of memory.
PURB USBD_CreateConfigurationRequestEx(PUSB_CONFIGURATION_DESCRIPTOR ConfigurationDescriptor,
                                       PUSBD_INTERFACE_LIST_ENTRY InterfaceList);

} // extern "C"
