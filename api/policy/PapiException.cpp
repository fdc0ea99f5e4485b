// SPDX-License-Identifier: LGPL-2.1-or-later
#include "policy/PapiException.h"

namespace vesk::legacy {

namespace {

// Indexed by status; the texts are what callers log, so they stay exactly so.
const char* const kStatusTexts[] = {
    "Success",        "Connection failure", "Authentication failure", "No such component",
    "Database error", "Invalid argument",   "Out of memory",          "Unknown failure"};

}  // namespace

const char* getPapiStatusText(PAPIStatus status) {
    if (status >= 0 && status < static_cast<int>(sizeof kStatusTexts / sizeof kStatusTexts[0])) {
        return kStatusTexts[status];
    }
    return "Unknown error";
}

void checkPapiStatus(PAPIStatus status) {
    if (status == PAPISuccess) {
        return;
    }
    throw PapiException(std::string(getPapiStatusText(status)) + "\n", status);
}

void checkPapiStatus(PAPIStatus status, PAPI* handle) {
    if (status == PAPISuccess) {
        return;
    }
    char buffer[1024] = "";
    PAPIStatus asked = PAPISuccess;
    papiGetFailureDetail(handle, buffer, sizeof buffer, &asked);
    throw PapiException(std::string(getPapiStatusText(status)) + "\n", status,
                        asked == PAPISuccess ? buffer : "");
}

}  // namespace vesk::legacy
