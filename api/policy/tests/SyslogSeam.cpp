#include "SyslogSeam.h"

#include <syslog.h>

#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace syslogseam {

namespace {

std::mutex sMutex;  // listeners log from the event thread
std::vector<Message> sMessages;

}  // namespace

std::vector<Message> messages() {
    std::lock_guard<std::mutex> lock(sMutex);
    return sMessages;
}

void clear() {
    std::lock_guard<std::mutex> lock(sMutex);
    sMessages.clear();
}

}  // namespace syslogseam

extern "C" void vsyslog(int priority, const char* format, va_list args) {
    char text[1024];
    std::vsnprintf(text, sizeof text, format, args);
    std::lock_guard<std::mutex> lock(syslogseam::sMutex);
    syslogseam::sMessages.push_back({priority, text});
}
