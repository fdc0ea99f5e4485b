// SPDX-License-Identifier: LGPL-2.1-or-later
#include "model/Logger.h"

#include <syslog.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace vesk::legacy {

const char* const kLogLevels[8] = {"Emergency", "Alert",  "Critical", "Error",
                                   "Warning",   "Notice", "Info",     "Debug"};

Logger* Logger::sDefault = nullptr;

int getPriority(Logger::LogLevel level) {
    const int value = static_cast<int>(level);
    if (value >= 0 && value <= 7 && value != 6) {
        return value;
    }
    return LOG_INFO;
}

namespace {

bool equals(const char* text, const char* expected) {
    return text != nullptr && std::strcmp(text, expected) == 0;
}

}  // namespace

Logger::Logger(const std::string& label) : mPrintToStderr(false), mThreshold(Error), mLabel(label) {
    const char* enabled = std::getenv("VESKLEG_LOG");
    if (equals(enabled, "true") || equals(enabled, "1")) {
        mPrintToStderr = true;
        // The level is only of interest once printing is on.
        if (const char* level = std::getenv("VESKLEG_LOG_LEVEL")) {
            for (int i = 0; i < 8; ++i) {
                if (std::strcmp(level, kLogLevels[i]) == 0) {
                    mThreshold = i;
                    break;
                }
            }
        }
    }
    openlog(mLabel.c_str(), LOG_PID, LOG_USER);
}

Logger::~Logger() {
    closelog();
}

void Logger::initialise(const std::string& label) {
    if (!sDefault) {
        sDefault = new Logger(label);
    }
}

void Logger::uninitialise() {
    delete sDefault;
    sDefault = nullptr;
}

void Logger::vlog(LogLevel level, const char* format, va_list args) {
    vsyslog(getPriority(level), format, args);
}

void Logger::output(LogLevel level, const char* format, va_list args) const {
    if (mPrintToStderr && static_cast<int>(level) <= mThreshold) {
        std::vfprintf(stderr, format, args);
    }
}

void Logger::dispatch(LogLevel level, const char* format, va_list args) {
    // Each output consumes the arguments, so each gets its own copy.
    va_list forSyslog;
    va_copy(forSyslog, args);
    vlog(level, format, forSyslog);
    va_end(forSyslog);
    if (sDefault) {
        va_list forStderr;
        va_copy(forStderr, args);
        sDefault->output(level, format, forStderr);
        va_end(forStderr);
    }
}

void Logger::log(LogLevel level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    dispatch(level, format, args);
    va_end(args);
}

#define HOLLIN_LEVEL_FUNCTION(function, level)       \
    void Logger::function(const char* format, ...) { \
        va_list args;                                \
        va_start(args, format);                      \
        dispatch(level, format, args);               \
        va_end(args);                                \
    }

HOLLIN_LEVEL_FUNCTION(emergency, Emergency)
HOLLIN_LEVEL_FUNCTION(alert, Alert)
HOLLIN_LEVEL_FUNCTION(critical, Critical)
HOLLIN_LEVEL_FUNCTION(error, Error)
HOLLIN_LEVEL_FUNCTION(warning, Warning)
HOLLIN_LEVEL_FUNCTION(notice, Notice)
HOLLIN_LEVEL_FUNCTION(info, Info)
HOLLIN_LEVEL_FUNCTION(debug, Debug)

#undef HOLLIN_LEVEL_FUNCTION

}  // namespace vesk::legacy
