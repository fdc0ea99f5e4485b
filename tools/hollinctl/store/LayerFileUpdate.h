// SPDX-License-Identifier: LGPL-2.1-or-later
// One edit of a layer file in a folder store: the scope's folder is made
// where missing and locked exclusively (flock) from the read to the atomic
// replace, so that edits of the same scope at once each see the other's
// result. New folders are 0755 and new layers 0644 whatever the umask: policy
// is read by every user.
//
//   LayerFileUpdate update(store, "groups/staff", "org.example");
//   std::string text = edited(update.before());
//   update.replace(text);
#pragma once

#include <string>

namespace vesk::legacy::hollinctl {

class LayerFileUpdate {
  public:
    // Throws CommandError(kServiceError) when the folder cannot be made or
    // locked, or the layer cannot be read.
    LayerFileUpdate(const std::string& store, const std::string& scope,
                    const std::string& component);
    // Unlocks; removes the scope folder made for an edit that was not written.
    ~LayerFileUpdate();
    LayerFileUpdate(const LayerFileUpdate&) = delete;
    LayerFileUpdate& operator=(const LayerFileUpdate&) = delete;

    // The layer as it is under the lock; "" when there is none yet.
    const std::string& before() const { return mBefore; }
    const std::string& fileName() const { return mFileName; }
    // Throws CommandError(kServiceError) when the layer cannot be written.
    void replace(const std::string& text);

  private:
    void makeFolders(const std::string& store, const std::string& scope);

    std::string mFileName;
    std::string mBefore;
    std::string mMadeFolder;  // the outermost folder this edit made, while unwritten
    int mLock = -1;
};

}  // namespace vesk::legacy::hollinctl
