// SPDX-License-Identifier: LGPL-2.1-or-later
#include "LdapTime.h"

#include <cctype>
#include <ctime>

namespace vesk::legacy::store {

bool LdapTime::epochOf(const std::string& time, long long& seconds) {
    if (time.size() < 15) {
        return false;
    }
    for (size_t i = 0; i < 14; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(time[i]))) {
            return false;
        }
    }
    size_t end = 14;
    if (time[end] == '.' || time[end] == ',') {
        ++end;
        while (end < time.size() && std::isdigit(static_cast<unsigned char>(time[end]))) {
            ++end;
        }
    }
    if (end >= time.size() || time[end] != 'Z') {
        return false;
    }
    const auto field = [&](size_t at, size_t length) { return std::stoi(time.substr(at, length)); };
    struct tm parts = {};
    parts.tm_year = field(0, 4) - 1900;
    parts.tm_mon = field(4, 2) - 1;
    parts.tm_mday = field(6, 2);
    parts.tm_hour = field(8, 2);
    parts.tm_min = field(10, 2);
    parts.tm_sec = field(12, 2);
    seconds = static_cast<long long>(timegm(&parts));
    return true;
}

std::string LdapTime::stampOf(const std::string& scope, const std::string& modifyTimestamp,
                              const std::string& entryCsn) {
    long long seconds = 0;
    if (!epochOf(modifyTimestamp, seconds) && !epochOf(entryCsn, seconds)) {
        seconds = 0;
    }
    return scope + " " + std::to_string(seconds);
}

}  // namespace vesk::legacy::store
