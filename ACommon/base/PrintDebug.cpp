#include "ACommon/base/PrintDebug.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

bool PrintDebugEnabled()
{
    static const bool enabled = [] {
        const char* value = std::getenv("PELORIN_DEBUG");
        return value && *value && std::strcmp(value, "0") != 0;
    }();
    return enabled;
}

void PrintDebug(const char* format, ...)
{
    if (!PrintDebugEnabled())
        return;
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    std::fputs("pelorin: ", stderr);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputc('\n', stderr);
}
