// SPDX-License-Identifier: LGPL-2.1-or-later
// Entry points of the launchers plug-in libvantor, with C linkage. The handle
// is an opaque LauncherPlugin. No exception leaves them: a failure is logged
// (execute's when listening cannot start), and initialise then returns null.
//
//   void* launchers = launchersPluginInitialise(0, nullptr);  // $HOME/Desktop/
//   launchersPluginExecute(launchers);                        // write, then listen
//   launchersPluginUninitialise(launchers);                   // files stay
#pragma once

extern "C" {

// Names the process for GNOME and creates the plug-in; argv[0], if given and
// not empty, is the folder to write to.
void* launchersPluginInitialise(int argc, const char** argv);
// Nothing for a null handle.
void launchersPluginExecute(void* handle);
// Destroys the plug-in; nothing for a null handle.
void launchersPluginUninitialise(void* handle);
}
