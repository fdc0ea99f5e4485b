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
// running nor called again. Nodes and value references handed out stay valid
// until the next change of their component.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "policy/IPolicyListener.h"
#include "policy/PolicyAccess.h"

namespace vesk::legacy {

class DiffListener;
class INodeListener;
class Node;
class NodePath;
class Tree;

class ConfigurationAccess : public IPolicyListener {
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

    // The node at the path, or null. Throws what building the tree throws.
    Node* getNode(const std::string& path) const;
    // The value of the property at the path for the locale "default"; a shared
    // empty string or list when there is no such property.
    const std::string& getStringValue(const std::string& path) const;
    const std::vector<std::string>& getListValue(const std::string& path) const;
    // The component's merged tree, built if not yet kept; never null. A failed
    // build stores nothing, so the next read asks the service again.
    Tree* getTree(const std::string& component) const;

    // Notifies the listener (not owned) of changes at or below the path. Builds
    // the component's tree first. Throws PapiException and the errors of
    // building the tree; the listener is then not added.
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
    // Reads and merges the component's layers into a new tree.
    std::unique_ptr<Tree> buildTree(const std::string& component) const;
    // getTree for a caller that holds mMutex.
    Tree* treeOf(std::string_view component) const;

    // Ordered by std::less<> so that a component is found by a view of a path.
    mutable std::map<std::string, std::unique_ptr<Tree>, std::less<>> mTrees;
    std::map<std::string, std::unique_ptr<DiffListener>> mDiffListeners;
    mutable std::recursive_mutex mMutex;
    PolicyAccess mPolicyAccess;
};

}  // namespace vesk::legacy
