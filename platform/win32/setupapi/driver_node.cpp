#include "driver_node.h"

#include <algorithm>
#include <cstring>

namespace host::win32 {

namespace {

void CopyName(const std::string &from, CHAR (&to)[LINE_LEN])
{
    size_t size = std::min(from.size(), size_t(LINE_LEN - 1));
    std::memcpy(to, from.data(), size);
    to[size] = '\0';
}

} // namespace

void DescribeDriver(const DriverNode &node, DWORD type, size_t index, PSP_DRVINFO_DATA_A data)
{
    data->DriverType = type;
    data->Reserved = index + 1;
    CopyName(node.description, data->Description);
    CopyName(node.manufacturer, data->MfgName);
    CopyName(node.provider, data->ProviderName);
    // Version 1 of the structure ends before the date.
    if (data->cbSize == sizeof(SP_DRVINFO_DATA_V2_A)) {
        data->DriverDate = node.date;
        data->DriverVersion = node.version;
    }
}

DriverNode *FindDriver(std::vector<DriverNode> &list, const SP_DRVINFO_DATA_A &data)
{
    if (data.Reserved != 0)
        return data.Reserved <= list.size() ? &list[data.Reserved - 1] : nullptr;
    auto same = [](const std::string &name, const CHAR(&field)[LINE_LEN]) {
        return name.substr(0, LINE_LEN - 1) == std::string(field, strnlen(field, LINE_LEN));
    };
    for (DriverNode &node : list)
        if (same(node.description, data.Description) && same(node.manufacturer, data.MfgName) &&
            same(node.provider, data.ProviderName))
            return &node;
    return nullptr;
}

} // namespace host::win32
