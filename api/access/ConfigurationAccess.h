// SPDX-License-Identifier: LGPL-2.1-or-later
// The facade through which programs and plug-ins read configuration and hear of
// its changes. A node is named by "component/name/name...": the component's
// layers are merged into one tree on first use and kept until the policy service
// reports a change of the component.
//
//   ConfigurationAccess& access = ConfigurationAccess::defaultInstance();
//   const Node* list = access.getNode("com.orvek.ferrun.applications/launcher_list");
//   NodePath path;
//   path.setPath("com.orvek.ferrun.applications/launcher_list");
//   access.addListener(path, &listener);   // called on the service's thread
//   ...
//   access.removeListener(path, &listener);
//
// Thread safety: one recursive mutex guards the trees and listeners and is held
// across a rebuild, its comparison and the listener calls. So a listener may read
// the facade (it sees the new tree) and add or remove listeners during its call,
// and once removeListener returns on another thread that listener is neither
// running nor called again.
//
// Lifetimes: getNode, getTree and the reference reads (getStringValue,
// getListValue) hand out borrowed pointers and references, valid only until
// the next change of their component, which may arrive on the service's thread
// at any moment. A thread other than a listener's should read with snapshot,
// getString or getList, whose results stay valid for as long as it keeps them.
//
// A component whose layers cannot all be read in full is not left without
// policy: at its first build the facade serves the copy kept from its last
// complete build (TreeCache), else the layers before the first broken one (a
// later layer must not set what a lost lock of the broken one protected); a
// change that cannot be read in full keeps the tree served before. isComplete
// says which it is.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "access/TreeCache.h"
#include "access/TreeCacheWriter.h"
#include "model/HollinExport.h"
#include "policy/IPolicyListener.h"
#include "policy/PolicyAccess.h"

namespace vesk::legacy {

class DiffListener;
class INodeListener;
class Node;
class NodePath;
class Tree;

class HOLLIN_EXPORT ConfigurationAccess : public IPolicyListener {
  public:
    // The process-wide facade on the current user's policy, created on first use
    // and destroyed at exit. If creating it throws, the next call tries again.
    static ConfigurationAccess& defaultInstance();

    // Throw PapiException when the policy service cannot be opened.
    ConfigurationAccess();
    explicit ConfigurationAccess(const std::string& connectionString);
    // Withdraws every policy registration before freeing the trees, so no event
    // arriving on the service's thread can touch freed memory.
    ~ConfigurationAccess() override;

    ConfigurationAccess(const ConfigurationAccess&) = delete;
    ConfigurationAccess& operator=(const ConfigurationAccess&) = delete;

    // The node at the path, or null; borrowed (see above). Throws what
    // building the tree throws.
    Node* getNode(const std::string& path) const;
    // The value of the property at the path for the locale "default"; a shared
    // empty string or list when there is no such property.
    const std::string& getStringValue(const std::string& path) const;
    const std::vector<std::string>& getListValue(const std::string& path) const;
    // The component's merged tree, built if not yet kept; never null; borrowed.
    // A build that throws stores nothing, so the next read asks the service again.
    Tree* getTree(const std::string& component) const;

    // The component's tree as served now, built if not yet kept; never null.
    // It never changes and lives as long as the caller keeps it.
    std::shared_ptr<const Tree> snapshot(const std::string& component) const;
    // Copies of the value of the property at the path for the locale (no
    // fallback to another locale); fallback when there is no property of that
    // kind at the path.
    std::string getString(const std::string& path, const std::string& locale,
                          const std::string& fallback) const;
    std::vector<std::string> getList(const std::string& path, const std::string& locale,
                                     const std::vector<std::string>& fallback) const;

    // True when the tree served for the component was built from layers that
    // all read and parsed in full; false when it is the copy kept from an
    // earlier complete build, the layers before a broken one, or empty because
    // the service could not be reached. Builds the tree if not yet kept.
    bool isComplete(const std::string& component) const;
    // What is served instead of a complete tree and why, as "the copy in FILE
    // written TIME, as REASON", for diagnostics; empty when the tree is
    // complete or not built.
    std::string getIncompleteReason(const std::string& component) const;

