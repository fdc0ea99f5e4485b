// SPDX-License-Identifier: LGPL-2.1-or-later
#include "ContextCheck.h"

#include <algorithm>
#include <climits>

#include "ExecLine.h"
#include "LauncherConstants.h"
#include "LayerInfo.h"
#include "NodeLookup.h"
#include "PolicyStore.h"
#include "Provenance.h"
#include "ScopePlan.h"
#include "change/DiffListener.h"
#include "change/INodeListener.h"
#include "change/TreeDiff.h"
#include "model/NodePath.h"
#include "model/PropertyNode.h"
#include "model/StructuralNode.h"
#include "model/Tree.h"
#include "policy/PapiLayer.h"
#include "policy/PolicyLayer.h"

namespace vesk::legacy::hollinctl {

namespace {

class Collector : public INodeListener {
  public:
    explicit Collector(std::vector<ContextCheck::Result::Entry>& changes) : mChanges(changes) {}
    void onNodeAdded(const NodePath& path) override { note("added", path); }
    void onNodeRemoved(const NodePath& path) override { note("removed", path); }
    void onNodeChanged(const NodePath& path) override { note("changed", path); }

  private:
    void note(const char* event, const NodePath& path) {
        mChanges.push_back({path.getComponent() + path.getPath(), event});
    }
    std::vector<ContextCheck::Result::Entry>& mChanges;
};

const PropertyNode* propertyOf(const StructuralNode& group, const char* name) {
    const Node* node = group.findChild(name);
    return node != nullptr ? node->asPropertyNode() : nullptr;
}

// Why the launchers plug-in would skip this launcher, and the name of the node
// to blame; nothing when it writes it.
std::string launcherProblem(const StructuralNode& launcher, const char*& blamed) {
    using namespace plugins::launchers;
    const PropertyNode* name = propertyOf(launcher, kNameKey);
    std::vector<std::string> locales;
    if (name != nullptr) {
        name->getLocales(locales);
    }
    if (name == nullptr || (name->isLocalised() && std::find(locales.begin(), locales.end(),
                                                             "default") == locales.end())) {
        blamed = nullptr;
        return "it has no Name";
    }
    const PropertyNode* type = propertyOf(launcher, kType);
    const PropertyNode* exec = propertyOf(launcher, kExec);
    std::string value, why;
    if (exec == nullptr || exec->isList() ||
        (type != nullptr && !type->isList() && type->getStringValue("default") == kLinkType) ||
        plugins::ExecLine::quote(exec->getStringValue("default"), value, why, true)) {
        return std::string();
    }
    blamed = kExec;
    return "its Exec does not split into arguments: " + why;
}

// The live layers with the checked one in its scope's place (replacing that
// scope's layer); position is its 1-based place in the result.
std::vector<PolicyLayer> placeChecked(const PolicyStore& store,
                                      const std::vector<PolicyLayer>& live,
                                      const PolicyLayer& checked, const std::string& scope,
                                      bool& inStack, int& position) {
    const std::vector<std::string>& scopes = store.plan().scopes();
    auto rankOf = [&](const std::string& layerScope) {
        for (size_t i = 0; i < scopes.size(); ++i) {
            if (scopes[i] == layerScope) {
                return static_cast<long>(i) * 4 + ScopePlan::kindRank(layerScope);
            }
        }
        return -1L;
    };
    long rank = rankOf(scope);
    inStack = rank >= 0;
    const std::vector<LayerInfo> infos = describeLayers(live);
    std::vector<PolicyLayer> merged;
    position = 0;
    bool placed = false;
    for (size_t i = 0; i < live.size(); ++i) {
        const std::string& layerScope = infos[i].scope;
        long layerRank = rankOf(layerScope);
        if (!inStack) {
            // Not in the stack: in the place its kind of scope has.
            layerRank = ScopePlan::kindRank(layerScope);
            rank = ScopePlan::kindRank(scope);
        }
        if (layerScope == scope) {
            continue;  // the file takes this layer's place
        }
        if (!placed && layerRank > rank) {
            merged.push_back(checked);
            position = static_cast<int>(merged.size());
            placed = true;
        }
        merged.push_back(live[i]);
    }
    if (!placed) {
        merged.push_back(checked);
        position = static_cast<int>(merged.size());
    }
    return merged;
}

// What the merge refused or ignored of the layer at position.
void noteRefusals(const Provenance& after, int position, const std::vector<LayerInfo>& infos,
                  ContextCheck::Result& result) {
    after.histories().forEach([&](const NodeHistories::Names& names, const NodeHistory& history) {
        for (int layer : history.refusedFrom) {
            if (layer == position && history.lockedBy > 0 &&
                static_cast<size_t>(history.lockedBy) <= infos.size()) {
                result.refused.push_back(
                    {NodeLookup::pathText(names), layerLabel(infos[history.lockedBy - 1])});
            } else if (layer == position) {
                result.refused.push_back({NodeLookup::pathText(names), "an earlier layer"});
            }
        }
        for (const NodeHistory::Ignored& ignored : history.ignored) {
            if (ignored.layer == position) {
                result.ignored.push_back({NodeLookup::pathText(names), ignored.reason});
            }
        }
    });
}

// The merged launchers the launchers plug-in would skip, with the layer that
// set the node to blame.
void noteSkippedLaunchers(const Provenance& after, const std::string& component,
                          const std::vector<LayerInfo>& infos, ContextCheck::Result& result) {
    const Tree mergedTree(after.getTree());
    const StructuralNode* root =
        mergedTree.getRoot() != nullptr ? mergedTree.getRoot()->asStructuralNode() : nullptr;
    const Node* list = root != nullptr && component + "/" + plugins::launchers::kRootNode ==
                                              plugins::launchers::kLauncherNode
                           ? root->findChild(plugins::launchers::kRootNode)
                           : nullptr;
    std::vector<Node*> launchers;
    if (list != nullptr && list->asStructuralNode() != nullptr) {
        list->asStructuralNode()->getChildNodes(launchers);
    }
    for (const Node* node : launchers) {
        const StructuralNode* launcher = node->asStructuralNode();
        const char* blamed = nullptr;
        const std::string why =
            launcher != nullptr && node->getName().find('/') == std::string::npos
                ? launcherProblem(*launcher, blamed)
                : std::string();
        if (why.empty()) {
            continue;
        }
        NodeHistories::Names names{plugins::launchers::kRootNode, node->getName()};
        if (blamed != nullptr) {
            names.push_back(blamed);
        }
        const NodeHistory* history = after.histories().find(names);
        const int layer = history != nullptr ? history->setBy : 0;
        result.launchers.push_back(
            {NodeLookup::pathText({plugins::launchers::kRootNode, node->getName()}),
             why + (layer > 0 && static_cast<size_t>(layer) <= infos.size()
                        ? " (layer " + layerLabel(infos[layer - 1]) + ")"
                        : std::string())});
    }
}

// The changes the new merge makes to the live one, as watch reports them.
void noteChanges(const std::string& component, const NodePath& path, const Provenance& before,
                 const Provenance& after, ContextCheck::Result& result) {
    DiffListener registry(component);
    Collector collector(result.changes);
    registry.addListener(path, &collector);
    Tree old(before.getTree());
    {
        Tree walked(after.getTree());
        TreeDiff diff(component, &registry, &old);
        walked.substract(old, diff);
    }
    registry.removeListener(path, &collector);
}

}  // namespace

ContextCheck::Result ContextCheck::run(const PolicyStore& store, const std::string& component,
                                       const std::string& scope, const std::string& text) {
    Result result;
    const std::vector<PolicyLayer> live = store.readLayers(component);
    NodePath path;
    path.setPath(component);
    const int size = static_cast<int>(std::min<size_t>(text.size(), INT_MAX));
    const PolicyLayer checked(path, PapiLayer(text.data(), size, scope + " (checked)"));
    int position = 0;
    const std::vector<PolicyLayer> merged =
        placeChecked(store, live, checked, scope, result.inStack, position);
    result.place = std::to_string(position) + " " + scope + " of " + std::to_string(merged.size());

    const Provenance before(live);
    const Provenance after(merged);
    const std::vector<LayerInfo> mergedInfos = describeLayers(merged);
    noteRefusals(after, position, mergedInfos, result);
    noteSkippedLaunchers(after, component, mergedInfos, result);
    noteChanges(component, path, before, after, result);
    return result;
}

}  // namespace vesk::legacy::hollinctl
