// SPDX-License-Identifier: LGPL-2.1-or-later
// deskrunner: hosts the launchers plug-in and the desktop menu plug-in for the
// length of a desktop session. It runs while either of them started and ends
// on SIGTERM, SIGINT or SIGHUP, or when its session ends, stopping both
// plug-ins first, so that a session ending during a rewrite does not leave
// half a set of launchers. One runs per session; a second start ends at once.
#include <signal.h>
#include <time.h>

#include <csignal>

#include "LauncherEntryPoints.h"
#include "SessionWatch.h"
#include "model/Exception.h"
#include "model/LogText.h"
#include "model/Logger.h"
#include "policy/EntryGuard.h"
#include "tabard/MenuPlugin.h"

using vesk::legacy::caughtReason;
using vesk::legacy::Exception;
using vesk::legacy::Logger;
using vesk::legacy::logText;

namespace {

volatile std::sig_atomic_t sStopRequested = 0;

void requestStop(int) {
    sStopRequested = 1;
}

void handleStopSignals() {
    struct sigaction action = {};
    action.sa_handler = requestStop;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: the sleep of the main thread ends early.
    action.sa_flags = 0;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
}

}  // namespace

int main() {
    Logger::initialise("Halvorn");
    handleStopSignals();
    SessionWatch session;
    if (!session.claim()) {
        Logger::uninitialise();
        return 0;
    }
    void* launchers = nullptr;
    void* menu = nullptr;
    bool running = false;
    try {
        try {
            launchers = launchersPluginInitialise(0, nullptr);
            launchersPluginExecute(launchers);
            // A plug-in that failed to start returns no handle (and has logged why).
            running = launchers != nullptr;
        } catch (const Exception&) {
            Logger::error(
                "An error occurred while running the desktop applications 'launchers' plugin: "
                "%s\n",
                logText(caughtReason()).c_str());
            running = false;
        }
        try {
            menu = menuPluginInitialise(0, nullptr);
            menuPluginExecute(menu);
            running = running || menu != nullptr;
        } catch (const Exception&) {
            Logger::error(
                "An error occurred while running the desktop applications 'menu' plugin: %s\n",
                logText(caughtReason()).c_str());
        }
        // The plug-ins work on their own threads; a stop request or the end
        // of the session is seen within a fifth of a second.
        const struct timespec step = {0, 200 * 1000 * 1000};
        while (running && sStopRequested == 0) {
            if (session.ended()) {
                Logger::info("The session %s has ended\n", logText(session.identity()).c_str());
                break;
            }
            nanosleep(&step, nullptr);
        }
        try {
            launchersPluginUninitialise(launchers);
        } catch (const Exception&) {
        }
        try {
            menuPluginUninitialise(menu);
        } catch (const Exception&) {
        }
    } catch (...) {
        Logger::error("An unexpected error has occurred.\n");
    }
    Logger::uninitialise();
    return 0;
}
