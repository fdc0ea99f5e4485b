// SPDX-License-Identifier: LGPL-2.1-or-later
#include "Provenance.h"

#include "DiffRecorder.h"
#include "RefusalTap.h"
#include "layers/TreeMerger.h"
#include "model/Tree.h"
#include "policy/PolicyLayer.h"

namespace vesk::legacy::hollinctl {

namespace {

// A copy of what the merger has built so far (an empty tree before its root).
std::unique_ptr<Tree> snapshot(const TreeMerger& merger) {
    const Tree* built = merger.getTree();
    return built != nullptr ? std::make_unique<Tree>(*built) : std::make_unique<Tree>();
}

}  // namespace

Provenance::Provenance(const std::vector<PolicyLayer>& layers) {
    TreeMerger merger;
    try {
        std::unique_ptr<Tree> previous = std::make_unique<Tree>();
        for (size_t i = 0; i < layers.size(); ++i) {
            const int position = static_cast<int>(i) + 1;
            RefusalTap tapped(layers[i], merger, position, mBook);
            merger.merge(tapped);
            std::unique_ptr<Tree> current = snapshot(merger);
            DiffRecorder recorder(position, mBook);
            if (i + 1 == layers.size()) {
                // Nothing compares with the last snapshot: the walk may have it.
                current->substract(*previous, recorder);
                break;
            }
            // The walked tree may be changed by the walk (a property turned
            // localised to compare by locale), so walk a copy.
            Tree walked(*current);
            walked.substract(*previous, recorder);
            previous = std::move(current);
        }
    } catch (...) {
        // Taken by nobody yet: the merger never frees its tree.
        merger.takeTree();
        throw;
    }
    mTree = merger.takeTree();
    if (!mTree) {
        mTree = std::make_unique<Tree>();
    }
}

Provenance::~Provenance() = default;

Node* Provenance::getRoot() const {
    return mTree->getRoot();
}

const NodeHistory* Provenance::find(const NodeHistories::Names& names) const {
    return mBook.find(names);
}

}  // namespace vesk::legacy::hollinctl
