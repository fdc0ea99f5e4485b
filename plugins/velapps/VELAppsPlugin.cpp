// SPDX-License-Identifier: LGPL-2.1-or-later
#include "VELAppsPlugin.h"

#include "VELAppsWriter.h"

// The host is outside this system and knows nothing of our exceptions: each
// entry point logs them instead.
extern "C" {

__attribute__((visibility("default"))) void* velAppsInitialise() {
    try {
        return new VELAppsWriter();
    } catch (...) {
        logCaughtFailure("Init writer: %s\n");
        return nullptr;
    }
}

__attribute__((visibility("default"))) void velAppsExecute(void* handle) {
    if (!handle)
        return;
    VELAppsWriter* writer = static_cast<VELAppsWriter*>(handle);
    // Listening first, so that no change before the first installation's
    // read is missed.
    try {
        writer->startListening();
    } catch (...) {
        logCaughtFailure("Start listening: %s\n");
    }
    try {
        writer->writeApps();
    } catch (...) {
        logCaughtFailure("Write apps: %s\n");
    }
}

__attribute__((visibility("default"))) void Uninitialise(void* handle) {
    if (!handle)
        return;
    try {
        delete static_cast<VELAppsWriter*>(handle);
    } catch (...) {
        logCaughtFailure("Stop listening: %s\n");
    }
}
}
