#include "ks_trace.h"

#include <cstdarg>
#include <cstdio>

void KsLibTrace(ULONG traceClass, const char *format, ...)
{
    if ((g_KsLibTraceMask & traceClass) == 0)
        return;
    char line[1024];
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    OutputDebugStringA(line);
}

CKsTraceText::CKsTraceText(LPCWSTR text)
{
    // A text too long for the line (or not convertible) shows as empty.
    if (text == nullptr ||
        WideCharToMultiByte(CP_ACP, 0, text, -1, m_text, sizeof m_text, nullptr, nullptr) == 0)
        m_text[0] = 0;
}
