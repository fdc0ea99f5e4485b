// SPDX-License-Identifier: LGPL-2.1-or-later
// Writes the startup applications of policy as XDG autostart entries, which
// every current session manager starts: one file "MERX<name>.desktop" per
// application in $XDG_CONFIG_HOME/autostart (~/.config/autostart by default).
// The new set is written first; then our other entries (ManagedFile: the name
// and the marker) go. Other files of the folder are the user's and stay.
//
//   AutostartWriter writer(AutostartWriter::defaultDir());
//   writer.write({{"clock", "xclock -digital", "10"}});
#pragma once

#include <set>
#include <string>
#include <vector>

namespace vesk::legacy::plugins::startup {

// One configured application: its node name, command line and order.
struct StartupApp {
    std::string name;
    std::string command;
    std::string order;
};

class AutostartWriter {
  public:
    // dir is the autostart folder, without a trailing "/".
    explicit AutostartWriter(std::string dir);

    // $XDG_CONFIG_HOME/autostart when that is absolute, else
    // $HOME/.config/autostart; empty when HOME is not absolute either.
    static std::string defaultDir();

    // Replaces our entries by apps. Throws Exception naming the folder when
    // it cannot be created; a file that cannot be saved is logged, the old
    // one of that name stays, and the result is false so that the caller
    // tries again (a full disk). An application that can have no entry is
    // skipped, logged, and is no failure.
    bool write(const std::vector<StartupApp>& apps) const;

    // The file name of an application's entry; empty when the name cannot
    // be a file name in the folder.
    static std::string fileName(const std::string& appName);

  private:
    // False when the file could not be saved; true also when skipped.
    bool save(const StartupApp& app, const std::string& path) const;
    void removeOthers(const std::set<std::string>& keep) const;

    std::string mDir;
};

}  // namespace vesk::legacy::plugins::startup
