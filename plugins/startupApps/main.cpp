// SPDX-License-Identifier: LGPL-2.1-or-later
// startlist: run once per login to write the configured startup applications
// into the session manager's manual-start list. Always exits with status 0.
// When the policy could not be read in full (the store unreachable: nothing
// or a cached copy was written) or the list could not be saved (a full
// disk), it stays, listens for the startup list and writes again, on each
// change and by itself with a growing delay, and exits after the first save
// of a list read in full, or after ten minutes (the next login tries again).
// "startlist --remove" takes back all it and deskrunner wrote for the user
// (StartupPlugin::removeWritten), reading no policy; status 1 on a failure.
#include <cstdio>
#include <cstring>

#include "PluginRun.h"
#include "StartupConstants.h"
#include "StartupEntryPoints.h"
#include "StartupPlugin.h"
#include "gnome2/gnome-program.h"
#include "model/Logger.h"

using namespace vesk::legacy;
using namespace vesk::legacy::plugins::startup;

int main(int argc, char** argv) {
    const bool remove = argc == 2 && std::strcmp(argv[1], "--remove") == 0;
    if (argc > 1 && !remove) {
        fprintf(stderr, "usage: startlist [--remove]\n");
        return 2;
    }
    char appId[] = "StartupApps";
    char* args[] = {appId, nullptr};
    gnome_program_init(kAppId, kAppVersion, libgnome_module_info_get(), 1, args, nullptr);
    Logger::initialise(kLoggerName);
    if (remove) {
        const bool removed = StartupPlugin(0, nullptr).removeWritten();
        Logger::uninitialise();
        return removed ? 0 : 1;
    }
    runPluginOnce({startupPluginInitialise, startupPluginExecute, startupPluginUninitialise,
                   startupPluginFollow});
    Logger::uninitialise();
    return 0;
}
