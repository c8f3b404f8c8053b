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

// One ANSI byte as UTF-16, and back (false if the code page lacks the character).
char16_t AnsiCharToWide(unsigned char c);
bool WideCharToAnsi(char16_t c, unsigned char *out);

} // namespace host::win32
