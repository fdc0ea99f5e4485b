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

#include <string>
#include <type_traits>

#include "model/HollinExport.h"

namespace vesk::legacy {

// The exception being handled, in words: its message, with the policy
// service's own detail where it gave one ("unknown failure" for what is no
// std::exception).
HOLLIN_EXPORT std::string caughtReason();
// Logs "<entry>: <reason>" for the exception being handled, escaped.
HOLLIN_EXPORT void logCaught(const char* entry) noexcept;

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
