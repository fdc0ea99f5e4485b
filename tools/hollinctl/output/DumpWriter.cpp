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
    mNames = names;
    mDepth = 0;
    node.visit(*this);
}

void DumpWriter::collectRemoved(const NodeHistories::Names& names) {
    mShowRemoved = true;
    for (const auto& [removed, layer] : mProvenance.removed()) {
        if (removed.size() >= names.size() &&
            std::equal(names.begin(), names.end(), removed.begin())) {
            mRemoved.emplace_back(removed, layer);
        }
    }
}

bool DumpWriter::preChildrenProcess(Node& node) {
    if (mDepth > 0) {
        mNames.push_back(node.getName());
    }
    ++mDepth;
    mRows.push_back(Row{mNames, &node});
    return true;
}

bool DumpWriter::postChildrenProcess(Node&) {
    --mDepth;
    if (mDepth > 0) {
        mNames.pop_back();
    }
    return true;
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

std::string DumpWriter::rowNotes(const Row& row) const {
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
            out +=
                kIndent + printable(settings::SettingsCheck::describe(row.names, *property)) + "\n";
        }
    }
    const NodeHistory* history = mProvenance.find(row.names);
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
    for (const auto& [names, layer] : mRemoved) {
        removed += pad(printable(NodeLookup::pathText(names)), kMaxPathColumn / 2) +
                   "  removed by " + label(layer) + "\n";
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
    for (const Row& row : mRows) {
        const NodeHistory* history = mProvenance.find(row.names);
        Cells line{printable(NodeLookup::pathText(row.names)), typeText(*row.node),
                   label(history != nullptr ? history->setBy : 0), lockText(*row.node, history)};
        pathWidth = std::max(pathWidth, std::min(displayWidth(line.path), kMaxPathColumn));
        typeWidth = std::max(typeWidth, displayWidth(line.type));
        setByWidth = std::max(setByWidth, displayWidth(line.setBy));
        cells.push_back(std::move(line));
    }
    auto tableLine = [&](const Cells& line) {
        std::string text = pad(line.path, pathWidth) + "  " + pad(line.type, typeWidth) + "  " +
                           pad(line.setBy, setByWidth) + "  " + line.lockedBy;
        trimRight(text);
        return text + "\n";
    };

    out += "\n" + tableLine(header);
    for (size_t i = 0; i < mRows.size(); ++i) {
        out += tableLine(cells[i]) + rowNotes(mRows[i]);
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

void DumpWriter::writeNode(JsonWriter& json, const Row& row) const {
    const Node& node = *row.node;
    const NodeHistory* history = mProvenance.find(row.names);
    json.beginObject()
        .key("path")
        .string(NodeLookup::pathText(row.names))
        .key("names")
        .beginArray();
    for (const std::string& name : row.names) {
        json.string(name);
    }
    json.endArray();
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
    for (const Row& row : mRows) {
        writeNode(json, row);
    }
    json.endArray();
    if (mShowRemoved) {
        json.key("removed").beginArray();
        for (const auto& [names, layer] : mRemoved) {
            json.beginObject()
                .key("path")
                .string(NodeLookup::pathText(names))
                .key("names")
                .beginArray();
            for (const std::string& name : names) {
                json.string(name);
            }
            json.endArray().key("removedBy");
            writeReference(json, layer);
            json.endObject();
        }
        json.endArray();
    }
    json.endObject();
    return json.text() + "\n";
}

}  // namespace vesk::legacy::hollinctl
