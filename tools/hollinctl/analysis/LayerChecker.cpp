// SPDX-License-Identifier: LGPL-2.1-or-later
#include "LayerChecker.h"

#include <algorithm>
#include <climits>
#include <filesystem>
#include <memory>

#include "SettingsCheck.h"
#include "SettingsMapping.h"
#include "TextEscape.h"
#include "layers/TreeMerger.h"
#include "layers/XmlUpdateLayer.h"
#include "model/Node.h"
#include "model/StructuralNode.h"
#include "model/Tree.h"

namespace vesk::legacy::hollinctl {

namespace {

// libxml2's words for the mistakes people make by hand, with what to write.
std::string withHint(const std::string& message) {
    if (message.find("xmlParseEntityRef: no name") != std::string::npos ||
        message.find("EntityRef: expecting ';'") != std::string::npos) {
        return message + " (a bare \"&\": write &amp;)";
    }
    if (message.find("StartTag: invalid element name") != std::string::npos) {
        return message + " (a bare \"<\": write &lt;)";
    }
    return message;
}

}  // namespace

namespace {

const std::string kSettingsName =
    std::string("zel:name=\"") + settings::SettingsMapping::kComponent + "\"";

}  // namespace

LayerChecker::LayerChecker(std::string text, bool mergedLast)
    : mText(std::move(text)), mMergedLast(mergedLast) {}

bool LayerChecker::isMergedLast(const std::string& fileName) {
    std::error_code error;
    const std::filesystem::path path =
        std::filesystem::absolute(fileName, error).lexically_normal();
    if (error) {
        return false;
    }
    const std::string scope = path.parent_path().parent_path().filename().string();
    return scope == "users" || scope == "entities";
}

void LayerChecker::onFinding(int line, int column, const std::string& message) {
    mFindings.push_back(Finding{line, column, printable(message)});
}

void LayerChecker::onFinalisation(const std::vector<std::string>& names, const std::string& what,
                                  int line) {
    // For the settings component a lock in the last scope is meaningful:
    // dconf holds it against the user's own changes.
    if (mMergedLast && mText.find(kSettingsName) == std::string::npos) {
        onFinding(line, 0,
                  "finalising " + what +
                      " has no effect: this scope is merged last, so no later layer is there "
                      "to keep out");
    } else {
        mFinalisations.push_back(Finalisation{names, what, line});
    }
}

std::vector<LayerChecker::Finding> LayerChecker::check() {
    mFindings.clear();
    mFinalisations.clear();

    // The library's reader and merger, exactly as a layer from the service.
    const int size = static_cast<int>(std::min<size_t>(mText.size(), INT_MAX));
    XmlUpdateLayer layer(mText.data(), size);
    TreeMerger merger;
    XmlUpdateLayer::ParseError error;
    const bool wellFormed = layer.read(merger, &error, this);
    const std::unique_ptr<Tree> merged = merger.takeTree();
    if (!wellFormed) {
        onFinding(error.line, error.column, "malformed XML: " + withHint(error.message));
    }

    Node* root = merged != nullptr ? merged->getRoot() : nullptr;
    for (const Finalisation& finalisation : mFinalisations) {
        const Node* node = StructuralNode::findPath(root, finalisation.names);
        if (node == nullptr || (node->getAttributes() & Node::kFinalised) == 0) {
            onFinding(finalisation.line, 0,
                      "finalising " + finalisation.what +
                          " has no effect: a later element of this layer removes or replaces it "
                          "(or a node above it)");
        }
    }
    if (root != nullptr && mText.find(kSettingsName) != std::string::npos) {
        for (const std::string& warning : settings::SettingsCheck::run(root)) {
            onFinding(0, 0, warning);
        }
    }
    std::stable_sort(mFindings.begin(), mFindings.end(),
                     [](const Finding& a, const Finding& b) { return a.line < b.line; });
    return mFindings;
}

}  // namespace vesk::legacy::hollinctl
