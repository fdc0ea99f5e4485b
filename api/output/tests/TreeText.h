// Test helpers: a tree written out as text that names every structural detail
// (kinds, names, types, all attribute bits, every locale and whether it holds
// a value), so two trees are equal exactly when their texts are; and the
// system-log messages this binary recorded.
#pragma once

#include <string>
#include <vector>

namespace vesk::legacy {
class Tree;
}

namespace outputtest {

std::string treeText(const vesk::legacy::Tree& tree);

// Messages sent to the system log since the last clearLog(), formatted.
const std::vector<std::string>& loggedMessages();
void clearLog();
// All messages in one text, for failure output and substring checks.
std::string loggedText();

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);
// A fresh empty directory for one test.
std::string makeTempDirectory();
void removeTree(const std::string& path);

}  // namespace outputtest
