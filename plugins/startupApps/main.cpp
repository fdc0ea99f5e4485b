// startlist: run once per login to write the configured startup applications
// into the session manager's manual-start list. Always exits with status 0.
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
    runPluginOnce({startupPluginInitialise, startupPluginExecute, startupPluginUninitialise});
    Logger::uninitialise();
    return 0;
}
