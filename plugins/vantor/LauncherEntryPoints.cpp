// SPDX-License-Identifier: LGPL-2.1-or-later
#include "LauncherEntryPoints.h"

#include "LauncherPlugin.h"
#include "gnome2/gnome-program.h"

using vesk::legacy::plugins::launchers::LauncherPlugin;

extern "C" {

__attribute__((visibility("default"))) void* launchersPluginInitialise(int argc,
                                                                       const char** argv) {
    char name[] = "Launchers";
    char* args[] = {name, nullptr};
    gnome_program_init("launchers", "1.0", libgnome_module_info_get(), 1, args, nullptr);
    return new LauncherPlugin(argc, argv);
}

__attribute__((visibility("default"))) void launchersPluginExecute(void* handle) {
    if (handle != nullptr) {
        static_cast<LauncherPlugin*>(handle)->execute();
    }
}

__attribute__((visibility("default"))) void launchersPluginUninitialise(void* handle) {
    delete static_cast<LauncherPlugin*>(handle);
}
}
