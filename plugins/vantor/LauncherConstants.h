// SPDX-License-Identifier: LGPL-2.1-or-later
// Names the launchers plug-in uses: where policy keeps the launcher list, the
// desktop entry keys it treats specially, and how its files are named
// (kPrefix + launcher name + kDefltExt in the desktop folder).
#pragma once

namespace vesk::legacy::plugins::launchers {

// The configured launchers: one structural child per launcher.
inline constexpr char kLauncherNode[] = "com.orvek.ferrun.applications/launcher_list";
inline constexpr char kRootNode[] = "launcher_list";

// Desktop entry keys and values with a meaning of their own.
inline constexpr char kType[] = "Type";
inline constexpr char kAppType[] = "Application";
inline constexpr char kLinkType[] = "Link";
inline constexpr char kExec[] = "Exec";
inline constexpr char kNameKey[] = "Name";
inline constexpr char kUrl[] = "URL";

// A file of the desktop folder named kPrefix + name + kDefltExt is ours when
// it carries the marker of ManagedFile.
inline constexpr char kPrefix[] = "MERX";
inline constexpr char kDefltExt[] = ".desktop";
// The desktop folder below HOME.
inline constexpr char kDesktopDir[] = "/Desktop/";

}  // namespace vesk::legacy::plugins::launchers
