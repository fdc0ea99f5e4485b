// SPDX-License-Identifier: LGPL-2.1-or-later
#include "SyslogSeam.h"

#include <syslog.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace syslogseam {

namespace {

std::mutex sMutex;  // listeners log from the service's thread
std::vector<Message> sMessages;
const char* sLabel = nullptr;
std::vector<std::string> sOpened;
int sClosed = 0;

}  // namespace

std::vector<Message> messages() {
    std::lock_guard<std::mutex> lock(sMutex);
    return sMessages;
}

std::string text() {
    std::string all;
    for (const Message& message : messages()) {
        all += message.text;
    }
    return all;
}

std::vector<std::string> opened() {
    std::lock_guard<std::mutex> lock(sMutex);
    return sOpened;
}

int closed() {
    std::lock_guard<std::mutex> lock(sMutex);
    return sClosed;
}

void clear() {
    std::lock_guard<std::mutex> lock(sMutex);
    sMessages.clear();
    sOpened.clear();
    sClosed = 0;
}

}  // namespace syslogseam

extern "C" void openlog(const char* ident, int option, int facility) {
    std::lock_guard<std::mutex> lock(syslogseam::sMutex);
    syslogseam::sLabel = ident;
    syslogseam::sOpened.push_back(std::string(ident) + " " + std::to_string(option) + " " +
                                  std::to_string(facility));
}

extern "C" void closelog(void) {
    std::lock_guard<std::mutex> lock(syslogseam::sMutex);
    syslogseam::sLabel = nullptr;
    ++syslogseam::sClosed;
}

extern "C" void vsyslog(int priority, const char* format, va_list args) {
    char* text = nullptr;
    if (vasprintf(&text, format, args) >= 0) {
        std::lock_guard<std::mutex> lock(syslogseam::sMutex);
        syslogseam::sMessages.push_back(
            {priority, text, syslogseam::sLabel ? syslogseam::sLabel : ""});
        std::free(text);
    }
}

// Reached instead of vsyslog when the library is built with _FORTIFY_SOURCE.
extern "C" void __vsyslog_chk(int priority, int, const char* format, va_list args) {
    vsyslog(priority, format, args);
}
