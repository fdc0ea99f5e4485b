// SPDX-License-Identifier: LGPL-2.1-or-later
#include "StartupEntryPoints.h"

#include "StartupPlugin.h"
#include "policy/EntryGuard.h"

using vesk::legacy::guardEntry;
using vesk::legacy::plugins::startup::StartupPlugin;

extern "C" {

__attribute__((visibility("default"))) void* startupPluginInitialise(int argc, const char** argv) {
    return guardEntry(
        "Init startup applications", [&]() -> void* { return new StartupPlugin(argc, argv); },
        nullptr);
}

__attribute__((visibility("default"))) void startupPluginExecute(void* handle) {
    if (handle != nullptr) {
        guardEntry("Write startup applications",
                   [&] { static_cast<StartupPlugin*>(handle)->execute(); });
    }
}

__attribute__((visibility("default"))) void startupPluginFollow(void* handle) {
    if (handle != nullptr) {
        guardEntry("Follow startup applications",
                   [&] { static_cast<StartupPlugin*>(handle)->followUntilWritten(); });
    }
}

__attribute__((visibility("default"))) void startupPluginUninitialise(void* handle) {
    guardEntry("Stop startup applications", [&] { delete static_cast<StartupPlugin*>(handle); });
}
}
