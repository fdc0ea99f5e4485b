// SPDX-License-Identifier: LGPL-2.1-or-later
#include "StartupEntryPoints.h"

#include "StartupPlugin.h"
#include "policy/EntryGuard.h"

using vesk::legacy::guardEntry;
using vesk::legacy::plugins::startup::StartupPlugin;

// The words startlist has always logged a failure of the plug-in with.
constexpr char kFailure[] = "An error occurred while running the startup applications plugin";

extern "C" {

__attribute__((visibility("default"))) void* startupPluginInitialise(int argc, const char** argv) {
    return guardEntry(
        kFailure, [&]() -> void* { return new StartupPlugin(argc, argv); }, nullptr);
}

__attribute__((visibility("default"))) void startupPluginExecute(void* handle) {
    if (handle != nullptr) {
        guardEntry(kFailure, [&] { static_cast<StartupPlugin*>(handle)->execute(); });
    }
}

__attribute__((visibility("default"))) void startupPluginFollow(void* handle) {
    if (handle != nullptr) {
        guardEntry(kFailure, [&] { static_cast<StartupPlugin*>(handle)->followUntilWritten(); });
    }
}

__attribute__((visibility("default"))) void startupPluginUninitialise(void* handle) {
    guardEntry(kFailure, [&] { delete static_cast<StartupPlugin*>(handle); });
}
}
