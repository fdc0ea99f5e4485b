// Drives a plug-in through its three entry points once, the way startlist's
// main does: every failure is logged, and the plug-in is destroyed whatever
// happened.
//
//   runPluginOnce({startupPluginInitialise, startupPluginExecute,
//                  startupPluginUninitialise});
#pragma once

namespace vesk::legacy::plugins::startup {

struct PluginEntryPoints {
    void* (*initialise)(int argc, const char** argv);
    void (*execute)(void* handle);
    void (*uninitialise)(void* handle);
};

// Never throws.
void runPluginOnce(const PluginEntryPoints& plugin) noexcept;

}  // namespace vesk::legacy::plugins::startup
