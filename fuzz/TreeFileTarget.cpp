// SPDX-License-Identifier: LGPL-2.1-or-later
// Tree::unserialize on untrusted files: the input is the file, read into an
// empty tree and into a copy of a tree that holds groups, lists, locales and
// protection. What a file gives must not depend on what the tree held, so
// both trees must end up equal, or, for a file that is refused, the empty tree
// empty and the full one unchanged. A tree read must also survive its own
// round trip (RoundTrip.h).
#include <fstream>
#include <memory>
#include <string>

#include "FuzzTargets.h"
#include "RoundTrip.h"
#include "ScratchDirectory.h"
#include "TreeChecks.h"
#include "layers/TreeMerger.h"
#include "layers/XmlUpdateLayer.h"
#include "model/Tree.h"

namespace vesk::legacy::fuzz {

namespace {

// Two layers: the first finalises a group, so the tree has read-only nodes.
constexpr char kFirstLayer[] =
    "<zel:component-data zel:name=\"full\">"
    "<node zel:name=\"kept\" zel:finalized=\"true\">"
    "<prop zel:name=\"text\"><value>old</value><value xml:lang=\"de\">alt</value></prop>"
    "</node></zel:component-data>";
constexpr char kSecondLayer[] =
    "<zel:component-data zel:name=\"full\">"
    "<node zel:name=\"list\"><prop zel:name=\"items\" zel:type=\"zel:string-list\">"
    "<value>a b</value></prop>"
    "<prop zel:name=\"final\" zel:type=\"xs:int\" zel:finalized=\"true\"><value>7</value></prop>"
    "</node></zel:component-data>";

const Tree& fullTree() {
    static const std::unique_ptr<Tree> sTree = [] {
        TreeMerger merger;
        merger.merge(XmlUpdateLayer(kFirstLayer, sizeof kFirstLayer - 1));
        merger.merge(XmlUpdateLayer(kSecondLayer, sizeof kSecondLayer - 1));
        return std::unique_ptr<Tree>(merger.getTree());
    }();
    return *sTree;
}

}  // namespace

int fuzzTreeFile(const uint8_t* data, size_t size) {
    const std::string file = ScratchDirectory::path() + "/input.xml";
    std::ofstream(file, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));

    Tree empty;
    empty.unserialize(file);
    checkInvariants(empty);
    Tree full(fullTree());
    full.unserialize(file);
    checkInvariants(full);

    const int everything = kProtection | kLocalisation;
    if (empty.getRoot()) {
        const std::string difference = treeDifference(empty, full, everything);
        if (!difference.empty()) {
            finding("a file read into an empty and into a full tree: " + difference);
        }
        checkRoundTrip(empty, "a tree read from a file");
        return 0;
    }
    // Refused, or a file holding an empty tree, which empties the full one.
    if (full.getRoot()) {
        const std::string difference = treeDifference(fullTree(), full, everything);
        if (!difference.empty()) {
            finding("a refused file changed the tree: " + difference);
        }
    }
    return 0;
}

}  // namespace vesk::legacy::fuzz
