// SPDX-License-Identifier: LGPL-2.1-or-later
#include "LayersCommand.h"

#include <algorithm>

#include "CommandIo.h"
#include "CommandLine.h"
#include "ExitStatus.h"
#include "JsonWriter.h"
#include "LayerFiles.h"
#include "PlanOptions.h"
#include "PolicyStore.h"
#include "TextEscape.h"

namespace vesk::legacy::hollinctl {

const char LayersCommand::kHelp[] =
    "Usage: hollinctl layers COMPONENT [--all] [--format=text|json]\n"
    "                        [--entity CONNECTION]\n"
    "\n"
    "Lists the component's layers in merge order, most general first, one a line:\n"
    "position, scope and modification time (the layer's stamp in the file store,\n"
    "as in \"users/alice 1733500000\"), size in bytes, and where the library's\n"
    "reader finds a layer broken (it stops reading that layer there). A layer of\n"
    "a file store that cannot be read is a row with the reason.\n"
    "\n"
    "  --all                every scope searched, \"no file\" where there is none,\n"
    "                       \"left out\" where its name cannot name a scope\n"
    "  --format=json        {\"component\": ..., \"layers\": [{\"position\", \"stamp\",\n"
    "                       \"scope\", \"time\", \"size\", \"error\", \"problem\"},\n"
    "                       ...]}\n";

namespace {

// The layers read, or in a file store each scope's layer with its own reason
// when the stack cannot be read; with --all also the scopes without one.
std::vector<LayerInfo> readInfos(const CommandLine& line, const PolicyStore& store,
                                 const std::string& component, CommandIo& io, int& status) {
    std::vector<LayerInfo> infos;
    const ScopePlan& plan = store.plan();
    try {
        infos = describeLayers(store.readLayers(component));
    } catch (const CommandError& failure) {
        // One layer that cannot be read fails the whole stack in libvesk; in
        // a file store each layer can still be shown with its own reason.
        if (failure.getStatus() != kServiceError ||
            !LayerFiles::isFileStore(PolicyStore::storePath())) {
            throw;
        }
        io.complain(failure.getMessage());
        status = kServiceError;
        for (const std::string& scope : plan.scopes()) {
            infos.push_back(LayerFiles::readScope(scope, component));
        }
    }
    if (status == kSuccess && line.isAllRequested()) {
        // The layers read, with the scopes searched that have none between them.
        std::vector<LayerInfo> all;
        size_t next = 0;
        for (const std::string& scope : plan.scopes()) {
            if (next < infos.size() && infos[next].scope == scope) {
                all.push_back(infos[next++]);
            } else {
                all.push_back(LayerInfo::absent(scope));
            }
        }
        all.insert(all.end(), infos.begin() + static_cast<std::ptrdiff_t>(next), infos.end());
        infos = std::move(all);
    }
    if (!line.isAllRequested()) {
        infos.erase(std::remove_if(infos.begin(), infos.end(),
                                   [](const LayerInfo& info) { return info.isAbsent(); }),
                    infos.end());
    }
    return infos;
}

std::string jsonText(const std::string& component, const ScopePlan& plan,
                     const std::vector<LayerInfo>& infos) {
    JsonWriter json;
    json.beginObject().key("component").string(component);
    plan.writeJson(json);
    json.key("store").string(PolicyStore::storePath());
    json.key("layers").beginArray();
    for (const LayerInfo& layer : infos) {
        json.beginObject().key("position");
        layer.position > 0 ? json.number(layer.position) : json.null();
        json.key("stamp").string(layer.stamp).key("scope").string(layer.scope).key("time");
        layer.time >= 0 ? json.number(layer.time) : json.null();
        json.key("size");
        layer.problem.empty() ? json.number(static_cast<long long>(layer.size)) : json.null();
        json.key("error");
        if (layer.error.failed) {
            json.beginObject().key("line").number(layer.error.line);
            json.key("column").number(layer.error.column);
            json.key("message").string(layer.error.message).endObject();
        } else {
            json.null();
        }
        json.key("problem");
        layer.problem.empty() ? json.null() : json.string(layer.problem);
        json.endObject();
    }
    return json.endArray().endObject().text() + "\n";
}

// Whose stack, then one row per layer.
std::string tableText(const std::string& component, const ScopePlan& plan,
                      const std::vector<LayerInfo>& infos) {
    size_t scopeWidth = 5;
    size_t sizeWidth = 4;
    for (const LayerInfo& layer : infos) {
        scopeWidth = std::max(scopeWidth, displayWidth(printable(layer.scope)));
        sizeWidth = std::max(sizeWidth, std::to_string(layer.size).size());
    }
    auto row = [&](const std::string& position, const std::string& scope, const std::string& time,
                   const std::string& size, const std::string& note) {
        std::string text =
            position + std::string(position.size() < 3 ? 3 - position.size() : 0, ' ');
        text += "  " + scope + std::string(scopeWidth - displayWidth(scope), ' ');
        text += "  " + time + std::string(time.size() < 19 ? 19 - time.size() : 0, ' ');
        text += "  " + std::string(sizeWidth - size.size(), ' ') + size;
        if (!note.empty()) {
            text += "  " + note;
        }
        return text + "\n";
    };
    std::string text = printable(component) + " for " + plan.describe() + "\n" +
                       row("POS", "SCOPE", "MODIFIED", "SIZE", "");
    for (const LayerInfo& layer : infos) {
        std::string note = layer.problem;
        if (layer.error.failed) {
            note = "broken at line " + std::to_string(layer.error.line) + ", column " +
                   std::to_string(layer.error.column) + ": " + printable(layer.error.message);
        }
        const bool read = layer.problem.empty();
        text +=
            row(layer.position > 0 ? std::to_string(layer.position) : "-", printable(layer.scope),
                formatTime(layer.time), read ? std::to_string(layer.size) : "-", note);
    }
    return text;
}

}  // namespace

int LayersCommand::run(const CommandLine& line, CommandIo& io) {
    line.expectArguments(1, 1);
    const std::string& component = line.getArguments()[0];
    const PolicyStore store(PlanOptions::plan(line));
    const ScopePlan& plan = store.plan();
    if (!plan.isPlanned()) {
        io.noteServed(component, line.getEntity());
    }
    int status = kSuccess;
    std::vector<LayerInfo> infos = readInfos(line, store, component, io, status);
    int position = 0;
    for (LayerInfo& info : infos) {
        info.position = info.isAbsent() ? 0 : ++position;
    }
    if (status == kSuccess && line.isStrict()) {
        for (const LayerInfo& layer : infos) {
            status = layer.error.failed ? kBrokenLayer : status;
        }
    }
    if (position == 0 && status == kSuccess) {
        const std::string none =
            "component " + quotedText(component) + " has no layers" + PlanOptions::where(plan);
        if (!line.isAllRequested()) {
            throw CommandError(kNotFound, none);
        }
        io.complain(none);
        status = kNotFound;
    }
    io.write(line.getFormat() == OutputFormat::Json ? jsonText(component, plan, infos)
                                                    : tableText(component, plan, infos));
    return status;
}

}  // namespace vesk::legacy::hollinctl
