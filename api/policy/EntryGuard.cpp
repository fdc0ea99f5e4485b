// SPDX-License-Identifier: LGPL-2.1-or-later
#include "policy/EntryGuard.h"

#include <exception>

#include "model/LogText.h"
#include "model/Logger.h"
#include "policy/PapiException.h"

namespace vesk::legacy {

std::string caughtReason() {
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

void logCaught(const char* entry) noexcept {
    try {
        Logger::error("%s: %s\n", entry, logText(caughtReason()).c_str());
    } catch (...) {
        // Out of memory for the line itself: the failure return still tells it.
    }
}

}  // namespace vesk::legacy
