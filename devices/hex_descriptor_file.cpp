#include "hex_descriptor_file.h"

#include <fstream>
#include <sstream>

namespace devices {

namespace {

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

} // namespace

bool ParseHexBytes(const std::string &text, Bytes *bytes, std::string *error)
{
    bytes->clear();
    size_t line = 1;
    size_t i = 0;
    while (i < text.size()) {
        if (IsBlank(text[i])) {
            line += text[i] == '\n';
            ++i;
            continue;
        }
        size_t end = i;
        while (end < text.size() && !IsBlank(text[end]))
            ++end;
        const int high = HexDigit(text[i]);
        const int low = end - i == 2 ? HexDigit(text[i + 1]) : -1;
        if (high < 0 || low < 0) {
            *error = "line " + std::to_string(line) + ": '" + text.substr(i, end - i) +
                     "' is not a hex byte";
            return false;
        }
        bytes->push_back(static_cast<UCHAR>(high << 4 | low));
        i = end;
    }
    return true;
}

bool LoadHexFile(const std::string &path, Bytes *bytes, std::string *error)
{
    std::ifstream file(path);
    if (!file) {
        *error = path + ": cannot be opened";
        return false;
    }
    std::ostringstream text;
    text << file.rdbuf();
    if (!ParseHexBytes(text.str(), bytes, error)) {
        *error = path + ": " + *error;
        return false;
    }
    return true;
}

bool LoadDescriptorDump(const std::string &directory, const std::string &name, DescriptorSet *set,
                        std::string *error)
{
    const std::string base = directory + "/" + name;
    if (!LoadHexFile(base + ".dev.hex", &set->device, error) ||
        !LoadHexFile(base + ".cfg.hex", &set->configuration, error))
        return false;
    set->strings = StringTable().Serialise();
    return true;
}

} // namespace devices
