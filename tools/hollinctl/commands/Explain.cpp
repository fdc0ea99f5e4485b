// SPDX-License-Identifier: LGPL-2.1-or-later
#include "Explain.h"

#include <algorithm>

#include "CommandIo.h"
#include "ExitStatus.h"
#include "Explanation.h"
#include "JsonWriter.h"
#include "PlanOptions.h"
#include "PolicyStore.h"
#include "TextEscape.h"
#include "model/NodePath.h"

namespace vesk::legacy::hollinctl {

namespace {

std::string padded(std::string text, size_t width) {
    if (text.size() < width) {
        text.resize(width, ' ');
    }
    return text;
}

// What became of the layer's value, in words.
std::string outcomeText(const Explanation::Row& row, const std::vector<Explanation::Row>& rows) {
    const auto label = [&](int position) {
        return position > 0 && static_cast<size_t>(position) <= rows.size()
                   ? layerLabel(rows[position - 1].layer)
                   : std::string("an earlier layer");
    };
    switch (row.outcome) {
        case Explanation::Outcome::Applied:
            return "applied";
        case Explanation::Outcome::Refused:
            return "refused: locked by " + label(row.by);
        case Explanation::Outcome::Ignored:
            return "ignored: " + row.reason;
        case Explanation::Outcome::Replaced:
            return "replaced by " + label(row.by);
        case Explanation::Outcome::Removed:
            return "removed by " + label(row.by);
        case Explanation::Outcome::Same:
            return "unchanged: the value of " + label(row.by);
        case Explanation::Outcome::Silent:
            break;
    }
    return row.mentions ? "-" : "not in this layer";
}

}  // namespace

const char Explain::kHelp[] =
    "Usage: hollinctl explain COMPONENT/PATH [--format=text|json] [--entity CONNECTION]\n"
    "\n"
    "Every layer of the stack with the value it tried to give the node, whether\n"
    "it locks the node, and what became of the value: applied, refused (locked by\n"
    "an earlier layer, named), ignored (a value of the other kind), replaced or\n"
    "removed by a later layer, or unchanged (the value was there already).\n";

int Explain::run(const CommandLine& line, CommandIo& io) {
    if (line.getArguments().size() != 1) {
        throw CommandError(kUsage, "explain takes one COMPONENT/PATH");
    }
    const std::string& address = line.getArguments()[0];
    NodePath path;
    path.setPath(address);
    PolicyStore::checkComponentName(path.getComponent());
    const PolicyStore store(PlanOptions::plan(line));
    const Explanation explanation(store.readLayers(path.getComponent()), path.getNames());
    const std::vector<Explanation::Row>& rows = explanation.rows();
    const bool mentioned = std::any_of(rows.begin(), rows.end(),
                                       [](const Explanation::Row& row) { return row.mentions; });
    std::string text;
    if (line.getFormat() == OutputFormat::Json) {
        JsonWriter json;
        json.beginObject().key("component").string(path.getComponent());
        store.plan().writeJson(json);
        json.key("path").string(path.getPath().empty() ? "/" : path.getPath());
        json.key("exists").boolean(explanation.exists()).key("layers").beginArray();
        for (const Explanation::Row& row : rows) {
            json.beginObject().key("position").number(row.layer.position);
            json.key("stamp").string(row.layer.stamp).key("mentions").boolean(row.mentions);
            json.key("value");
            row.value.empty() ? json.null() : json.string(row.value);
            json.key("locks").boolean(row.locks);
            json.key("outcome").string(Explanation::outcomeName(row.outcome));
            json.key("by").number(row.by).key("reason").string(row.reason).endObject();
        }
        text = json.endArray().endObject().text() + "\n";
    } else {
        text = printable(address) + " for " + store.plan().describe() + ":\n";
        const bool locks = std::any_of(rows.begin(), rows.end(),
                                       [](const Explanation::Row& row) { return row.locks; });
        size_t labelWidth = 0;
        size_t valueWidth = 5;
        for (const Explanation::Row& row : rows) {
            labelWidth = std::max(labelWidth, printable(layerLabel(row.layer)).size());
            valueWidth = std::max(valueWidth, row.value.size());
        }
        for (const Explanation::Row& row : rows) {
            std::string value = row.value.empty() ? "-" : row.value;
            text += "  " + padded(printable(layerLabel(row.layer)), labelWidth + 2) +
                    padded(value, valueWidth + 2) +
                    (row.locks ? "locks  "
                     : locks   ? "       "
                               : "") +
                    outcomeText(row, rows);
            while (!text.empty() && text.back() == ' ') {
                text.pop_back();
            }
            text += "\n";
        }
    }
    io.write(text);
    if (!mentioned) {
        throw CommandError(
            kNotFound, "no layer has " + quotedText(address) + " for " + store.plan().describe());
    }
    return kSuccess;
}

}  // namespace vesk::legacy::hollinctl
