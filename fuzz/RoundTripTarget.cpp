// SPDX-License-Identifier: LGPL-2.1-or-later
// The tree file round trip on trees merged from untrusted layers: the input is
// one layer (as in the layer target, without filter), merged into a tree that
// is written, read back and compared (RoundTrip.h). A second layer after
// "\n%%\n" is merged on top first, so read-only nodes are written as well.
#include <memory>
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "FuzzTargets.h"
#include "RoundTrip.h"
#include "TreeChecks.h"
#include "layers/TreeMerger.h"
#include "layers/XmlUpdateLayer.h"
#include "model/Tree.h"

namespace vesk::legacy::fuzz {

int fuzzRoundTrip(const uint8_t* data, size_t size) {
    TreeMerger merger;
    for (const std::string& text : splitFields(data, size, "\n%%\n", 2)) {
        merger.merge(XmlUpdateLayer(text.data(), static_cast<int>(text.size())));
    }
    std::unique_ptr<Tree> tree(merger.getTree());
    if (!tree) {
        tree = std::make_unique<Tree>();
    }
    checkInvariants(*tree);
    checkRoundTrip(*tree, "a tree merged from layers");
    return 0;
}

}  // namespace vesk::legacy::fuzz
