// SPDX-License-Identifier: LGPL-2.1-or-later
// Entry points of the kiosk applications plug-in for its host. The handle is
// an opaque VELAppsWriter; none of them lets an exception reach the host.
//
//   void* writer = velAppsInitialise();
//   velAppsExecute(writer);   // install now and on every change
//   Uninitialise(writer);
#pragma once

extern "C" {

void* velAppsInitialise();
void velAppsExecute(void* handle);
void Uninitialise(void* handle);
}
