// SPDX-License-Identifier: LGPL-2.1-or-later
// guardEntry: runs the body of an extern "C" entry point so that no exception
// leaves it. The host is outside this system and knows nothing of our
// exceptions: what is thrown becomes one escaped error line "<entry>: <reason>"
// and the entry's failure result.
//
//   void* launchersPluginInitialise(int argc, const char** argv) {
//       return guardEntry("Init launchers", [&]() -> void* { return new LauncherPlugin(); },
//                         nullptr);
//   }
#pragma once

#include <exception>
#include <string>
#include <type_traits>

#include "model/LogText.h"
#include "model/Logger.h"
#include "policy/PapiException.h"

namespace vesk::legacy {

// The exception being handled, in words: its message, with the policy
// service's own detail where it gave one ("unknown failure" for what is no
// std::exception).
inline std::string caughtReason() {
    try {
        throw;
    } catch (const PapiException& failure) {
        std::string text = failure.getMessage();
        // The status text alone ("Unknown failure") tells an administrator nothing.
        if (!failure.getDetail().empty()) {
            while (!text.empty() && text.back() == '\n') {
                text.pop_back();
            }
            text += ": " + failure.getDetail();
        }
        return text;
    } catch (const std::exception& failure) {
        return failure.what();
    } catch (...) {
        return "unknown failure";
    }
}

// Logs "<entry>: <reason>" for the exception being handled, escaped.
inline void logCaught(const char* entry) noexcept {
    try {
        Logger::error("%s: %s\n", entry, logText(caughtReason()).c_str());
    } catch (...) {
        // Out of memory for the line itself: the failure return still tells it.
    }
}

template <typename Body>
std::invoke_result_t<Body&> guardEntry(const char* entry, Body&& body,
                                       std::invoke_result_t<Body&> failure) noexcept {
    try {
        return body();
    } catch (...) {
        logCaught(entry);
        return failure;
    }
}

template <typename Body>
void guardEntry(const char* entry, Body&& body) noexcept {
    try {
        body();
    } catch (...) {
        logCaught(entry);
    }
}

}  // namespace vesk::legacy
