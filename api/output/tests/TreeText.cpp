#include "TreeText.h"

#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "model/PropertyNode.h"
#include "model/StructuralNode.h"
#include "model/Tree.h"

using namespace vesk::legacy;

namespace outputtest {

namespace {

std::vector<std::string> sMessages;

template <typename NodeType>
NodeType& adopt(StructuralNode& parent, NodeType* node, int attributes) {
    node->setAttributes(attributes);
    parent.adoptChild(*node);
    return *node;
}

std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<unsigned char>(c));
        out += (c == '"' || c == '\\' || static_cast<unsigned char>(c) < 0x20) ? escaped
                                                                               : std::string(1, c);
    }
    return out + "\"";
}

void describe(const Node& node, const std::string& indent, std::string& out) {
    const std::string bits = " bits=" + std::to_string(node.getAttributes()) + "\n";
    if (const StructuralNode* structural = node.asStructuralNode()) {
        out += indent + "group " + quoted(node.getName()) + bits;
        std::vector<std::string> names;
        structural->getChildren(names);
        for (const auto& name : names) {
            describe(*structural->getChild(name), indent + "  ", out);
        }
        return;
    }
    const PropertyNode& property = *node.asPropertyNode();
    out += indent + "prop " + quoted(node.getName()) +
           " type=" + std::to_string(property.getType()) + bits;
    std::vector<std::string> locales;
    property.getLocales(locales);
    for (const auto& locale : locales) {
        out += indent + "  [" + quoted(locale) + "]";
        const PropertyNode::Value* value = property.findBestValue(locale);
        if (!value || !value->isSet()) {
            out += " no value";
        } else if (!property.isList()) {
            out += " " + quoted(property.getStringValue(locale));
        }
        for (const auto& item : property.getListValue(locale)) {
            out += " item " + quoted(item);
        }
        out += "\n";
    }
}

}  // namespace

StructuralNode& root(Tree& tree, const std::string& name, int attributes) {
    auto* node = new StructuralNode(name);
    node->setAttributes(attributes);
    tree.setRoot(node);
    return *node;
}

StructuralNode& group(StructuralNode& parent, const std::string& name, int attributes) {
    return adopt(parent, new StructuralNode(name), attributes);
}

PropertyNode& property(StructuralNode& parent, const std::string& name, PropertyType type,
                       int attributes) {
    return adopt(parent, new PropertyNode(name, type), attributes);
}

std::string treeText(const Tree& tree) {
    std::string out = "(empty tree)\n";
    if (tree.getRoot()) {
        out.clear();
        describe(*tree.getRoot(), "", out);
    }
    return out;
}

const std::vector<std::string>& loggedMessages() {
    return sMessages;
}

void clearLog() {
    sMessages.clear();
}

std::string loggedText() {
    std::string all;
    for (const auto& message : sMessages) {
        all += message;
    }
    return all;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::vector<std::string> directoryEntries(const std::string& directory) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

ScratchDirectory::ScratchDirectory() : mPath(HOLLIN_BINARY_DIR "/output-test-XXXXXX") {
    if (!::mkdtemp(mPath.data())) {
        std::abort();
    }
}

ScratchDirectory::~ScratchDirectory() {
    std::filesystem::remove_all(mPath);
}

}  // namespace outputtest

// The system log seam: these replace libc's functions in this binary and
// record every message the logger sends.
extern "C" void openlog(const char*, int, int) {}
extern "C" void closelog(void) {}

extern "C" void vsyslog(int, const char* format, va_list args) {
    char* text = nullptr;
    if (vasprintf(&text, format, args) >= 0) {
        outputtest::sMessages.push_back(text);
        std::free(text);
    }
}

// Reached instead of vsyslog when the library is built with _FORTIFY_SOURCE.
extern "C" void __vsyslog_chk(int priority, int, const char* format, va_list args) {
    vsyslog(priority, format, args);
}
