// SPDX-License-Identifier: LGPL-2.1-or-later
#include "SystemLog.h"

#include <syslog.h>

#include <cstdarg>
#include <cstdio>

namespace vesk::legacy::store {

namespace {

// Through vsyslog, as the rest of the desktop's logging goes.
void logLine(int priority, const char* format, ...) __attribute__((format(printf, 2, 3)));
void logLine(int priority, const char* format, ...) {
    va_list args;
    va_start(args, format);
    vsyslog(priority, format, args);
    va_end(args);
}

}  // namespace

void SystemLog::warning(const char* what, const std::string& name) {
    std::string shown;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte > 0x7e || c == '"' || c == '\\') {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
            shown += escaped;
        } else {
            shown += c;
        }
    }
    logLine(LOG_WARNING, "libvesk: %s \"%s\"", what, shown.c_str());
}

}  // namespace vesk::legacy::store
