// SPDX-License-Identifier: LGPL-2.1-or-later
// Writes the launcher list as desktop entry files, one per launcher, into a
// folder ending in "/" (created when missing), each marked trusted where GIO
// keeps such marks: a visitor over the "launcher_list" node. A launcher is
// saved when its group ends or when a group nested in it begins. Launchers go out in ascending
// order of their node names.
//
//   LauncherWriter writer("/home/u/Desktop/");
//   launcherList->visit(writer);
//   writer.saveLauncher();
//   writer.getFileNames();  // {"MERXbrowser.desktop", ...}: the set now in place
#pragma once

#include <set>
#include <string>

#include "gnome2/gnome-desktop-item.h"
#include "model/ConstNodeVisitor.h"

namespace vesk::legacy {
class PropertyNode;
}

namespace vesk::legacy::plugins::launchers {

class LauncherWriter : public ConstNodeVisitor {
  public:
    explicit LauncherWriter(const std::string& baseDir);
    virtual ~LauncherWriter();

    LauncherWriter(const LauncherWriter&) = delete;
    LauncherWriter& operator=(const LauncherWriter&) = delete;

    // A structural node other than "launcher_list" opens a launcher; a
    // property becomes a key of the open launcher. Always true.
    bool preChildrenProcess(const Node& node) override;
    bool postChildrenProcess(const Node& node) override;

    // Completes, saves and releases the open launcher; nothing when none is open.
    void saveLauncher();

    // The file names (not paths) of the launchers written so far, saved or
    // failed to save: a failed save leaves the previous file of that name.
    const std::set<std::string>& getFileNames() const { return mFileNames; }
    // Launchers that could not be saved so far.
    int getFailedCount() const { return mFailed; }

  private:
    void openLauncher(const std::string& name);
    void writeProperty(const PropertyNode& property);
    // Sets Exec (or a link's URL); false, with the reason, when no valid
    // launcher can be written.
    bool completeLauncher(std::string& why);

    std::string mBaseDir;
    bool mIsLink;       // the open launcher's Type is "Link"
    bool mDefaultType;  // no Type property seen for the open launcher
    GnomeDesktopItem* mItem;
    std::string mName;
    std::string mExec;
    // An Exec property was seen: without one no Exec (or URL) key is written,
    // so a URL configured directly stays.
    bool mHasExec;
    // A Name without locale was seen: a launcher needs one to be valid.
    bool mHasName = false;
    // The open launcher is refused (its name would leave the folder): its
    // properties go nowhere.
    bool mSkipping;
    int mDepth;  // structural nodes open in the walk; launchers are at 2
    // The folder was created if missing, before the first save.
    bool mFolderChecked;
    std::set<std::string> mFileNames;
    int mFailed = 0;
};

}  // namespace vesk::legacy::plugins::launchers
