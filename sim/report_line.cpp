#include "report_line.h"

namespace sim {

void ReportLineV(std::FILE *out, int indent, const char *format, va_list args)
{
    std::fprintf(out, "%*s", indent * 2, "");
    std::vfprintf(out, format, args);
    std::fputc('\n', out);
}

void ReportLine(std::FILE *out, int indent, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    ReportLineV(out, indent, format, args);
    va_end(args);
}

} // namespace sim
