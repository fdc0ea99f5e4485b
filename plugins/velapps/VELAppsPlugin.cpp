// SPDX-License-Identifier: LGPL-2.1-or-later
#include "VELAppsPlugin.h"

#include "VELAppsWriter.h"
#include "policy/EntryGuard.h"

using vesk::legacy::guardEntry;

extern "C" {

__attribute__((visibility("default"))) void* velAppsInitialise() {
    return guardEntry(
        "Init writer", []() -> void* { return new VELAppsWriter(); }, nullptr);
}

__attribute__((visibility("default"))) void velAppsExecute(void* handle) {
    if (!handle)
        return;
    VELAppsWriter* writer = static_cast<VELAppsWriter*>(handle);
    // Listening first, so that no change before the first installation's
    // read is missed.
    guardEntry("Start listening", [&] { writer->startListening(); });
    guardEntry("Write apps", [&] { writer->writeApps(); });
}

__attribute__((visibility("default"))) void Uninitialise(void* handle) {
    guardEntry("Stop listening", [&] { delete static_cast<VELAppsWriter*>(handle); });
}
}
