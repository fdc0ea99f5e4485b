// SPDX-License-Identifier: LGPL-2.1-or-later
// Stand-in for the desktop's menu plug-in libtabard, which lies outside this
// system: it starts, logs at info level and stops. Like the real one it lets no
// exception out: a failure is logged, and initialise then returns null.
//
//   void* menu = menuPluginInitialise(0, nullptr);
//   menuPluginExecute(menu);
//   menuPluginUninitialise(menu);
#pragma once

extern "C" {

void* menuPluginInitialise(int argc, const char** argv);
// Nothing for a null handle.
void menuPluginExecute(void* handle);
// Releases the plug-in; nothing for a null handle.
void menuPluginUninitialise(void* handle);
}
