// SPDX-License-Identifier: LGPL-2.1-or-later
#include "CrossLayerLint.h"

#include <strings.h>

#include <algorithm>
#include <climits>

#include "DidYouMean.h"
#include "NodeLookup.h"
#include "Provenance.h"
#include "ScopePlan.h"
#include "TextEscape.h"
#include "change/TreeComparator.h"
#include "model/Node.h"
#include "model/NodePath.h"
#include "model/StructuralNode.h"
#include "policy/PapiLayer.h"
#include "policy/PolicyLayer.h"

namespace vesk::legacy::hollinctl {

namespace {

// Launcher and startup entries: the groups right below these lists.
const char* const kEntryLists[] = {"launcher_list", "startup_list"};

void lintEmptyEntries(const std::string& path, const PolicyLayer& layer,
                      std::vector<StoreLint::Finding>& out) {
    const Provenance alone({layer});
    const StructuralNode* root =
        alone.getRoot() != nullptr ? alone.getRoot()->asStructuralNode() : nullptr;
    for (const char* listName : kEntryLists) {
        const Node* list = root != nullptr ? root->getChild(listName) : nullptr;
        const StructuralNode* group = list != nullptr ? list->asStructuralNode() : nullptr;
        std::vector<std::string> entries;
        if (group != nullptr) {
            group->getChildren(entries);
        }
        std::sort(entries.begin(), entries.end());
        for (const std::string& entry : entries) {
            const Node* node = group->getChild(entry);
            const StructuralNode* entryGroup = node->asStructuralNode();
            std::vector<std::string> settings;
            if (entryGroup != nullptr) {
                entryGroup->getChildren(settings);
            }
            if (entryGroup != nullptr && settings.empty() && !isProtected(node->getAttributes())) {
                out.push_back({printable(path),
                               std::string(listName) + "/" + printable(entry) +
                                   " is empty here: where no other layer fills it, it makes an "
                                   "entry with nothing to run",
                               true});
            }
        }
    }
}

}  // namespace

void CrossLayerLint::add(const std::string& scope, const std::string& path,
                         const std::string& component, const std::string& text) {
    mComponents[component].push_back({scope, path, text});
}

void CrossLayerLint::lintLocks(const std::string& component, const std::vector<Layer>& layers,
                               std::vector<StoreLint::Finding>& out) const {
    NodePath componentPath;
    componentPath.setPath(component);
    const auto policyLayer = [&](const Layer& layer) {
        const int size = static_cast<int>(std::min<size_t>(layer.text.size(), INT_MAX));
        return PolicyLayer(componentPath, PapiLayer(layer.text.data(), size, layer.scope));
    };
    const Layer* defaultLayer = nullptr;
    for (const Layer& layer : layers) {
        if (layer.scope == "default") {
            defaultLayer = &layer;
        }
    }
    for (const Layer& later : layers) {
        lintEmptyEntries(later.path, policyLayer(later), out);
        for (const Layer& earlier : layers) {
            if (ScopePlan::kindRank(earlier.scope) >= ScopePlan::kindRank(later.scope)) {
                continue;
            }
            // As one stack with both in it would merge them.
            std::vector<PolicyLayer> stack;
            if (defaultLayer != nullptr && &earlier != defaultLayer) {
                stack.push_back(policyLayer(*defaultLayer));
            }
            stack.push_back(policyLayer(earlier));
            stack.push_back(policyLayer(later));
            const int position = static_cast<int>(stack.size());
            const Provenance merged(stack);
            merged.histories().forEach([&](const NodeHistories::Names& names,
                                           const NodeHistory& history) {
                if (history.lockedBy == position - 1 &&
                    std::find(history.refusedFrom.begin(), history.refusedFrom.end(), position) !=
                        history.refusedFrom.end()) {
                    out.push_back({printable(later.path),
                                   printable(NodeLookup::pathText(names)) + " is locked by " +
                                       printable(earlier.scope) +
                                       ": this layer's change never applies where both are in "
                                       "the stack",
                                   false});
                }
            });
        }
    }
}

void CrossLayerLint::run(std::vector<StoreLint::Finding>& out) const {
    std::vector<std::string> names;
    for (const auto& [component, layers] : mComponents) {
        names.push_back(component);
        lintLocks(component, layers, out);
    }
    // Only names that can hardly be meant apart: "org.a" and "org.b" may be.
    const auto nearOf = [&](const std::string& component) {
        for (const std::string& other : names) {
            if (other != component &&
                (strcasecmp(other.c_str(), component.c_str()) == 0 ||
                 (component.size() >= 8 && component.size() <= 64 && other.size() <= 64 &&
                  DidYouMean::distance(component, other) == 1))) {
                return other;
            }
        }
        return std::string();
    };
    for (const auto& [component, layers] : mComponents) {
        const std::string near = nearOf(component);
        if (!near.empty()) {
            for (const Layer& layer : layers) {
                out.push_back({printable(layer.path),
                               "component " + quotedText(component) + " is a letter or case off " +
                                   quotedText(near) + ": a misspelt name?",
                               true});
            }
        }
    }
}

}  // namespace vesk::legacy::hollinctl
