#include "ChangePrinter.h"

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

void ChangePrinter::print(const char* event, const NodePath& path) {
    const std::string text = line(event, path);
    std::lock_guard<std::mutex> lock(mMutex);
    std::fwrite(text.data(), 1, text.size(), mStream);
    std::fflush(mStream);
}

}  // namespace vesk::legacy::hollinctl
