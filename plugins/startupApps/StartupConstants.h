// SPDX-License-Identifier: LGPL-2.1-or-later
// Names the startup applications program uses: where policy lists the
// applications, the gnome_config paths of the session manager's manual-start
// list and of our own record, and the program's identity.
#pragma once

namespace vesk::legacy::plugins::startup {

// Configured startup applications: one structural child per application.
inline constexpr char kStartupNode[] = "com.orvek.ferrun.applications/startup_list";
inline constexpr char kRootNode[] = "startup_list";
// Properties of an application.
inline constexpr char kCommand[] = "command";
inline constexpr char kOrder[] = "order";
// Priority of an application without an order.
inline constexpr char kDefaultOrder[] = "50";
// Restart style of every entry we write: RestartNever of the X Session
// Management Protocol, since the session manager must not restart them itself.
inline constexpr char kDefaultStyle[] = "3";

// The session manager's list: "session-manual/Default/<n>,RestartCommand" and so on.
inline constexpr char kNumClients[] = "session-manual/Default/num_clients";
inline constexpr char kDefault[] = "session-manual/Default/";
inline constexpr char kRestartCommand[] = ",RestartCommand";
inline constexpr char kPriority[] = ",Priority";
inline constexpr char kRestartStyleHint[] = ",RestartStyleHint";
// Our record of the command lines we wrote: "session-manual/MERX/<i>,command".
// (kCommand above is the policy property, hence the longer name here.)
inline constexpr char kMERX[] = "session-manual/MERX/";
inline constexpr char kCommandSuffix[] = ",command";
inline constexpr char kNumItems[] = "num_items";

// Our XDG autostart entries: "MERX<name>.desktop", and the key that keeps
// the application's order of policy in each.
inline constexpr char kAutostartPrefix[] = "MERX";
inline constexpr char kOrderKey[] = "X-MERX-Order";

// Identity of the program towards GNOME and the system log.
inline constexpr char kAppId[] = "StartupApps";
inline constexpr char kAppVersion[] = "1.0";
inline constexpr char kLoggerName[] = "Halvorn";

}  // namespace vesk::legacy::plugins::startup