    // Notifies the listener (not owned) of changes at or below the path. The
    // component is registered with the service before its tree is built, or,
    // when the tree was built before, compared once with a rebuild right after
    // the registration: an edit made meanwhile is not lost. Succeeds when the
    // tree could not be read in full, so that the listener hears of the
    // recovery. Throws PapiException when the registration fails, and the
    // errors of building the tree; the listener is then not added.
    void addListener(const NodePath& path, INodeListener* listener);
    // Stops notifying the listener for that path; it is not called again once
    // this returns.
    void removeListener(const NodePath& path, INodeListener* listener);

    void onComponentAdd(const std::string& component) const override;
    void onComponentRemove(const std::string& component) const override;
    void onComponentModify(const std::string& component) const override;
    // Rebuilds the component's tree and tells the listeners what changed. When
    // the rebuild fails the previous tree stays (logged), so the next change is
    // compared against it and listeners keep hearing of changes.
    void onComponentChange(const std::string& component) const;

  private:
    struct Build;
    // What is served for a component.
    struct Served {
        std::shared_ptr<const Tree> tree;
        bool complete = false;
        bool empty = false;  // nothing could be read and no copy was kept
        std::string reason;  // why it is not complete
    };

    // Reads and merges the component's layers; with a broken one, the tree
    // holds only those before it. Throws for service failures other than an
    // unreachable service or an unreadable layer.
    Build buildTree(const std::string& component) const;
    // Merges the first count layers. With a build to fill in (stamps, digest,
    // completeness), stops at the first broken layer, leaving its position in
    // count; the tree then holds part of it.
    static std::unique_ptr<Tree> merged(const std::vector<PolicyLayer>& layers, std::size_t& count,
                                        Build* build);
    // The tree served at the component's first build.
    Served firstServed(const std::string& component, Build build) const;
    // The entry for a component, built if not yet kept; for a caller that
    // holds mMutex.
    const Served& servedOf(std::string_view component) const;
    // Swaps in a rebuild and tells the listeners what changed; logFailure
    // false when the failure was just logged by the first build.
    void rebuild(const std::string& component, bool logFailure) const;
    // Tells the component's listeners what changed from the old tree; every
    // listener's onChangeComplete when the read became complete, changed
    // nodes or not (a listener waiting for a full read learns of it).
    void report(const std::string& component, const Tree& oldTree, const Served& current,
                bool becameComplete) const;
    // getNode for a path not kept in mPaths; for a caller that holds mMutex.
    Node* walk(const std::string& path) const;
    // Forgets the nodes getNode found in the component's tree, before that
    // tree is replaced or freed.
    void forgetPaths(std::string_view component) const;

    TreeCache mCache;
    std::shared_ptr<TreeCacheWriter> mCopies;  // writes the copies off the listeners' path
    // Ordered by std::less<> so that a component is found by a view of a path.
    mutable std::map<std::string, Served, std::less<>> mTrees;
    // Full paths getNode found, so that a read again is one hash lookup: nodes
    // of served trees, which nobody changes. At most kMaxPaths paths of at
    // most kMaxPathLength bytes, whatever the callers ask for.
    static constexpr std::size_t kMaxPaths = 1024;
    static constexpr std::size_t kMaxPathLength = 256;
    mutable std::unordered_map<std::string, Node*> mPaths;
    // The component getNode walked last: programs read mostly one. Entries of
    // mTrees stay where they are until the facade goes.
    mutable std::string mLastComponent;
    mutable const Served* mLastServed = nullptr;
    std::map<std::string, std::unique_ptr<DiffListener>> mDiffListeners;
    // Components registered with the service by this facade.
    mutable std::set<std::string> mRegistered;
    mutable std::recursive_mutex mMutex;
    mutable PolicyAccess mPolicyAccess;
};

}  // namespace vesk::legacy
