// SPDX-License-Identifier: LGPL-2.1-or-later
// What makes a desktop entry hollin's own, and the removal of such entries: a
// name "MERX<name>.desktop" and the line "X-MERX-Managed=true". A file with the
// name alone is kept: it is the user's, or was written before the marker (a
// launcher or entry that policy still names gets the marker at its next
// write; one it dropped in between stays, which is the safe side).
//
//   gnome_desktop_item_set_string(item, ManagedFile::kMarkerKey, "true");
//   ManagedFile::removeAll("/home/u/Desktop", {"MERXmail.desktop"}, "launcher");
#pragma once

#include <set>
#include <string>

namespace vesk::legacy::plugins {

class ManagedFile {
  public:
    static constexpr char kPrefix[] = "MERX";
    static constexpr char kExtension[] = ".desktop";
    static constexpr char kMarkerKey[] = "X-MERX-Managed";

    // Whether the regular file name in dir has our name and marker.
    static bool isManaged(const std::string& dir, const std::string& name);

    // Removes our files in dir whose names are not in keep; failures are
    // logged naming what ("launcher", "autostart entry"). The number removed.
    static int removeAll(const std::string& dir, const std::set<std::string>& keep,
                         const char* what);
};

}  // namespace vesk::legacy::plugins
