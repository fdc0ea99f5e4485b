// SPDX-License-Identifier: LGPL-2.1-or-later
#include "DidYouMean.h"

#include <strings.h>

#include <algorithm>

#include "TextEscape.h"
#include "model/EditDistance.h"
#include "model/Node.h"
#include "model/StructuralNode.h"

namespace vesk::legacy::hollinctl {

namespace {

// Longer names are not compared: the table grows with their product.
const size_t kLongest = 64;

}  // namespace

size_t DidYouMean::distance(const std::string& a, const std::string& b) {
    return editDistance(a, b);
}

std::string DidYouMean::closest(const std::string& word, const std::vector<std::string>& known) {
    if (word.size() > kLongest) {
        return "";
    }
    std::string best;
    // Two edits only for names long enough that two edits leave them apart.
    size_t bestDistance = word.size() > 4 ? 3 : 2;
    for (const std::string& name : known) {
        if (name == word || name.size() > kLongest) {
            continue;
        }
        const size_t found = strcasecmp(name.c_str(), word.c_str()) == 0 ? 0 : distance(word, name);
        if (found < bestDistance) {
            best = name;
            bestDistance = found;
        }
    }
    return best;
}

std::string DidYouMean::hint(const std::string& word, const std::vector<std::string>& known) {
    const std::string best = closest(word, known);
    return best.empty() ? "" : " (did you mean " + printable(best) + "?)";
}

std::string DidYouMean::forPath(const Node* root, const std::vector<std::string>& names) {
    std::size_t found = 0;
    const Node* deepest = StructuralNode::findDeepest(root, names, found);
    const StructuralNode* group = deepest != nullptr ? deepest->asStructuralNode() : nullptr;
    if (found == names.size() || group == nullptr) {
        return "";
    }
    std::vector<std::string> siblings;
    group->getChildren(siblings);
    return hint(names[found], siblings);
}

}  // namespace vesk::legacy::hollinctl
