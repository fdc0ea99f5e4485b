// SPDX-License-Identifier: LGPL-2.1-or-later
#include "EditPrecheck.h"

#include <algorithm>
#include <climits>

#include "DidYouMean.h"
#include "LayerInfo.h"
#include "NodeLookup.h"
#include "PolicyStore.h"
#include "Provenance.h"
#include "ScopePlan.h"
#include "model/Node.h"
#include "model/NodePath.h"
#include "model/StructuralNode.h"
#include "policy/PapiLayer.h"

namespace vesk::legacy::hollinctl {

namespace {

// names and the history's key lie on one branch: one is a prefix of the other.
bool onBranch(const std::vector<std::string>& names, const std::vector<std::string>& key) {
    const size_t common = std::min(names.size(), key.size());
    return std::equal(names.begin(), names.begin() + static_cast<long>(common), key.begin());
}

}  // namespace

EditPrecheck::EditPrecheck(const PolicyStore& stack, const std::string& component,
                           const std::string& scope)
    : mComponent(component), mScope(scope) {
    const std::vector<PolicyLayer> layers = stack.readLayers(component);
    const std::vector<LayerInfo> infos = describeLayers(layers);
    const std::vector<std::string>& scopes = stack.plan().scopes();
    const auto at = std::find(scopes.begin(), scopes.end(), scope);
    for (size_t i = 0; i < layers.size(); ++i) {
        const auto layerAt = std::find(scopes.begin(), scopes.end(), infos[i].scope);
        const bool earlier = at != scopes.end() && layerAt != scopes.end()
                                 ? layerAt < at
                                 : ScopePlan::kindRank(infos[i].scope) < ScopePlan::kindRank(scope);
        if (earlier) {
            mEarlier.push_back(layers[i]);
        }
    }
    mMerged = std::make_unique<Provenance>(mEarlier);
}

EditPrecheck::~EditPrecheck() = default;

std::vector<PolicyLayer> EditPrecheck::with(const std::string& text) const {
    std::vector<PolicyLayer> layers = mEarlier;
    NodePath path;
    path.setPath(mComponent);
    const int size = static_cast<int>(std::min<size_t>(text.size(), INT_MAX));
    layers.emplace_back(path, PapiLayer(text.data(), size, mScope + " (edited)"));
    return layers;
}

const Node* EditPrecheck::before(const std::vector<std::string>& names) const {
    return StructuralNode::findPath(mMerged->getRoot(), names);
}

std::vector<std::string> EditPrecheck::problems(const std::vector<std::string>& names,
                                                const std::string& text) const {
    const std::vector<PolicyLayer> layers = with(text);
    const Provenance merged(layers);
    const std::vector<LayerInfo> infos = describeLayers(mEarlier);
    const int edited = static_cast<int>(layers.size());
    std::vector<std::string> found;
    merged.histories().forEach([&](const NodeHistories::Names& key, const NodeHistory& history) {
        if (!onBranch(names, key)) {
            return;
        }
        const bool refused = std::find(history.refusedFrom.begin(), history.refusedFrom.end(),
                                       edited) != history.refusedFrom.end();
        if (refused && history.lockedBy > 0 &&
            static_cast<size_t>(history.lockedBy) <= infos.size()) {
            found.push_back("locked by " + layerLabel(infos[history.lockedBy - 1]));
        } else if (refused) {
            found.push_back("locked by an earlier layer");
        }
        for (const NodeHistory::Ignored& ignored : history.ignored) {
            if (ignored.layer == edited) {
                found.push_back("its type clashes: " + ignored.reason);
            }
        }
    });
    std::sort(found.begin(), found.end());
    found.erase(std::unique(found.begin(), found.end()), found.end());
    return found;
}

bool EditPrecheck::exists(const std::vector<std::string>& names, const std::string& text,
                          std::string& hint) const {
    const Provenance merged(with(text));
    hint.clear();
    if (StructuralNode::findPath(merged.getRoot(), names) != nullptr) {
        return true;
    }
    hint = DidYouMean::forPath(merged.getRoot(), names);
    return false;
}

}  // namespace vesk::legacy::hollinctl
