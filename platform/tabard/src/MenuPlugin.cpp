// SPDX-License-Identifier: LGPL-2.1-or-later
#include "tabard/MenuPlugin.h"

#include "model/Logger.h"
#include "policy/EntryGuard.h"

using vesk::legacy::guardEntry;
using vesk::legacy::Logger;

namespace {

// What the real menu plug-in keeps between its calls; the stand-in only
// remembers whether it started.
struct MenuState {
    bool started = false;
};

}  // namespace

// The words deskrunner has always logged a failure of the plug-in with.
constexpr char kFailure[] =
    "An error occurred while running the desktop applications 'menu' plugin";

extern "C" {

__attribute__((visibility("default"))) void* menuPluginInitialise(int, const char**) {
    return guardEntry(
        kFailure, []() -> void* { return new MenuState; }, nullptr);
}

__attribute__((visibility("default"))) void menuPluginExecute(void* handle) {
    if (handle == nullptr) {
        return;
    }
    guardEntry(kFailure, [&] {
        static_cast<MenuState*>(handle)->started = true;
        Logger::info("menu plug-in started\n");
    });
}

__attribute__((visibility("default"))) void menuPluginUninitialise(void* handle) {
    MenuState* state = static_cast<MenuState*>(handle);
    if (state == nullptr) {
        return;
    }
    guardEntry(kFailure, [&] {
        if (state->started) {
            Logger::info("menu plug-in stopped\n");
        }
        delete state;
    });
}
}
