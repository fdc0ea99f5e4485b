// SPDX-License-Identifier: LGPL-2.1-or-later
#include "PluginRun.h"

#include "model/Exception.h"
#include "model/LogText.h"
#include "model/Logger.h"

namespace vesk::legacy::plugins::startup {

void runPluginOnce(const PluginEntryPoints& plugin) noexcept {
    void* handle = nullptr;
    // The plug-in is destroyed in the handlers too: leaving it would leak, and
    // a leak report would turn the exit status of a sanitised build non-zero.
    try {
        handle = plugin.initialise(0, nullptr);
        plugin.execute(handle);
        if (plugin.follow != nullptr) {
            plugin.follow(handle);
        }
        plugin.uninitialise(handle);
    } catch (const Exception& e) {
        Logger::error("An error occurred while running the startup applications plugin: %s\n",
                      logText(e.getMessage()).c_str());
        plugin.uninitialise(handle);
    } catch (...) {
        Logger::error("An unexpected error has occurred.\n");
        plugin.uninitialise(handle);
    }
}

}  // namespace vesk::legacy::plugins::startup
