// SPDX-License-Identifier: LGPL-2.1-or-later
#include "TreeFileText.h"

#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "ExitStatus.h"
#include "LayerFiles.h"
#include "TextEscape.h"
#include "model/Node.h"
#include "model/Tree.h"

namespace vesk::legacy::hollinctl {

std::string TreeFileText::of(const Node* node) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/hollinctl-XXXXXX";
    if (::mkdtemp(&pattern[0]) == nullptr) {
        throw CommandError(kServiceError, "cannot make a directory for the tree file in " +
                                              printable(pattern) + ": " + std::strerror(errno));
    }
    const std::string fileName = pattern + "/tree.xml";
    std::string text;
    std::string problem;
    {
        Tree tree;
        tree.setRoot(node != nullptr ? node->clone(true) : nullptr);
        tree.serialize(fileName);
    }
    const bool written = LayerFiles::read(fileName, text, problem);
    ::unlink(fileName.c_str());
    ::rmdir(pattern.c_str());
    if (!written) {
        throw CommandError(kServiceError, "cannot write the tree file: " + problem);
    }
    return text;
}

}  // namespace vesk::legacy::hollinctl
