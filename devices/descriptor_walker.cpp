#include "descriptor_walker.h"

#include "usb_constants.h"

#include <algorithm>

namespace devices {

std::vector<DescriptorView> WalkDescriptors(const Bytes &bytes, bool *complete)
{
    std::vector<DescriptorView> views;
    size_t offset = 0;
    while (offset + 2 <= bytes.size()) {
        const UCHAR length = bytes[offset];
        if (length < 2 || offset + length > bytes.size())
            break;
        views.push_back({offset, length, bytes[offset + 1], bytes.data() + offset});
        offset += length;
    }
    if (complete)
        *complete = offset == bytes.size();
    return views;
}

const AlternateLayout *ConfigurationLayout::Find(UCHAR interfaceNumber,
                                                 UCHAR alternateSetting) const
{
    for (const AlternateLayout &alternate : alternates) {
        if (alternate.interfaceNumber == interfaceNumber &&
            alternate.alternateSetting == alternateSetting)
            return &alternate;
    }
    return nullptr;
}

std::vector<UCHAR> ConfigurationLayout::InterfaceNumbers() const
{
    std::vector<UCHAR> numbers;
    for (const AlternateLayout &alternate : alternates) {
        if (std::find(numbers.begin(), numbers.end(), alternate.interfaceNumber) == numbers.end())
            numbers.push_back(alternate.interfaceNumber);
    }
    std::sort(numbers.begin(), numbers.end());
    return numbers;
}

ConfigurationLayout ReadConfigurationLayout(const Bytes &configuration)
{
    ConfigurationLayout layout;
    AlternateLayout *current = nullptr;
    for (const DescriptorView &view : WalkDescriptors(configuration)) {
        switch (view.type) {
        case usb::kConfigurationDescriptor:
            layout.configurationValue = view.Byte(5);
            layout.attributes = view.Byte(7);
            break;
        case usb::kInterfaceDescriptor:
            layout.alternates.push_back(
                {view.Byte(2), view.Byte(3), view.Byte(5), view.Byte(6), {}, {}});
            current = &layout.alternates.back();
            if (!layout.audioControlInterface && current->alternateSetting == 0 &&
                (current->interfaceClass == uac::kAudioClass ||
                 current->interfaceClass == uac::kVendorClass) &&
                current->interfaceSubClass == uac::kSubclassAudioControl)
                layout.audioControlInterface = current->interfaceNumber;
            break;
        case usb::kEndpointDescriptor:
            if (current) {
                current->endpoints.push_back({view.Byte(2), view.Byte(3),
                                              static_cast<USHORT>(view.Word(4)), view.Byte(6),
                                              view.length >= 9 ? view.Byte(8) : UCHAR(0)});
            }
            break;
        case uac::kCsInterface:
            if (current)
                current->classSpecific.push_back(view);
            break;
        default: break;
        }
    }
    if (layout.audioControlInterface) {
        const AlternateLayout *control = layout.Find(*layout.audioControlInterface, 0);
        for (const DescriptorView &view : control->classSpecific) {
            if (view.Subtype() == uac::kHeader)
                layout.audioClass2 = view.Word(3) == 0x0200;
            else
                layout.audioControlEntities.push_back(view);
        }
    }
    return layout;
}

} // namespace devices
