#include "TreeText.h"

#include <ftw.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "model/PropertyNode.h"
#include "model/StructuralNode.h"
#include "model/Tree.h"

using namespace vesk::legacy;

namespace outputtest {

namespace {

std::vector<std::string> sMessages;

std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20 || byte == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

void describe(const Node& node, int depth, std::string& out) {
    out += std::string(static_cast<size_t>(depth) * 2, ' ');
    const PropertyNode* property = node.asPropertyNode();
    if (!property) {
        out += "group " + quoted(node.getName()) + " bits=" + std::to_string(node.getAttributes()) +
               "\n";
        std::vector<std::string> names;
        node.asStructuralNode()->getChildren(names);
        for (const auto& name : names) {
            describe(*node.asStructuralNode()->getChild(name), depth + 1, out);
        }
        return;
    }
    out += "prop " + quoted(node.getName()) + " type=" + std::to_string(property->getType()) +
           " bits=" + std::to_string(node.getAttributes()) + "\n";
    std::vector<std::string> locales;
    property->getLocales(locales);
    for (const auto& locale : locales) {
        out += std::string(static_cast<size_t>(depth) * 2 + 2, ' ') + "[" + quoted(locale) + "] ";
        const PropertyNode::Value* value = property->findBestValue(locale);
        if (!value || !value->isSet()) {
            out += "no value\n";
        } else if (property->isList()) {
            out += "list";
            for (const auto& item : property->getListValue(locale)) {
                out += " " + quoted(item);
            }
            out += "\n";
        } else {
            out += quoted(property->getStringValue(locale)) + "\n";
        }
    }
}

int removeEntry(const char* path, const struct stat*, int, struct FTW*) {
    return ::remove(path);
}

}  // namespace

std::string treeText(const Tree& tree) {
    if (!tree.getRoot()) {
        return "(empty tree)\n";
    }
    std::string out;
    describe(*tree.getRoot(), 0, out);
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
    if (!in) {
        throw std::runtime_error("cannot read " + path);
    }
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

std::string makeTempDirectory() {
    std::string pattern = std::string(HOLLIN_BINARY_DIR) + "/output-test-XXXXXX";
    if (!::mkdtemp(pattern.data())) {
        throw std::runtime_error("cannot create a directory under " HOLLIN_BINARY_DIR);
    }
    return pattern;
}

void removeTree(const std::string& path) {
    ::nftw(path.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
}

}  // namespace outputtest

// The system log seam: these definitions replace libc's in this binary and
// record every message the logger sends.
extern "C" void openlog(const char*, int, int) {}

extern "C" void closelog(void) {}

extern "C" void vsyslog(int, const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
    std::vsnprintf(text.data(), text.size() + 1, format, args);
    outputtest::sMessages.push_back(text);
}

// Reached instead of vsyslog when the library is built with _FORTIFY_SOURCE.
extern "C" void __vsyslog_chk(int priority, int, const char* format, va_list args) {
    vsyslog(priority, format, args);
}
