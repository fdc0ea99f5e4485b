// SPDX-License-Identifier: LGPL-2.1-or-later
// Entry points of the startup applications plug-in, with C linkage. The handle
// is an opaque StartupPlugin. No exception leaves them: a failure is logged,
// and initialise then returns null.
//
//   void* plugin = startupPluginInitialise(0, nullptr);
//   startupPluginExecute(plugin);
//   startupPluginFollow(plugin);   // only a process that may stay, as startlist
//   startupPluginUninitialise(plugin);
#pragma once

extern "C" {

void* startupPluginInitialise(int argc, const char** argv);
// Nothing for a null handle.
void startupPluginExecute(void* handle);
// Returns once the startup list was written from the policy read in full
// (see StartupPlugin::followUntilWritten); nothing for a null handle.
void startupPluginFollow(void* handle);
// Destroys the plug-in; nothing for a null handle.
void startupPluginUninitialise(void* handle);
}
