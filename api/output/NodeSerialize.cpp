// SPDX-License-Identifier: LGPL-2.1-or-later
#include "output/NodeSerialize.h"

#include <cstdint>

#include "model/LogText.h"
#include "model/Logger.h"
#include "model/Node.h"
#include "model/PropertyNode.h"
#include "model/StructuralNode.h"
#include "output/TreeFileFormat.h"
#include "output/XmlText.h"

namespace vesk::legacy {

const char* const kTreeFileTypeNames[14] = {
    "xs:boolean",   "xs:short",       "xs:int",          "xs:long",           "xs:double",
    "xs:string",    "xs:hexBinary",   "xs:boolean-list", "xs:short-list",     "xs:int-list",
    "xs:long-list", "xs:double-list", "xs:string-list",  "xs:hexBinary-list",
};

const char* treeFileTypeName(PropertyType type) {
    const int index = static_cast<int>(type);
    return index >= 0 && index < 14 ? kTreeFileTypeNames[index] : kTreeFileTypeNames[TypeString];
}

namespace {

// Tried in order after ";"; none needs escaping in an attribute.
constexpr char kSeparatorCandidates[] = "|,:#!~^+=/*@$%?`'";

bool anyHolds(const std::vector<std::string>& items, const std::string& text) {
    for (const auto& item : items) {
        if (item.find(text) != std::string::npos) {
            return true;
        }
    }
    return false;
}

std::string utf8(uint32_t codePoint) {
    std::string out;
    if (codePoint < 0x10000) {
        out += static_cast<char>(0xE0 | (codePoint >> 12));
    } else {
        out += static_cast<char>(0xF0 | (codePoint >> 18));
        out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
    }
    out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
    return out;
}

// The node's names from the root, for the reason a node cannot be written.
std::string pathOf(const Node& node) {
    std::string path;
    for (const Node* at = &node; at; at = at->getParent()) {
        path.insert(0, "/" + at->getName());
    }
    return path;
}

std::string attributesText(int attributes) {
    std::string text;
    if (attributes & Node::kReadOnly) {
        text += " zel:readonly=\"true\" ";
    }
    if (attributes & Node::kFinalised) {
        text += " zel:finalised=\"true\" ";
    }
    // The two exclude each other; writing both would repeat an attribute and
    // make the file unreadable, so finalised wins as in modifyAttributes.
    if ((attributes & Node::kNotFinalised) && !(attributes & Node::kFinalised)) {
        text += " zel:finalised=\"false\" ";
    }
    return text;
}

}  // namespace

std::string NodeSerialize::listSeparator(const std::vector<std::string>& items) {
    if (!anyHolds(items, ";")) {
        return ";";
    }
    for (const char* c = kSeparatorCandidates; *c; ++c) {
        const std::string candidate(1, *c);
        if (!anyHolds(items, candidate)) {
            return candidate;
        }
    }
    // One whole character that no item holds cannot be mistaken for part of
    // an item's own character when the text is split again.
    for (const auto& range : {std::pair<uint32_t, uint32_t>{0xE000, 0xF8FF},
                              std::pair<uint32_t, uint32_t>{0xF0000, 0xFFFFD}}) {
        for (uint32_t codePoint = range.first; codePoint <= range.second; ++codePoint) {
            const std::string candidate = utf8(codePoint);
            if (!anyHolds(items, candidate)) {
                return candidate;
            }
        }
    }
    return std::string();
}

NodeSerialize::NodeSerialize(const std::string& fileName)
    : mFileName(fileName), mStream(fileName) {}

NodeSerialize::NodeSerialize(const std::string& fileName, mode_t newFileMode,
                             AtomicFile::Links links)
    : mFileName(fileName), mStream(fileName, newFileMode, links) {}

NodeSerialize::NodeSerialize() : mStream(std::string()), mToText(true) {}

NodeSerialize::~NodeSerialize() = default;

bool NodeSerialize::toText(const Node* root, std::string& text, std::string& problem) {
    // The reader takes only a group as the outermost element.
    if (root != nullptr && root->asStructuralNode() == nullptr) {
        problem = "the tree's root is a property, not a group";
        return false;
    }
    NodeSerialize writer;
    writer.open();
    if (root != nullptr) {
        // The writer only reads the nodes it visits.
        const_cast<Node*>(root)->visit(writer);
    }
    if (!writer.close()) {
        problem = writer.mProblem;
        return false;
    }
    text = std::move(writer.mText);
    return true;
}

void NodeSerialize::open() {
    if (mToText) {
        mText = std::string(kTreeFileHeader) + "\n";
        mTextOpen = true;
        return;
    }
    if (!mStream.open()) {
        Logger::error("Cannot write tree file %s: %s\n", logText(mFileName).c_str(),
                      logText(mStream.getError()).c_str());
        return;
    }
    write(std::string(kTreeFileHeader) + "\n");
}

bool NodeSerialize::close() {
    if (mToText) {
        return mTextOpen;
    }
    if (!mStream.isOpen()) {
        return false;  // a failure, logged when it happened
    }
    if (!mStream.commit()) {
        Logger::error("Cannot write tree file %s: %s\n", logText(mFileName).c_str(),
                      logText(mStream.getError()).c_str());
        return false;
    }
    return true;
}

bool NodeSerialize::write(const std::string& text) {
    if (mToText) {
        mText += text;
        return true;
    }
    if (mStream.write(text)) {
        return true;
    }
    Logger::error("Cannot write tree file %s: %s\n", logText(mFileName).c_str(),
                  logText(mStream.getError()).c_str());
    return false;
}

bool NodeSerialize::escape(const std::string& text, const Node& node, std::string& out) {
    if (XmlText::escape(text, out)) {
        return true;
    }
    // Writing it raw would give a file that cannot be read back; writing the
    // rest without it would lose a setting without a word.
    fail("node " + pathOf(node) +
         " holds a name, value or locale with a control character or invalid UTF-8");
    return false;
}

void NodeSerialize::fail(const std::string& reason) {
    if (mToText) {
        mProblem = reason;
        mText.clear();
        mTextOpen = false;
        return;
    }
    // Masked: the reason may carry the very characters it complains about.
    Logger::error("Cannot write tree file %s: %s\n", logText(mFileName).c_str(),
                  logText(reason).c_str());
    mStream.discard();
}

bool NodeSerialize::preChildrenProcess(Node& node) {
    if (!isOpen()) {
        return false;
    }
    std::string line;
    PropertyNode* property = node.asPropertyNode();
    line += property ? "<prop zel:name=\"" : "<group zel:name=\"";
    if (!escape(node.getName(), node, line)) {
        return false;
    }
    line += "\"" + attributesText(node.getAttributes());
    if (property) {
        line += std::string(" zel:type=\"") + treeFileTypeName(property->getType()) + "\" >\n";
    } else {
        line += ">\n";
    }
    if (!write(line)) {
        return false;
    }
    if (property) {
        serializeValues(*property);
    }
    return isOpen();
}

bool NodeSerialize::postChildrenProcess(Node& node) {
    if (!isOpen()) {
        return false;
    }
    return write(node.asPropertyNode() ? "</prop>\n" : "</group>\n");
}

void NodeSerialize::serializeValues(PropertyNode& property) {
    if (!isOpen()) {
        return;
    }
    const bool localised = property.isLocalised();
    std::vector<std::string> locales;
    if (localised) {
        property.getLocales(locales);
    } else {
        locales.push_back("default");
    }
    for (const auto& locale : locales) {
        std::string lang;
        if (localised) {
            lang = " xml:lang=\"";
            if (!escape(locale, property, lang)) {
                return;
            }
            lang += "\"";
        }
        std::string block;
        if (property.isList()) {
            const PropertyNode::Value* value = property.findBestValue(locale);
            const std::vector<std::string>& items = property.getListValue(locale);
            const std::string separator = listSeparator(items);
            if (separator.empty()) {
                fail("no list separator for " + pathOf(property));
                return;
            }
            block = "<value zel:separator=\"" + separator + "\"" + lang;
            if (value && value->isSet() && items.empty()) {
                block += std::string(" ") + kItemsAttribute + "=\"0\"";
            } else if (value && value->isSet() && items.size() == 1 && items[0].empty()) {
                block += std::string(" ") + kItemsAttribute + "=\"1\"";
            }
            block += ">\n";
            for (size_t i = 0; i < items.size(); ++i) {
                if (i > 0) {
                    block += separator;
                }
                if (!escape(items[i], property, block)) {
                    return;
                }
            }
        } else {
            block = "<value" + lang + ">\n";
            if (!escape(property.getStringValue(locale), property, block)) {
                return;
            }
        }
        block += "\n</value>\n";
        if (!write(block)) {
            return;
        }
    }
}

}  // namespace vesk::legacy
