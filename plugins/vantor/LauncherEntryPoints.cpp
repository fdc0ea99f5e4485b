// SPDX-License-Identifier: LGPL-2.1-or-later
#include "LauncherEntryPoints.h"

#include "LauncherPlugin.h"
#include "gnome2/gnome-program.h"
#include "policy/EntryGuard.h"

using vesk::legacy::guardEntry;
using vesk::legacy::plugins::launchers::LauncherPlugin;

extern "C" {

__attribute__((visibility("default"))) void* launchersPluginInitialise(int argc,
                                                                       const char** argv) {
    return guardEntry(
        "Init launchers",
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
        guardEntry("Write launchers", [&] { static_cast<LauncherPlugin*>(handle)->execute(); });
    }
}

__attribute__((visibility("default"))) void launchersPluginUninitialise(void* handle) {
    guardEntry("Stop launchers", [&] { delete static_cast<LauncherPlugin*>(handle); });
}
}
