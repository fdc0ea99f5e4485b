// SPDX-License-Identifier: LGPL-2.1-or-later
// Tree::serialize and Tree::unserialize: the tree file, written and read back.
#include <algorithm>
#include <climits>
#include <string>

#include "layers/TreeMerger.h"
#include "model/LogText.h"
#include "model/Logger.h"
#include "model/Node.h"
#include "model/Tree.h"
#include "output/NodeSerialize.h"
#include "output/RegularFile.h"
#include "output/TreeFileFormat.h"
#include "output/TreeFileReader.h"

namespace vesk::legacy {

namespace {

// A file holding the header and nothing else is an empty tree, not a broken file.
bool isHeaderOnly(const std::string& text) {
    const std::string declarationStart = "<?xml";
    if (text.compare(0, declarationStart.size(), declarationStart) != 0) {
        return false;
    }
    const size_t end = text.find("?>");
    if (end == std::string::npos || text.find('<', 1) < end) {
        return false;
    }
    return std::all_of(text.begin() + static_cast<std::ptrdiff_t>(end + 2), text.end(),
                       [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; });
}

}  // namespace

void Tree::serialize(const std::string& fileName) const {
    // The reader takes only a group as the outermost element: a tree whose
    // root is a property (a layer may build one) would replace the old file by
    // one that cannot be read back.
    if (mRoot && !mRoot->asStructuralNode()) {
        Logger::error("Cannot write tree file %s: the tree's root is a property, not a group\n",
                      logText(fileName).c_str());
        return;
    }
    NodeSerialize writer(fileName);
    writer.open();
    if (mRoot) {
        mRoot->visit(writer);
    }
    writer.close();
}

void Tree::unserialize(const std::string& fileName) {
    std::string text;
    std::string problem;
    if (!readRegularFile(fileName, INT_MAX, "the file is too large", text, problem)) {
        Logger::warning("Cannot read tree file %s: %s\n", logText(fileName).c_str(),
                        logText(problem).c_str());
        return;
    }
    // The writer puts line feeds only around elements and values; a line feed
    // that belongs to a value is written as a reference and survives this.
    text.erase(std::remove(text.begin(), text.end(), '\n'), text.end());
    if (isHeaderOnly(text)) {
        delete mRoot;
        mRoot = nullptr;
        return;
    }

    TreeMerger merger;
    bool whole = false;
    try {
        whole = TreeFileReader(std::move(text)).read(merger, problem);
    } catch (...) {
        merger.takeTree();  // dropped: the merger never frees the tree it built
        throw;
    }
    std::unique_ptr<Tree> read = merger.takeTree();
    if (!whole) {
        Logger::warning("Cannot read tree file %s: %s\n", logText(fileName).c_str(),
                        logText(problem).c_str());
        return;
    }
    if (!read || !read->getRoot()) {
        Logger::warning("Cannot read tree file %s: it holds no tree\n", logText(fileName).c_str());
        return;
    }
    // Taken over rather than copied: the merger's tree is freed empty.
    delete mRoot;
    mRoot = read->getRoot();
    read->setRoot(nullptr);
}

}  // namespace vesk::legacy
