#include "commandline/Formatted.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

std::string formatted(const char *pattern, ...)
{
    char text[512];
    va_list arguments;
    va_start(arguments, pattern);
    const int length = std::vsnprintf(text, sizeof text, pattern, arguments);
    va_end(arguments);
    return std::string(text, length < 0 ? 0 : std::min<std::size_t>(static_cast<std::size_t>(length), sizeof text - 1));
}
