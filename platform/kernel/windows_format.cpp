#include "windows_format.h"

#include "wide_string.h"

#include <cstdio>
#include <string_view>

namespace host {
namespace {

enum class Size { Default, Char, Short, Long, LongLong, Pointer, Wide };

void AppendNarrow(std::string &out, std::string_view s) { out.append(s); }
void AppendNarrow(std::u16string &out, std::string_view s)
{
    for (char c : s)
        out += static_cast<char16_t>(static_cast<unsigned char>(c));
}
void AppendWide(std::string &out, std::u16string_view s) { out += ToUtf8(s); }
void AppendWide(std::u16string &out, std::u16string_view s) { out.append(s); }

struct Spec {
    std::string flags;
    int width = -1;
    int precision = -1;
    Size size = Size::Default;
    bool leftAlign() const { return flags.find('-') != std::string::npos; }
};

// Pads a converted string field to the conversion's width.
template <class Out>
void AppendPadded(Out &out, const Spec &spec, const Out &field)
{
    size_t width = spec.width > 0 ? static_cast<size_t>(spec.width) : 0;
    size_t pad = field.size() < width ? width - field.size() : 0;
    if (!spec.leftAlign())
        out.append(pad, ' ');
    out += field;
    if (spec.leftAlign())
        out.append(pad, ' ');
}

template <class Out>
void AppendNarrowField(Out &out, const Spec &spec, const char *s, size_t n)
{
    if (spec.precision >= 0 && static_cast<size_t>(spec.precision) < n)
        n = static_cast<size_t>(spec.precision);
    Out field;
    AppendNarrow(field, std::string_view(s, n));
    AppendPadded(out, spec, field);
}

template <class Out>
void AppendWideField(Out &out, const Spec &spec, const WCHAR *s, size_t n)
{
    if (spec.precision >= 0 && static_cast<size_t>(spec.precision) < n)
        n = static_cast<size_t>(spec.precision);
    Out field;
    AppendWide(field, ToU16(s, n));
    AppendPadded(out, spec, field);
}

// Numbers go through the C library with an explicit 64-bit argument, so every flag, width and
// precision behaves as in any printf.
template <class Out>
void AppendNumber(Out &out, const Spec &spec, char conversion, va_list &args)
{
    bool isSigned = conversion == 'd' || conversion == 'i';
    unsigned long long bits;
    switch (spec.size) {
    case Size::LongLong:
    case Size::Pointer: bits = va_arg(args, unsigned long long); break;
    default: bits = va_arg(args, unsigned int); break;
    }
    long long value;
    switch (spec.size) {
    case Size::Char:
        value = isSigned ? static_cast<signed char>(bits) : static_cast<unsigned char>(bits);
        break;
    case Size::Short:
        value = isSigned ? static_cast<short>(bits) : static_cast<unsigned short>(bits);
        break;
    case Size::LongLong:
    case Size::Pointer: value = static_cast<long long>(bits); break;
    default:
        value =
            isSigned ? static_cast<int>(bits) : static_cast<long long>(static_cast<unsigned>(bits));
        break;
    }
    std::string format = "%" + spec.flags;
    if (spec.width >= 0)
        format += std::to_string(spec.width);
    if (spec.precision >= 0)
        format += "." + std::to_string(spec.precision);
    format += "ll";
    format += conversion;
    char text[96];
    std::snprintf(text, sizeof text, format.c_str(), value);
    AppendNarrow(out, text);
}

template <class Out>
void AppendFloat(Out &out, const Spec &spec, char conversion, va_list &args)
{
    double value = va_arg(args, double);
    std::string format = "%" + spec.flags;
    if (spec.width >= 0)
        format += std::to_string(spec.width);
    if (spec.precision >= 0)
        format += "." + std::to_string(spec.precision);
    format += conversion;
    char text[512];
    std::snprintf(text, sizeof text, format.c_str(), value);
    AppendNarrow(out, text);
}

// In a wide format the natural string and character are wide; 'h' forces narrow, 'l'/'w' wide.
bool ArgumentIsWide(Size size, bool wideFormat, bool upperCase)
{
    if (size == Size::Short)
        return false;
    if (size == Size::Long || size == Size::Wide)
        return true;
    return wideFormat != upperCase;
}

template <class In, class Out>
Out Format(const In *format, va_list &args)
{
    constexpr bool wideFormat = sizeof(In) == sizeof(WCHAR);
    Out out;
    const In *p = format;
    while (*p != 0) {
        if (*p != '%') {
            out += static_cast<typename Out::value_type>(*p++);
            continue;
        }
        const In *start = p++;
        Spec spec;
        while (*p == '-' || *p == '+' || *p == ' ' || *p == '#' || *p == '0')
            spec.flags += static_cast<char>(*p++);
        if (*p == '*') {
            spec.width = va_arg(args, int);
            if (spec.width < 0) {
                spec.flags += '-';
                spec.width = -spec.width;
            }
            ++p;
        } else {
            for (; *p >= '0' && *p <= '9'; ++p)
                spec.width = (spec.width < 0 ? 0 : spec.width * 10) + (*p - '0');
        }
        if (*p == '.') {
            ++p;
            spec.precision = 0;
            if (*p == '*') {
                spec.precision = va_arg(args, int);
                ++p;
            } else {
                for (; *p >= '0' && *p <= '9'; ++p)
                    spec.precision = spec.precision * 10 + (*p - '0');
            }
        }
        if (p[0] == 'h' && p[1] == 'h') {
            spec.size = Size::Char;
            p += 2;
        } else if (p[0] == 'l' && p[1] == 'l') {
            spec.size = Size::LongLong;
            p += 2;
        } else if (p[0] == 'I' && p[1] == '6' && p[2] == '4') {
            spec.size = Size::LongLong;
            p += 3;
        } else if (p[0] == 'I' && p[1] == '3' && p[2] == '2') {
            spec.size = Size::Long;
            p += 3;
        } else if (*p == 'I' || *p == 'z' || *p == 't' || *p == 'j') {
            spec.size = Size::Pointer;
            ++p;
        } else if (*p == 'h') {
            spec.size = Size::Short;
            ++p;
        } else if (*p == 'l') {
            spec.size = Size::Long;
            ++p;
        } else if (*p == 'w') {
            spec.size = Size::Wide;
            ++p;
        } else if (*p == 'L') {
            ++p;
        }
        const In conversion = *p;
        switch (conversion) {
        case '%': out += '%'; break;
        case 'd':
        case 'i':
        case 'u':
        case 'o':
        case 'x':
        case 'X': AppendNumber(out, spec, static_cast<char>(conversion), args); break;
        case 'e':
        case 'E':
        case 'f':
        case 'F':
        case 'g':
        case 'G':
        case 'a':
        case 'A': AppendFloat(out, spec, static_cast<char>(conversion), args); break;
        case 'p': {
            char text[24];
            std::snprintf(
                text, sizeof text, "%016llX",
                static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(va_arg(args, void *))));
            AppendNarrow(out, text);
            break;
        }
        case 'c':
        case 'C': {
            int c = va_arg(args, int);
            if (ArgumentIsWide(spec.size, wideFormat, conversion == 'C')) {
                WCHAR w = static_cast<WCHAR>(c);
                AppendWideField(out, spec, &w, 1);
            } else {
                char n = static_cast<char>(c);
                AppendNarrowField(out, spec, &n, 1);
            }
            break;
        }
        case 's':
        case 'S': {
            if (ArgumentIsWide(spec.size, wideFormat, conversion == 'S')) {
                const WCHAR *s = va_arg(args, const WCHAR *);
                if (s == nullptr)
                    AppendNarrowField(out, spec, "(null)", 6);
                else
                    AppendWideField(out, spec, s, WideLength(s));
            } else {
                const char *s = va_arg(args, const char *);
                if (s == nullptr)
                    s = "(null)";
                AppendNarrowField(out, spec, s, std::char_traits<char>::length(s));
            }
            break;
        }
        case 'Z': {
            if (spec.size == Size::Wide || spec.size == Size::Long) {
                auto *s = va_arg(args, const UNICODE_STRING *);
                if (s == nullptr || s->Buffer == nullptr)
                    AppendNarrowField(out, spec, "(null)", 6);
                else
                    AppendWideField(out, spec, s->Buffer, s->Length / sizeof(WCHAR));
            } else {
                auto *s = va_arg(args, const ANSI_STRING *);
                if (s == nullptr || s->Buffer == nullptr)
                    AppendNarrowField(out, spec, "(null)", 6);
                else
                    AppendNarrowField(out, spec, s->Buffer, s->Length);
            }
            break;
        }
        default:
            // Unknown or unsupported (%n): the directive is copied as written.
            for (const In *q = start; q != p + (conversion != 0 ? 1 : 0); ++q)
                out += static_cast<typename Out::value_type>(*q);
            break;
        }
        if (conversion == 0)
            break;
        ++p;
    }
    return out;
}

} // namespace

std::string FormatWindows(const char *format, va_list args)
{
    va_list copy;
    va_copy(copy, args);
    std::string out = Format<char, std::string>(format, copy);
    va_end(copy);
    return out;
}

std::u16string FormatWindows(const WCHAR *format, va_list args)
{
    va_list copy;
    va_copy(copy, args);
    std::u16string out = Format<WCHAR, std::u16string>(format, copy);
    va_end(copy);
    return out;
}

} // namespace host
