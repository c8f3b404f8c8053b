// The two code pages user mode converts with: the ANSI code page of the simulated machine
// (Windows-1252, as on an English-language Windows) and UTF-8. The "A" entry points of every
// module convert through here.
#pragma once

#include <string>
#include <string_view>

namespace host::win32 {

// A terminated ANSI string as UTF-16 (null stays empty).
std::u16string AnsiToWide(const char *text);
// UTF-16 as ANSI; characters the code page lacks become '?'.
std::string WideToAnsi(std::u16string_view text);

// An ANSI string argument as the W entry point takes it (null stays null).
class WideArgument {
public:
    explicit WideArgument(const char *text) : text_(AnsiToWide(text)), null_(text == nullptr) {}
    const wchar_t *Get() const
    {
        return null_ ? nullptr : reinterpret_cast<const wchar_t *>(text_.c_str());
    }
    wchar_t *GetWritable() { return null_ ? nullptr : reinterpret_cast<wchar_t *>(text_.data()); }

private:
    std::u16string text_;
    bool null_;
};

// One ANSI byte as UTF-16, and back (false if the code page lacks the character).
char16_t AnsiCharToWide(unsigned char c);
bool WideCharToAnsi(char16_t c, unsigned char *out);

} // namespace host::win32
