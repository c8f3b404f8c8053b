// The audio control interface of CUSBAudioCL: finding it (with the device quirk that hides the
// audio interfaces behind the vendor class), the "[DSD]" marker in its string, and its
// class-specific header, which decides the class version and bounds the entity descriptors.
#include "usb/usb_audio_cl.h"

#include "driver_trace.h"
#include "function/usb_audio_descriptor_checks.h"
#include "function/usb_audio_descriptors.h"
#include "usb/usb_device_quirks.h"

namespace {

// The marker a DSD-capable device puts in its audio control interface's name (case matters).
const char DSD_MARKER[] = "[DSD]";
const ULONG DSD_MARKER_LENGTH = sizeof(DSD_MARKER) - 1;

// Whether the UTF-16LE text of Units code units holds the marker.
BOOLEAN TextHasDsdMarker(const UCHAR *Text, ULONG Units)
{
    for (ULONG start = 0; start + DSD_MARKER_LENGTH <= Units; ++start) {
        ULONG matched = 0;
        while (matched < DSD_MARKER_LENGTH &&
               UsbAudioReadUshort(Text + 2 * (start + matched)) == USHORT(DSD_MARKER[matched]))
            ++matched;
        if (matched == DSD_MARKER_LENGTH)
            return TRUE;
    }
    return FALSE;
}

} // namespace

UCHAR CUSBAudioCL::GetAudioInterfaceClass() const
{
    return (Quirks() & USB_QUIRK_VENDOR_CLASS_AUDIO_INTERFACES) != 0 ? USB_VENDOR_INTERFACE_CLASS
                                                                     : USB_AUDIO_INTERFACE_CLASS;
}

PUCHAR CUSBAudioCL::GetNextInterface(PVOID Descriptor) const
{
    auto configuration = reinterpret_cast<PUCHAR>(ConfigurationDescriptor);
    const ULONG total = ConfigurationDescriptor->wTotalLength;
    PUCHAR after = static_cast<PUCHAR>(Descriptor) + static_cast<PUCHAR>(Descriptor)[0];
    auto next = reinterpret_cast<PUCHAR>(
        USBD_ParseDescriptors(configuration, total, after, USB_INTERFACE_DESCRIPTOR_TYPE));
    return next != nullptr ? next : configuration + total;
}

NTSTATUS CUSBAudioCL::FindAudioControlInterface()
{
    PAGED_CODE();
    AudioControlInterface = UsbAudioFindInterface(
        ConfigurationDescriptor, -1, 0, GetAudioInterfaceClass(), USB_AUDIO_SUBCLASS_CONTROL);
    if (AudioControlInterface == nullptr) {
        QuenTrace(TRACE_LEVEL_ERROR, "no audio control interface");
        return STATUS_NOT_SUPPORTED;
    }
    QuenTrace(TRACE_LEVEL_VERBOSE, "audio control interface %u",
              AudioControlInterface->bInterfaceNumber);
    return STATUS_SUCCESS;
}

NTSTATUS CUSBAudioCL::DetectDsdSupport()
{
    PAGED_CODE();
    auto buffer = static_cast<PUCHAR>(
        ExAllocatePoolWithTag(NonPagedPoolNx, USB_STRING_BUFFER_SIZE, USBA_POOL_TAG));
    if (buffer == nullptr)
        return STATUS_INSUFFICIENT_RESOURCES;
    RtlZeroMemory(buffer, USB_STRING_BUFFER_SIZE);
    const NTSTATUS status = GetStringDescriptor(AudioControlInterface->iInterface, buffer);
    if (NT_SUCCESS(status)) {
        // The text is what the descriptor claims and the buffer holds, whichever is less.
        ULONG length = buffer[0];
        if (length > USB_STRING_BUFFER_SIZE)
            length = USB_STRING_BUFFER_SIZE;
        const ULONG units =
            length >= 2 && buffer[1] == USB_STRING_DESCRIPTOR_TYPE ? (length - 2) / 2 : 0;
        DsdCapable = TextHasDsdMarker(buffer + 2, units);
        QuenTrace(TRACE_LEVEL_INFORMATION, "DSD capable: %u", DsdCapable);
    } else {
        QuenTrace(TRACE_LEVEL_WARNING, "interface string %u: 0x%08lX",
                  AudioControlInterface->iInterface, status);
    }
    ExFreePoolWithTag(buffer, USBA_POOL_TAG);
    return status;
}

ULONG CUSBAudioCL::GetClassSpecificLength() const
{
    return UsbAudioReadUshort(ClassSpecificHeader + (IsAudioClass2
                                                         ? USB_AUDIO_HEADER_TOTAL_LENGTH2
                                                         : USB_AUDIO_HEADER_TOTAL_LENGTH1));
}

NTSTATUS CUSBAudioCL::ParseClassSpecificHeader()
{
    PAGED_CODE();
    auto configuration = reinterpret_cast<PUCHAR>(ConfigurationDescriptor);
    auto control = reinterpret_cast<PUCHAR>(AudioControlInterface);
    PUCHAR header = control + control[0];

    // The configuration was checked whole: a descriptor starting before its end lies in it.
    if (header >= configuration + ConfigurationDescriptor->wTotalLength ||
        header[1] != USB_AUDIO_CS_INTERFACE ||
        header[USB_AUDIO_SUBTYPE_OFFSET] != USB_AUDIO_AC_HEADER || !UsbAudioHeaderFits(header)) {
        QuenTrace(TRACE_LEVEL_ERROR, "no class-specific header after the audio control interface");
        return STATUS_NOT_SUPPORTED;
    }
    ClassSpecificHeader = header;
    IsAudioClass2 = UsbAudioReadUshort(header + USB_AUDIO_HEADER_BCD_ADC) == USB_AUDIO_BCD_ADC_2_0;

    const ULONG blockEnd = ULONG(header - configuration) + GetClassSpecificLength();
    const ULONG nextInterface = ULONG(GetNextInterface(control) - configuration);
    if (blockEnd > nextInterface) {
        QuenTrace(TRACE_LEVEL_ERROR,
                  "class-specific block ends at %lu, past the next interface at %lu", blockEnd,
                  nextInterface);
        return STATUS_NOT_SUPPORTED;
    }
    QuenTrace(TRACE_LEVEL_INFORMATION, "Audio Class %s, class-specific block of %lu bytes",
              IsAudioClass2 ? "2.0" : "1.0", GetClassSpecificLength());
    return STATUS_SUCCESS;
}
