#include "code_pages.h"

namespace host::win32 {

namespace {

// Windows-1252's 0x80-0x9F, the only range where it differs from Latin-1. The five bytes it
// leaves undefined map to the C1 control of the same value, as Windows converts them.
constexpr char16_t kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

} // namespace

char16_t AnsiCharToWide(unsigned char c)
{
    return c >= 0x80 && c < 0xA0 ? kWindows1252High[c - 0x80] : char16_t(c);
}

bool WideCharToAnsi(char16_t c, unsigned char *out)
{
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
        *out = static_cast<unsigned char>(c);
        return true;
    }
    for (unsigned i = 0; i < 32; ++i) {
        if (kWindows1252High[i] == c) {
            *out = static_cast<unsigned char>(0x80 + i);
            return true;
        }
    }
    return false;
}

std::u16string AnsiToWide(const char *text)
{
    std::u16string wide;
    for (const char *p = text; p != nullptr && *p != '\0'; ++p)
        wide += AnsiCharToWide(static_cast<unsigned char>(*p));
    return wide;
}

std::string WideToAnsi(std::u16string_view text)
{
    std::string ansi;
    for (char16_t c : text) {
        unsigned char byte;
        ansi += WideCharToAnsi(c, &byte) ? char(byte) : '?';
    }
    return ansi;
}

} // namespace host::win32
