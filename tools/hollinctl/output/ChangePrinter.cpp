// SPDX-License-Identifier: LGPL-2.1-or-later
#include "ChangePrinter.h"

#include <time.h>

#include <algorithm>
#include <cerrno>

#include "DumpWriter.h"
#include "JsonWriter.h"
#include "PolicyStore.h"
#include "Provenance.h"
#include "TextEscape.h"
#include "model/Node.h"
#include "model/NodePath.h"
#include "model/PropertyNode.h"
#include "model/StructuralNode.h"
#include "policy/PolicyLayer.h"

namespace vesk::legacy::hollinctl {

ChangePrinter::ChangePrinter(std::FILE* stream, OutputFormat format)
    : mStream(stream), mFormat(format) {}

void ChangePrinter::onNodeAdded(const NodePath& path) {
    print("added", path);
}

void ChangePrinter::onNodeRemoved(const NodePath& path) {
    print("removed", path);
}

void ChangePrinter::onNodeChanged(const NodePath& path) {
    print("changed", path);
}

std::string ChangePrinter::line(const char* event, const NodePath& path) const {
    const std::string pathText = path.getPath().empty() ? "/" : path.getPath();
    if (mFormat != OutputFormat::Json) {
        std::string text = event;
        text.resize(8, ' ');
        return text + printable(path.getComponent() + path.getPath()) + "\n";
    }
    JsonWriter json;
    json.beginObject().key("event").string(event);
    json.key("component").string(path.getComponent()).key("path").string(pathText);
    json.key("names").beginArray();
    for (const std::string& name : path.getNames()) {
        json.string(name);
    }
    json.endArray().endObject();
    return json.text() + "\n";
}

std::string ChangePrinter::layerLine(const char* event, const std::string& component,
                                     const LayerInfo* layer, const std::string& text,
                                     long long time) const {
    char stamp[32] = "";
    const time_t seconds = static_cast<time_t>(time);
    struct tm utc;
    if (gmtime_r(&seconds, &utc) != nullptr) {
        strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &utc);
    }
    if (mFormat != OutputFormat::Json) {
        std::string head = event;
        head.resize(std::max<size_t>(head.size() + 1, 8), ' ');
        return head + printable(component) + ": " + text + " [" + stamp + "]\n";
    }
    JsonWriter json;
    json.beginObject().key("event").string(event).key("component").string(component);
    json.key("layer");
    if (layer != nullptr && layer->position > 0) {
        writeLayerReference(json, *layer);
    } else {
        json.null();
    }
    if (layer != nullptr && layer->error.failed) {
        json.key("line").number(layer->error.line).key("column").number(layer->error.column);
    }
    json.key("message").string(text).key("time").string(stamp).endObject();
    return json.text() + "\n";
}

void ChangePrinter::describeWith(const PolicyStore* store) {
    std::lock_guard<std::mutex> lock(mMutex);
    mStore = store;
}

const Node* ChangePrinter::current(const NodePath& path, const LayerInfo*& setBy) {
    setBy = nullptr;
    std::vector<PolicyLayer> layers;
    try {
        layers = mStore->readLayers(path.getComponent());
    } catch (const CommandError&) {
        return nullptr;  // the layer events say why
    }
    std::string from;
    for (const PolicyLayer& layer : layers) {
        from += layer.getLayer().getStamp() + '\0' + layer.getLayer().getText() + '\0';
    }
    if (!mMerged || from != mMergedFrom) {
        mMerged = std::make_unique<Provenance>(layers);
        mLayers = describeLayers(layers);
        mMergedFrom = std::move(from);
    }
    const Node* node = StructuralNode::findPath(mMerged->getRoot(), path.getNames());
    const NodeHistory* history = node != nullptr ? mMerged->find(path.getNames()) : nullptr;
    if (history != nullptr && history->setBy >= 1 &&
        static_cast<size_t>(history->setBy) <= mLayers.size()) {
        setBy = &mLayers[static_cast<size_t>(history->setBy) - 1];
    }
    return node;
}

void ChangePrinter::print(const char* event, const NodePath& path) {
    std::lock_guard<std::mutex> lock(mMutex);
    std::string text = line(event, path);
    if (mStore != nullptr) {
        const LayerInfo* setBy = nullptr;
        const Node* node = current(path, setBy);
        const PropertyNode* property = node != nullptr ? node->asPropertyNode() : nullptr;
        const bool valued = property != nullptr && property->findBestValue("default") != nullptr;
        const time_t seconds = ::time(nullptr);
        char stamp[32] = "";
        struct tm utc;
        if (gmtime_r(&seconds, &utc) != nullptr) {
            strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &utc);
        }
        text.erase(text.size() - (mFormat == OutputFormat::Json ? 2 : 1));  // "}\n" or "\n"
        if (mFormat == OutputFormat::Json) {
            JsonWriter extra;
            extra.beginObject().key("value");
            valued ? extra.value(*property, "default") : extra.null();
            extra.key("setBy");
            if (setBy != nullptr) {
                writeLayerReference(extra, *setBy);
            } else {
                extra.null();
            }
            extra.key("time").string(stamp).endObject();
            text += "," + extra.text().substr(1) + "\n";
        } else {
            if (valued) {
                text += " = " + DumpWriter::valueText(*property, "default");
            }
            if (setBy != nullptr) {
                text += " (" + layerLabel(*setBy) + ")";
            }
            text += std::string(" [") + stamp + "]\n";
        }
    }
    emit(text);
}

void ChangePrinter::print(const std::string& text) {
    std::lock_guard<std::mutex> lock(mMutex);
    emit(text);
}

void ChangePrinter::emit(const std::string& text) {
    if (mFailure != 0) {
        return;
    }
    errno = 0;
    if (std::fwrite(text.data(), 1, text.size(), mStream) == text.size() &&
        std::fflush(mStream) == 0) {
        return;
    }
    // The reason now, before anything else can change errno.
    mFailure = errno != 0 ? errno : EIO;
    if (mOnFailure) {
        mOnFailure();
    }
}

void ChangePrinter::onFailure(std::function<void()> callback) {
    std::lock_guard<std::mutex> lock(mMutex);
    mOnFailure = std::move(callback);
    // A write that failed before anyone listened is told now: later writes
    // stop at the first failure and would never tell it.
    if (mOnFailure && mFailure != 0) {
        mOnFailure();
    }
}

int ChangePrinter::failure() {
    std::lock_guard<std::mutex> lock(mMutex);
    return mFailure;
}

}  // namespace vesk::legacy::hollinctl
