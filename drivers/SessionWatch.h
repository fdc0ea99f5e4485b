// SPDX-License-Identifier: LGPL-2.1-or-later
// Tells deskrunner when the desktop session it belongs to has ended, and keeps
// a second copy from running in the same session. The session is the logind
// session of XDG_SESSION_ID where logind knows it, else the X display of
// DISPLAY, else the session bus of DBUS_SESSION_BUS_ADDRESS: a per-user bus
// outlives a logout while another session of the user stays open, so the bus
// is only the last resort.
//
//   SessionWatch watch;
//   if (!watch.claim()) return 0;      // another deskrunner serves this session
//   while (!watch.ended()) ...         // polled about five times a second
#pragma once

#include <string>
#include <vector>

struct _GDBusConnection;
struct xcb_connection_t;

class SessionWatch {
  public:
    // Chooses what to watch from the environment; logs what it chose.
    SessionWatch();
    ~SessionWatch();
    SessionWatch(const SessionWatch&) = delete;
    SessionWatch& operator=(const SessionWatch&) = delete;

    // Takes the locks $XDG_RUNTIME_DIR/hollin-deskrunner-<key>.lock for the
    // life of this object, one for the session followed and one for each
    // display (X and Wayland) named: a copy started by the systemd user
    // manager, which knows no logind session, still meets the autostarted one
    // on the display. False when another process holds one; true also when
    // there is nothing or no runtime folder to key a lock by.
    bool claim();

    // Whether the session has ended: the logind session is gone or closing,
    // the X connection closed, or the bus connection closed. Never true when
    // nothing could be watched.
    bool ended();

    // "logind-3", "display-:0", "bus-1f2e3d4c5b6a7980"; empty when none.
    const std::string& identity() const { return mIdentity; }

  private:
    std::string mIdentity;
    std::string mLogindFile;  // /run/systemd/sessions/<id> while watched
    xcb_connection_t* mDisplay = nullptr;
    _GDBusConnection* mBus = nullptr;
    std::vector<int> mLocks;
};
