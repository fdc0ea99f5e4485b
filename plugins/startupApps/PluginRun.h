// SPDX-License-Identifier: LGPL-2.1-or-later
// Drives a plug-in through its entry points once, the way startlist's main
// does: every failure is logged, and the plug-in is destroyed whatever
// happened.
//
//   runPluginOnce({startupPluginInitialise, startupPluginExecute,
//                  startupPluginUninitialise, startupPluginFollow});
#pragma once

namespace vesk::legacy::plugins::startup {

struct PluginEntryPoints {
    void* (*initialise)(int argc, const char** argv);
    void (*execute)(void* handle);
    void (*uninitialise)(void* handle);
    // Optional: called after a successful execute, before uninitialise.
    void (*follow)(void* handle);
};

// Never throws.
void runPluginOnce(const PluginEntryPoints& plugin) noexcept;

}  // namespace vesk::legacy::plugins::startup
