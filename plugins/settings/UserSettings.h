// SPDX-License-Identifier: LGPL-2.1-or-later
// One user's tree of the settings component, merged from the user's own stack
// (default, groups, host, user) as hollinctl plans it, never by taking the
// user's uid: a root service serves many users at once. A read that is not
// complete (store down, a layer that cannot be read or parsed) serves the
// tree kept from the last complete read, so the user's database stays as it
// was.
//
//   UserSettings settings("alice", "/var/cache/hollin");
//   if (settings.read()) use(settings.tree()); else settings.problem();
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "policy/PolicyLayer.h"

namespace vesk::legacy {
class Tree;
}

namespace vesk::legacy::settings {

class UserSettings {
  public:
    UserSettings(std::string user, std::string cacheFolder);
    ~UserSettings();

    // True when a tree is there to apply: complete, or the kept copy after an
    // incomplete read (complete() tells). False with problem() when neither.
    bool read();
    bool complete() const { return mComplete; }
    const std::string& problem() const { return mProblem; }
    // Null when the component has no layers for the user.
    const Tree* tree() const { return mTree.get(); }
    // Which of the user's layers set names (below the component) last, as
    // "groups/staff"; "" when none or unknown.
    std::string layerOf(const std::vector<std::string>& names) const;
    // What the stack's layer files were when read, to tell a change without
    // reading them again.
    static std::string signature(const std::string& user);

  private:
    std::string mUser;
    std::string mCacheFolder;
    std::vector<PolicyLayer> mLayers;
    std::unique_ptr<Tree> mTree;
    bool mComplete = false;
    std::string mProblem;
};

}  // namespace vesk::legacy::settings
