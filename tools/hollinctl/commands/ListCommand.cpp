// SPDX-License-Identifier: LGPL-2.1-or-later
#include "ListCommand.h"

#include "CommandIo.h"
#include "CommandLine.h"
#include "ExitStatus.h"
#include "JsonWriter.h"
#include "PlanOptions.h"
#include "PolicyStore.h"
#include "TextEscape.h"

namespace vesk::legacy::hollinctl {

const char ListCommand::kHelp[] =
    "Usage: hollinctl list [PREFIX] [--format=text|json] [--entity CONNECTION]\n"
    "\n"
    "Lists the components that have policy for the entity, one a line, in byte\n"
    "order; with PREFIX only those whose name starts with it.\n"
    "\n"
    "  --format=json        {\"entity\": ..., \"store\": ..., \"components\": [...]}\n";

int ListCommand::run(const CommandLine& line, CommandIo& io) {
    line.expectArguments(0, 1);
    const std::string prefix = line.getArguments().empty() ? "" : line.getArguments()[0];
    const PolicyStore store(PlanOptions::plan(line));
    const std::vector<std::string> names = store.listComponents(prefix);
    if (line.getFormat() == OutputFormat::Json) {
        JsonWriter json;
        json.beginObject();
        store.plan().writeJson(json);
        json.key("store").string(PolicyStore::storePath()).key("components").beginArray();
        for (const std::string& name : names) {
            json.string(name);
        }
        io.write(json.endArray().endObject().text() + "\n");
    } else {
        for (const std::string& name : names) {
            io.write(printable(name) + "\n");
        }
    }
    if (names.empty()) {
        io.complain("no component " +
                    (prefix.empty() ? std::string() : "starting with " + quotedText(prefix) + " ") +
                    "has policy" + PlanOptions::where(store.plan()));
        return kNotFound;
    }
    return kSuccess;
}

}  // namespace vesk::legacy::hollinctl
