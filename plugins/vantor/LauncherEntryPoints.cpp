// SPDX-License-Identifier: LGPL-2.1-or-later
#include "LauncherEntryPoints.h"

#include "LauncherPlugin.h"
#include "gnome2/gnome-program.h"
#include "policy/EntryGuard.h"

using vesk::legacy::guardEntry;
using vesk::legacy::plugins::launchers::LauncherPlugin;

// The words deskrunner has always logged a failure of the plug-in with.
constexpr char kFailure[] =
    "An error occurred while running the desktop applications 'launchers' plugin";

extern "C" {

__attribute__((visibility("default"))) void* launchersPluginInitialise(int argc,
                                                                       const char** argv) {
    return guardEntry(
        kFailure,
        [&]() -> void* {
            char name[] = "Launchers";
            char* args[] = {name, nullptr};
            gnome_program_init("launchers", "1.0", libgnome_module_info_get(), 1, args, nullptr);
            return new LauncherPlugin(argc, argv);
        },
        nullptr);
}

__attribute__((visibility("default"))) void launchersPluginExecute(void* handle) {
    if (handle != nullptr) {
        guardEntry(kFailure, [&] { static_cast<LauncherPlugin*>(handle)->execute(); });
    }
}

__attribute__((visibility("default"))) void launchersPluginUninitialise(void* handle) {
    guardEntry(kFailure, [&] { delete static_cast<LauncherPlugin*>(handle); });
}
}
