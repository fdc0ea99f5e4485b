// SPDX-License-Identifier: LGPL-2.1-or-later
#include "StartupEntryPoints.h"

#include "StartupPlugin.h"

using vesk::legacy::plugins::startup::StartupPlugin;

extern "C" {

__attribute__((visibility("default"))) void* startupPluginInitialise(int argc, const char** argv) {
    return new StartupPlugin(argc, argv);
}

__attribute__((visibility("default"))) void startupPluginExecute(void* handle) {
    if (handle != nullptr) {
        static_cast<StartupPlugin*>(handle)->execute();
    }
}

__attribute__((visibility("default"))) void startupPluginFollow(void* handle) {
    if (handle != nullptr) {
        static_cast<StartupPlugin*>(handle)->followUntilWritten();
    }
}

__attribute__((visibility("default"))) void startupPluginUninitialise(void* handle) {
    delete static_cast<StartupPlugin*>(handle);
}
}
