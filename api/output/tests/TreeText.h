// Test helpers: trees built in a line, a tree as text naming every structural
// detail (kinds, names, types, all attribute bits, each locale and whether it
// holds a value) so that two trees are equal exactly when their texts are, the
// system-log messages this binary recorded, and scratch directories.
#pragma once

#include <string>
#include <vector>

#include "model/PropertyType.h"

namespace vesk::legacy {
class PropertyNode;
class StructuralNode;
class Tree;
}  // namespace vesk::legacy

namespace outputtest {

vesk::legacy::StructuralNode& root(vesk::legacy::Tree& tree, const std::string& name,
                                   int attributes = 0);
vesk::legacy::StructuralNode& group(vesk::legacy::StructuralNode& parent, const std::string& name,
                                    int attributes = 0);
vesk::legacy::PropertyNode& property(vesk::legacy::StructuralNode& parent, const std::string& name,
                                     vesk::legacy::PropertyType type, int attributes = 0);

std::string treeText(const vesk::legacy::Tree& tree);

// Messages sent to the system log since the last clearLog(), formatted.
const std::vector<std::string>& loggedMessages();
void clearLog();
std::string loggedText();

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);
std::vector<std::string> directoryEntries(const std::string& directory);  // sorted

// A fresh directory under the build tree, removed with its content at the end.
class ScratchDirectory {
  public:
    ScratchDirectory();
    ~ScratchDirectory();
    const std::string& path() const { return mPath; }

  private:
    std::string mPath;
};

}  // namespace outputtest
