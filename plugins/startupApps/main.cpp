// startlist: run once per login to write the configured startup applications
// into the session manager's manual-start list. Always exits with status 0.
// When the policy could not be read in full (the store unreachable: nothing
// or a cached copy was written) or the list could not be saved (a full
// disk), it stays, listens for the startup list and writes again, on each
// change and by itself with a growing delay, and exits after the first save
// of a list read in full.
#include "PluginRun.h"
#include "StartupConstants.h"
#include "StartupEntryPoints.h"
#include "gnome2/gnome-program.h"
#include "model/Logger.h"

using namespace vesk::legacy;
using namespace vesk::legacy::plugins::startup;

int main() {
    char appId[] = "StartupApps";
    char* args[] = {appId, nullptr};
    gnome_program_init(kAppId, kAppVersion, libgnome_module_info_get(), 1, args, nullptr);
    Logger::initialise(kLoggerName);
    runPluginOnce({startupPluginInitialise, startupPluginExecute, startupPluginUninitialise,
                   startupPluginFollow});
    Logger::uninitialise();
    return 0;
}
