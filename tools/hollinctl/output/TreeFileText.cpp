// SPDX-License-Identifier: LGPL-2.1-or-later
#include "TreeFileText.h"

#include "ExitStatus.h"
#include "TextEscape.h"
#include "output/NodeSerialize.h"

namespace vesk::legacy::hollinctl {

std::string TreeFileText::of(const Node* node) {
    std::string text;
    std::string problem;
    if (!NodeSerialize::toText(node, text, problem)) {
        throw CommandError(kServiceError, "cannot write the tree file: " + printable(problem));
    }
    return text;
}

}  // namespace vesk::legacy::hollinctl
