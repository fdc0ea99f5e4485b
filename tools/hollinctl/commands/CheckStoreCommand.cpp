// SPDX-License-Identifier: LGPL-2.1-or-later
#include "CheckStoreCommand.h"

#include "CommandIo.h"
#include "CommandLine.h"
#include "ExitStatus.h"
#include "JsonWriter.h"
#include "PolicyStore.h"
#include "StoreLint.h"
#include "TextEscape.h"

namespace vesk::legacy::hollinctl {

int CheckStoreCommand::run(const CommandLine& line, CommandIo& io) {
    line.expectArguments(0, 1);
    const std::string store =
        line.getArguments().empty() ? PolicyStore::storePath() : line.getArguments()[0];
    const std::vector<StoreLint::Finding> findings = store.find("://") != std::string::npos
                                                         ? StoreLint::runDirectory(store)
                                                         : StoreLint::run(store, true);
    int status = kSuccess;
    JsonWriter json;
    json.beginObject().key("store").string(store).key("findings").beginArray();
    std::string text;
    for (const StoreLint::Finding& finding : findings) {
        status = finding.warning ? status : kNotFound;
        json.beginObject()
            .key("where")
            .string(finding.where)
            .key("message")
            .string(finding.message);
        json.key("warning").boolean(finding.warning).key("broken").boolean(finding.broken);
        json.endObject();
        text +=
            finding.where + ": " + (finding.warning ? "warning: " : "") + finding.message + "\n";
    }
    if (line.getFormat() == OutputFormat::Json) {
        io.write(json.endArray().endObject().text() + "\n");
    } else {
        io.write(text.empty() ? printable(store) + ": ok\n" : text);
    }
    return status;
}

}  // namespace vesk::legacy::hollinctl
