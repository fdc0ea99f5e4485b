#include "ChangePrinter.h"

#include <time.h>

#include <algorithm>

#include "JsonWriter.h"
#include "TextEscape.h"
#include "model/NodePath.h"

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

void ChangePrinter::print(const char* event, const NodePath& path) {
    print(line(event, path));
}

void ChangePrinter::print(const std::string& text) {
    std::lock_guard<std::mutex> lock(mMutex);
    std::fwrite(text.data(), 1, text.size(), mStream);
    std::fflush(mStream);
}

}  // namespace vesk::legacy::hollinctl
