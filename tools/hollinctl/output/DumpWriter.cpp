// SPDX-License-Identifier: LGPL-2.1-or-later
#include "DumpWriter.h"

#include "SettingsCheck.h"
#include "SettingsMapping.h"

#include <algorithm>

#include "JsonWriter.h"
#include "NodeLookup.h"
#include "PolicyStore.h"
#include "Provenance.h"
#include "ScopePlan.h"
#include "TextEscape.h"
#include "change/TreeComparator.h"
#include "layers/ParserContext.h"
#include "model/Node.h"
#include "model/PropertyNode.h"

namespace vesk::legacy::hollinctl {

namespace {

// Paths wider than this do not widen the column; they push their line out.
const size_t kMaxPathColumn = 40;
const char kIndent[] = "    ";

std::string typeText(const Node& node) {
    const PropertyNode* property = node.asPropertyNode();
    return property != nullptr ? ParserContext::typeName(property->getType()) : "group";
}

std::string pad(const std::string& text, size_t width) {
    const size_t used = displayWidth(text);
    return used >= width ? text : text + std::string(width - used, ' ');
}

void trimRight(std::string& line) {
    while (!line.empty() && line.back() == ' ') {
        line.pop_back();
    }
}

}  // namespace

std::string DumpWriter::valueText(const PropertyNode& property, const std::string& locale) {
    if (property.findBestValue(locale) == nullptr) {
        return "(no value)";
    }
    if (!property.isList()) {
        return quotedText(property.getStringValue(locale));
    }
    std::string text = "[";
    for (const std::string& item : property.getListValue(locale)) {
        text += text.size() > 1 ? ", " : "";
        text += quotedText(item);
    }
    return text + "]";
}

DumpWriter::DumpWriter(const std::string& component, ScopePlan plan, std::vector<LayerInfo> layers,
                       const Provenance& provenance)
    : mComponent(component),
      mPlan(std::move(plan)),
      mLayers(std::move(layers)),
      mProvenance(provenance) {}

DumpWriter::~DumpWriter() = default;

void DumpWriter::collect(Node& node, const NodeHistories::Names& names) {
    mTop = names;
    mOpen.clear();
    node.visit(*this);
}

void DumpWriter::collectRemoved(const NodeHistories::Names& names) {
    mShowRemoved = true;
    mProvenance.histories().forEachRemoved([&](const NodeHistories::Names& removed, int layer) {
        if (removed.size() < names.size() ||
            !std::equal(names.begin(), names.end(), removed.begin())) {
            return;
        }
        size_t length = 0;
        for (const std::string& name : removed) {
            length += 1 + name.size();
        }
        if (length > kMaxPathShown) {
            mRemoved.push_back(Removed{{removed.back()}, true, layer});
        } else {
            mRemoved.push_back(Removed{removed, false, layer});
        }
    });
}

bool DumpWriter::preChildrenProcess(Node& node) {
    const NodeHistories& book = mProvenance.histories();
    Row row{&node, nullptr, kNoParent, 0};
    if (mOpen.empty()) {
        row.place = book.rootPlace();
        for (const std::string& name : mTop) {
            row.place = NodeHistories::childOf(row.place, name);
            row.pathLength += 1 + name.size();
        }
    } else {
        const Row& parent = mRows[mOpen.back()];
        row.parent = mOpen.back();
        row.place = NodeHistories::childOf(parent.place, node.getName());
        row.pathLength = parent.pathLength + 1 + node.getName().size();
    }
    mOpen.push_back(mRows.size());
    mRows.push_back(row);
    return true;
}

bool DumpWriter::postChildrenProcess(Node&) {
    mOpen.pop_back();
    return true;
}

template <typename Visit>
void DumpWriter::eachRow(Visit visit) const {
    // One path and one list of names, cut back to the row's group and grown
    // by its name: each row costs its own name.
    NodeHistories::Names names = mTop;
    std::string path = NodeLookup::pathText(mTop);
    std::vector<size_t> open;
    std::vector<size_t> pathEnds;
    for (size_t i = 0; i < mRows.size(); ++i) {
        const Row& row = mRows[i];
        while (!open.empty() && open.back() != row.parent) {
            open.pop_back();
            pathEnds.pop_back();
            names.pop_back();
        }
        if (!open.empty()) {
            path.resize(pathEnds.back());
            if (path == "/") {
                path.clear();
            }
            path += "/" + row.node->getName();
            names.push_back(row.node->getName());
        }
        open.push_back(i);
        pathEnds.push_back(path.size());
        visit(row, names, row.pathLength > kMaxPathShown ? std::string() : path);
    }
}

const LayerInfo* DumpWriter::layerAt(int position) const {
    return position >= 1 && static_cast<size_t>(position) <= mLayers.size()
               ? &mLayers[static_cast<size_t>(position) - 1]
               : nullptr;
}

std::string DumpWriter::label(int position) const {
    const LayerInfo* layer = layerAt(position);
    return layer != nullptr ? layerLabel(*layer) : "-";
}

std::string DumpWriter::lockText(const Node& node, const NodeHistory* history) const {
    if (!isProtected(node.getAttributes())) {
        return "";
    }
    return history != nullptr && history->lockedBy != 0 ? label(history->lockedBy) : "yes";
}

std::string DumpWriter::layerLines() const {
    std::string out = printable(mComponent) + " for " + mPlan.describe() + "\n" +
                      std::to_string(mLayers.size()) +
                      (mLayers.size() == 1 ? " layer" : " layers") + ", most general first:\n";
    for (const LayerInfo& layer : mLayers) {
        out += "  " + std::to_string(layer.position) + "  " + printable(layer.stamp);
        if (layer.time >= 0) {
            out += " (" + formatTime(layer.time) + ")";
        }
        if (layer.error.failed) {
            out += "  (broken at line " + std::to_string(layer.error.line) + ": " +
                   printable(layer.error.message) + ")";
        }
        out += '\n';
    }
    return out;
}

std::string DumpWriter::rowNotes(const Row& row, const NodeHistories::Names& names) const {
    std::string out;
    if (const PropertyNode* property = row.node->asPropertyNode()) {
        std::vector<std::string> locales;
        property->getLocales(locales);
        if (locales.empty()) {
            out += std::string(kIndent) + "(no value)\n";
        }
        for (const std::string& locale : locales) {
            out += kIndent;
            if (property->isLocalised()) {
                out += "[" + printable(locale) + "] ";
            }
            out += valueText(*property, locale) + "\n";
        }
        if (mComponent == settings::SettingsMapping::kComponent) {
            out += kIndent + printable(settings::SettingsCheck::describe(names, *property)) + "\n";
        }
    }
    const NodeHistory* history = mProvenance.histories().find(row.place);
    if (history != nullptr && !history->refusedFrom.empty()) {
        out += std::string(kIndent) + "refused:";
        for (size_t j = 0; j < history->refusedFrom.size(); ++j) {
            out += (j == 0 ? " " : ", ") + label(history->refusedFrom[j]);
        }
        out += "\n";
    }
    if (history != nullptr) {
        for (const NodeHistory::Ignored& ignored : history->ignored) {
            out += std::string(kIndent) + "ignored: " + label(ignored.layer) + " (" +
                   ignored.reason + ")\n";
        }
    }
    return out;
}

std::string DumpWriter::text() const {
    std::string out = layerLines();
    std::string removed;
    for (const Removed& entry : mRemoved) {
        const std::string path =
            entry.shortened ? "…/" + entry.names.back() : NodeLookup::pathText(entry.names);
        removed +=
            pad(printable(path), kMaxPathColumn / 2) + "  removed by " + label(entry.layer) + "\n";
    }
    if (mRows.empty()) {
        return out + "\nThe layers make no tree.\n" + (removed.empty() ? "" : "\n" + removed);
    }

    struct Cells {
        std::string path, type, setBy, lockedBy;
    };
    std::vector<Cells> cells;
    const Cells header{"PATH", "TYPE", "SET BY", "LOCKED BY"};
    size_t pathWidth = header.path.size();
    size_t typeWidth = header.type.size();
    size_t setByWidth = header.setBy.size();
    std::vector<std::string> notes;
    eachRow([&](const Row& row, const NodeHistories::Names& names, const std::string& path) {
        const NodeHistory* history = mProvenance.histories().find(row.place);
        Cells line{printable(path.empty() ? "…/" + row.node->getName() : path), typeText(*row.node),
                   label(history != nullptr ? history->setBy : 0), lockText(*row.node, history)};
        pathWidth = std::max(pathWidth, std::min(displayWidth(line.path), kMaxPathColumn));
        typeWidth = std::max(typeWidth, displayWidth(line.type));
        setByWidth = std::max(setByWidth, displayWidth(line.setBy));
        cells.push_back(std::move(line));
        notes.push_back(rowNotes(row, names));
    });
    auto tableLine = [&](const Cells& line) {
        std::string text = pad(line.path, pathWidth) + "  " + pad(line.type, typeWidth) + "  " +
                           pad(line.setBy, setByWidth) + "  " + line.lockedBy;
        trimRight(text);
        return text + "\n";
    };

    out += "\n" + tableLine(header);
    for (size_t i = 0; i < mRows.size(); ++i) {
        out += tableLine(cells[i]) + notes[i];
    }
    if (!removed.empty()) {
        out += "\n" + removed;
    }
    return out;
}

void DumpWriter::writeReference(JsonWriter& json, int position) const {
    const LayerInfo* layer = layerAt(position);
    if (layer != nullptr) {
        writeLayerReference(json, *layer);
    } else {
        json.null();
    }
}

void DumpWriter::writeNode(JsonWriter& json, const Row& row, const NodeHistories::Names& names,
                           const std::string& path) const {
    const Node& node = *row.node;
    const NodeHistory* history = mProvenance.histories().find(row.place);
    json.beginObject().key("path");
    if (path.empty()) {
        json.null().key("names").null();
    } else {
        json.string(path).key("names").beginArray();
        for (const std::string& name : names) {
            json.string(name);
        }
        json.endArray();
    }
    json.key("name").string(names.empty() ? "" : names.back()).key("parent");
    row.parent == kNoParent ? json.null() : json.number(static_cast<long long>(row.parent));
    const PropertyNode* property = node.asPropertyNode();
    json.key("kind").string(property != nullptr ? "property" : "group");
    if (property != nullptr) {
        json.key("type").string(ParserContext::typeName(property->getType()));
        json.key("localised").boolean(property->isLocalised());
        json.key("values").beginObject();
        std::vector<std::string> locales;
        property->getLocales(locales);
        for (const std::string& locale : locales) {
            if (property->findBestValue(locale) == nullptr) {
                continue;
            }
            json.key(locale).value(*property, locale);
        }
        json.endObject();
    }
    json.key("setBy");
    writeReference(json, history != nullptr ? history->setBy : 0);
    const int attributes = node.getAttributes();
    json.key("lock");
    if (!isProtected(attributes)) {
        json.null();
    } else {
        json.string((attributes & Node::kReadOnly) != 0 ? "read-only" : "finalised");
    }
    json.key("lockedBy");
    writeReference(json, isProtected(attributes) && history != nullptr ? history->lockedBy : 0);
    json.key("refusedFrom").beginArray();
    if (history != nullptr) {
        for (int position : history->refusedFrom) {
            writeReference(json, position);
        }
    }
    json.endArray().key("ignored").beginArray();
    if (history != nullptr) {
        for (const NodeHistory::Ignored& ignored : history->ignored) {
            json.beginObject().key("layer");
            writeReference(json, ignored.layer);
            json.key("reason").string(ignored.reason).endObject();
        }
    }
    json.endArray().endObject();
}

std::string DumpWriter::json() const {
    JsonWriter json;
    json.beginObject().key("component").string(mComponent);
    mPlan.writeJson(json);
    json.key("store").string(PolicyStore::storePath());
    json.key("layers").beginArray();
    for (const LayerInfo& layer : mLayers) {
        json.beginObject().key("position").number(layer.position);
        json.key("stamp").string(layer.stamp).key("scope").string(layer.scope).key("time");
        layer.time >= 0 ? json.number(layer.time) : json.null();
        json.key("size").number(static_cast<long long>(layer.size));
        json.key("wellFormed").boolean(!layer.error.failed).endObject();
    }
    json.endArray();

    json.key("nodes").beginArray();
    eachRow([&](const Row& row, const NodeHistories::Names& names, const std::string& path) {
        writeNode(json, row, names, path);
    });
    json.endArray();
    if (mShowRemoved) {
        json.key("removed").beginArray();
        for (const Removed& entry : mRemoved) {
            json.beginObject().key("path");
            if (entry.shortened) {
                json.null().key("names").null().key("name").string(entry.names.back());
            } else {
                json.string(NodeLookup::pathText(entry.names)).key("names").beginArray();
                for (const std::string& name : entry.names) {
                    json.string(name);
                }
                json.endArray();
            }
            json.key("removedBy");
            writeReference(json, entry.layer);
            json.endObject();
        }
        json.endArray();
    }
    json.endObject();
    return json.text() + "\n";
}

}  // namespace vesk::legacy::hollinctl
