// SPDX-License-Identifier: LGPL-2.1-or-later
// Process-wide logging: every message goes to the system log, and a copy to
// standard error when VESKLEG_LOG is "true" or "1" (VESKLEG_LOG_LEVEL, one of
// kLogLevels, sets the most verbose level copied; "Error" by default).
//
//   Logger::initialise("Halvorn");                 // programs only, once
//   Logger::error("Cannot read %s\n", path);      // anyone
//   Logger::uninitialise();
#pragma once

#include <cstdarg>
#include <string>

#include "model/HollinExport.h"

#define HOLLIN_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))

namespace vesk::legacy {

class HOLLIN_EXPORT Logger {
  public:
    // Verbosity order and syslog priority at once; lower is more severe.
    enum LogLevel : int {
        Emergency = 0,
        Alert = 1,
        Critical = 2,
        Error = 3,
        Warning = 4,
        Notice = 5,
        Info = 6,
        Debug = 7
    };

    // Creates the logger and opens the system log under label; does nothing
    // when a logger exists already.
    static void initialise(const std::string& label);
    // Closes the system log and drops the logger; nothing when there is none.
    static void uninitialise();

    // Formats are complete: no prefix or line end is added.
    static void log(LogLevel level, const char* format, ...) HOLLIN_PRINTF(2, 3);
    static void emergency(const char* format, ...) HOLLIN_PRINTF(1, 2);
    static void alert(const char* format, ...) HOLLIN_PRINTF(1, 2);
    static void critical(const char* format, ...) HOLLIN_PRINTF(1, 2);
    static void error(const char* format, ...) HOLLIN_PRINTF(1, 2);
    static void warning(const char* format, ...) HOLLIN_PRINTF(1, 2);
    static void notice(const char* format, ...) HOLLIN_PRINTF(1, 2);
    static void info(const char* format, ...) HOLLIN_PRINTF(1, 2);
    static void debug(const char* format, ...) HOLLIN_PRINTF(1, 2);

    // System log only, whether or not a logger exists.
    static void vlog(LogLevel level, const char* format, va_list args) HOLLIN_PRINTF(2, 0);
    // The standard-error copy, if this logger's settings allow the level.
    void output(LogLevel level, const char* format, va_list args) const HOLLIN_PRINTF(3, 0);

    // The logger made by initialise, or null.
    static const Logger* getDefault() { return sDefault; }

    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;

  private:
    explicit Logger(const std::string& label);
    ~Logger();

    static void dispatch(LogLevel level, const char* format, va_list args) HOLLIN_PRINTF(2, 0);

    static Logger* sDefault;

    bool mPrintToStderr;
    int mThreshold;
    // syslog keeps only the pointer, so the text must outlive the open log.
    std::string mLabel;
};

// Level names, indexed by level: the values VESKLEG_LOG_LEVEL accepts.
HOLLIN_EXPORT extern const char* const kLogLevels[8];

// The syslog priority of a level; LOG_INFO for anything out of range.
HOLLIN_EXPORT int getPriority(Logger::LogLevel level);

}  // namespace vesk::legacy
