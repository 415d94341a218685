#pragma once
// Debug log for developers: lines go to stderr when $PELORIN_DEBUG is set (to anything but "0"),
// and nowhere otherwise. Never used for what users must see.

#include <cstdarg>

void PrintDebug(const char* format, ...) __attribute__((format(printf, 1, 2)));
bool PrintDebugEnabled();
