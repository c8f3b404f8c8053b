#include "wide_string.h"

namespace host {

size_t WideLength(const WCHAR *s)
{
    size_t n = 0;
    while (s[n] != 0)
        ++n;
    return n;
}

std::u16string ToU16(const WCHAR *s) { return ToU16(s, WideLength(s)); }

std::u16string ToU16(const WCHAR *s, size_t count)
{
    std::u16string out(count, u'\0');
    for (size_t i = 0; i < count; ++i)
        out[i] = static_cast<char16_t>(s[i]);
    return out;
}

std::u16string ToU16(const UNICODE_STRING &s)
{
    return s.Buffer == nullptr ? std::u16string() : ToU16(s.Buffer, s.Length / sizeof(WCHAR));
}

void CopyToWide(std::u16string_view from, WCHAR *to)
{
    for (size_t i = 0; i < from.size(); ++i)
        to[i] = static_cast<WCHAR>(from[i]);
}

std::vector<UCHAR> ToUtf16Bytes(std::u16string_view chars)
{
    std::vector<UCHAR> bytes;
    bytes.reserve(chars.size() * 2);
    for (char16_t c : chars) {
        bytes.push_back(static_cast<UCHAR>(c & 0xFF));
        bytes.push_back(static_cast<UCHAR>(c >> 8));
    }
    return bytes;
}

std::u16string FromUtf16Bytes(const std::vector<UCHAR> &bytes)
{
    std::u16string chars(bytes.size() / 2, u'\0');
    for (size_t i = 0; i < chars.size(); ++i)
        chars[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    return chars;
}

char16_t UpcaseChar(char16_t c)
{
    if (c >= u'a' && c <= u'z')
        return static_cast<char16_t>(c - 0x20);
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) // à..þ except ÷
        return static_cast<char16_t>(c - 0x20);
    if (c == 0xFF) // ÿ
        return 0x178;
    return c;
}

std::u16string Upcase(std::u16string_view s)
{
    std::u16string out(s);
    for (char16_t &c : out)
        c = UpcaseChar(c);
    return out;
}

bool EqualIgnoreCase(std::u16string_view a, std::u16string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (UpcaseChar(a[i]) != UpcaseChar(b[i]))
            return false;
    return true;
}

std::string ToUtf8(std::u16string_view s)
{
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        char32_t c = s[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 &&
            s[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::u16string FromUtf8(std::string_view s)
{
    std::u16string out;
    out.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        auto lead = static_cast<unsigned char>(s[i]);
        size_t extra;
        char32_t c;
        if (lead < 0x80) {
            extra = 0;
            c = lead;
        } else if ((lead >> 5) == 0x6) {
            extra = 1;
            c = lead & 0x1F;
        } else if ((lead >> 4) == 0xE) {
            extra = 2;
            c = lead & 0x0F;
        } else if ((lead >> 3) == 0x1E) {
            extra = 3;
            c = lead & 0x07;
        } else {
            out += char16_t(0xFFFD);
            ++i;
            continue;
        }
        bool valid = i + extra < s.size();
        for (size_t k = 1; valid && k <= extra; ++k) {
            auto next = static_cast<unsigned char>(s[i + k]);
            valid = (next & 0xC0) == 0x80;
            c = (c << 6) | (next & 0x3F);
        }
        if (!valid) {
            out += char16_t(0xFFFD);
            ++i;
            continue;
        }
        i += 1 + extra;
        if (c >= 0x10000) {
            c -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (c >> 10));
            out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
    }
    return out;
}

} // namespace host
