// One line of a quen-sim report: two blanks per indent level, the text, a line break.
#pragma once

#include <cstdarg>
#include <cstdio>

namespace sim {

void ReportLine(std::FILE *out, int indent, const char *format, ...)
    __attribute__((format(printf, 3, 4)));
void ReportLineV(std::FILE *out, int indent, const char *format, va_list args)
    __attribute__((format(printf, 3, 0)));

} // namespace sim
