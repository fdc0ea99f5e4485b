// SPDX-License-Identifier: LGPL-2.1-or-later
#include "DidYouMean.h"

#include <strings.h>

#include <algorithm>

#include "TextEscape.h"
#include "model/Node.h"
#include "model/StructuralNode.h"

namespace vesk::legacy::hollinctl {

namespace {

// Longer names are not compared: the table grows with their product.
const size_t kLongest = 64;

}  // namespace

size_t DidYouMean::distance(const std::string& a, const std::string& b) {
    std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
    for (size_t i = 0; i <= a.size(); ++i) {
        d[i][0] = i;
    }
    for (size_t j = 0; j <= b.size(); ++j) {
        d[0][j] = j;
    }
    for (size_t i = 1; i <= a.size(); ++i) {
        for (size_t j = 1; j <= b.size(); ++j) {
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1,
                                d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
            }
        }
    }
    return d[a.size()][b.size()];
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
    const Node* node = root;
    for (const std::string& name : names) {
        const StructuralNode* group = node != nullptr ? node->asStructuralNode() : nullptr;
        if (group == nullptr) {
            return "";
        }
        node = group->getChild(name);
        if (node == nullptr) {
            std::vector<std::string> siblings;
            group->getChildren(siblings);
            return hint(name, siblings);
        }
    }
    return "";
}

}  // namespace vesk::legacy::hollinctl
