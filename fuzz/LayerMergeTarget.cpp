// SPDX-License-Identifier: LGPL-2.1-or-later
// Layer reading and merging on untrusted layers, as the configuration facade
// builds a component's tree: the input is cut at "\n%%\n" into one to three
// layers (the third takes the rest), and each is read through the policy
// layer filter into one merger, in order. An input whose first line starts
// with "/" names the subtree the layers are filtered to ("/Applications"
// keeps only what lies at or below the root's child Applications); without it
// the whole layer counts, as for every component the facade reads.
//
// Findings: a broken tree invariant after any layer; a copy of the tree that
// does not compare equal, or whose comparison with the tree sends a change;
// a comparison that sends an unbalanced event stream; a tree compared with an
// empty one whose events, merged into a fresh merger, do not rebuild it (names,
// kinds, types, values per locale).
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "CheckingHandler.h"
#include "FuzzInput.h"
#include "FuzzTargets.h"
#include "TreeChecks.h"
#include "layers/TreeMerger.h"
#include "model/NodePath.h"
#include "model/Tree.h"
#include "policy/PapiLayer.h"
#include "policy/PolicyLayer.h"

namespace vesk::legacy::fuzz {

namespace {

constexpr char kComponent[] = "fuzz.component";

// Takes the merger's tree, empty when no layer made one.
std::unique_ptr<Tree> takeTree(TreeMerger& merger) {
    std::unique_ptr<Tree> tree(merger.getTree());
    return tree ? std::move(tree) : std::make_unique<Tree>();
}

void checkCopy(const Tree& tree) {
    const Tree copy(tree);
    checkInvariants(copy);
    const std::string difference = treeDifference(tree, copy, kProtection | kLocalisation);
    if (!difference.empty()) {
        finding("copy of a merged tree: " + difference);
    }
    CheckingHandler equal("copy compared with its original", nullptr);
    copy.substract(tree, equal);
    equal.checkComplete();
    if (equal.changes() != 0) {
        finding("a tree compared with its own copy sent " + std::to_string(equal.changes()) +
                " change events");
    }
}

// Everything in the tree is new against an empty tree, so its events must
// build it again from nothing. Protection is not compared: the comparison
// reports a node's protection as "became protected" (bit 1), not read-only.
void checkRebuild(const Tree& tree) {
    TreeMerger replay;
    {
        CheckingHandler events("tree compared with an empty tree", &replay);
        tree.substract(Tree(), events);
        events.checkComplete();
    }
    const std::unique_ptr<Tree> rebuilt = takeTree(replay);
    checkInvariants(*rebuilt);
    const std::string difference = treeDifference(tree, *rebuilt, kValuesOnly);
    if (!difference.empty()) {
        finding("events against an empty tree do not rebuild it: " + difference);
    }
}

}  // namespace

int fuzzLayerMerge(const uint8_t* data, size_t size) {
    NodePath path(kComponent, {});
    size_t skip = 0;
    if (size > 0 && data[0] == '/') {
        // The first line only: the input can be 1 MiB.
        const std::string_view text(reinterpret_cast<const char*>(data), size);
        const size_t lineEnd = text.find('\n');
        skip = lineEnd == std::string_view::npos ? size : lineEnd + 1;
        path.setPath(kComponent + std::string(text.substr(
                                      0, lineEnd == std::string_view::npos ? size : lineEnd)));
    }
    const std::vector<std::string> layers = splitFields(data + skip, size - skip, "\n%%\n", 3);

    TreeMerger merger;
    std::unique_ptr<Tree> before;
    for (size_t i = 0; i < layers.size(); ++i) {
        if (i + 1 == layers.size() && merger.getTree()) {
            before = std::make_unique<Tree>(*merger.getTree());
        }
        const PapiLayer papiLayer(layers[i].data(), static_cast<int>(layers[i].size()), "fuzz");
        merger.merge(PolicyLayer(path, papiLayer));
        if (merger.getTree()) {
            checkInvariants(*merger.getTree());
        }
    }
    const std::unique_ptr<Tree> tree = takeTree(merger);

    checkCopy(*tree);
    checkRebuild(*tree);
    if (before) {
        CheckingHandler lastLayer("tree compared with the tree before its last layer", nullptr);
        tree->substract(*before, lastLayer);
        lastLayer.checkComplete();
        checkInvariants(*tree);
    }
    return 0;
}

}  // namespace vesk::legacy::fuzz
