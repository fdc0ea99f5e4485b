// SPDX-License-Identifier: LGPL-2.1-or-later
#include "CheckCommand.h"

#include <memory>

#include "CheckStoreCommand.h"
#include "CommandIo.h"
#include "CommandLine.h"
#include "ContextCheck.h"
#include "ExitStatus.h"
#include "JsonWriter.h"
#include "LayerChecker.h"
#include "LayerFiles.h"
#include "PlanOptions.h"
#include "PolicyStore.h"
#include "TextEscape.h"

namespace vesk::legacy::hollinctl {

const char CheckCommand::kHelp[] =
    "Usage: hollinctl check FILE... [--format=text|json]\n"
    "       hollinctl check --component C --scope SCOPE FILE [--user ...]\n"
    "       hollinctl check -r [STORE]\n"
    "\n"
    "With -r, the whole store (default: the configured one): every layer as\n"
    "below, and what can never apply: folders outside default, groups, hosts,\n"
    "users and entities (group/, user/), names ending in .XML, files that are\n"
    "not regular, a host folder whose case differs from this host's name, and\n"
    "as warnings users and groups this system does not know. export-ldif runs\n"
    "it first and exports nothing from a store with a broken layer.\n"
    "\n"
    "With --component and --scope, FILE is also merged into the live stack in\n"
    "the place of SCOPE's layer (default, groups/G, hosts/H, users/U or\n"
    "entities/E): the locks it would run into, the values it would have dropped\n"
    "for their type, the launchers the desktop would skip (no Name, or an Exec\n"
    "that does not split into arguments), and the nodes it would change, as\n"
    "watch prints them.\n"
    "\n"
    "Reads each layer file (\"-\": standard input) with the library's reader and\n"
    "merger, as layers from the policy service are read, and reports what the\n"
    "reader ignores, defaults or refuses, and what would make it misbehave:\n"
    "  - malformed XML, with line and column: the layer stops at the error;\n"
    "  - a node element without zel:name: it is dropped with all it holds;\n"
    "  - name=, type=, op= or finalized= without the zel: prefix (ignored);\n"
    "  - blanks or line breaks around a value, which become part of it;\n"
    "  - an unknown zel:type (read as xs:string) or zel:op (read as modify);\n"
    "  - an unknown element or zel: attribute (ignored), such as zel:finalised,\n"
    "    which only tree files use;\n"
    "  - two values for the same locale in one property (the last one counts;\n"
    "    a value without xml:lang is for the locale \"default\");\n"
    "  - content of a removed node, and nodes inside a property (ignored);\n"
    "  - a finalisation with no effect.\n"
    "\n"
    "A finalisation (zel:finalized=\"true\") takes effect when the next layer\n"
    "starts: from then on the merger refuses to change, replace or remove the\n"
    "node. It therefore has no effect when\n"
    "  - its value is anything but \"true\" (True, 1 or yes finalise nothing);\n"
    "  - its element removes the node, or lies where the merger ignores it;\n"
    "  - a later element of the same file replaces or removes the node or a node\n"
    "    above it, which builds it anew without the finalisation (the file is\n"
    "    merged on its own to find this);\n"
    "  - the file lies in a scope that is merged last, users/USER/ or\n"
    "    entities/ENTITY/ of the store: no later layer is there to keep out.\n"
    "A finalisation that a finalised group above it already covers is harmless\n"
    "and not reported.\n"
    "\n"
    "Problems are printed as FILE:LINE[:COLUMN]: message, a clean file as\n"
    "FILE: ok. Exit status 0 when every file is clean, 1 when a file has\n"
    "problems or cannot be read, 3 when the store of check -r cannot be read.\n"
    "\n"
    "  --format=json        {\"files\": [{\"file\", \"error\" (why it cannot be\n"
    "                       read, or null), \"findings\": [{\"line\", \"column\",\n"
    "                       \"message\"}]}]}\n";

namespace {

using Findings = std::vector<LayerChecker::Finding>;

// Opens a checked file's object in `check --format=json`: its name, why it
// could not be read (null when it could) and its findings. The caller may add
// more keys before closing it.
void beginFileObject(JsonWriter& document, const std::string& file, const std::string* error,
                     const Findings& findings) {
    document.beginObject().key("file").string(file).key("error");
    error != nullptr ? document.string(*error) : document.null();
    document.key("findings").beginArray();
    for (const LayerChecker::Finding& finding : findings) {
        document.beginObject().key("line").number(finding.line).key("column");
        finding.column > 0 ? document.number(finding.column) : document.null();
        document.key("message").string(finding.message).endObject();
    }
    document.endArray();
}

void writeContextJson(JsonWriter& document, const CommandLine& line,
                      const ContextCheck::Result& context) {
    document.key("context").beginObject();
    document.key("component").string(line.getComponent()).key("scope").string(line.getScope());
    document.key("place").string(context.place).key("inStack").boolean(context.inStack);
    const std::pair<const char*, const std::vector<ContextCheck::Result::Entry>*> lists[] = {
        {"refused", &context.refused},
        {"ignored", &context.ignored},
        {"changes", &context.changes},
        {"launchers", &context.launchers}};
    for (const auto& [key, entries] : lists) {
        document.key(key).beginArray();
        for (const ContextCheck::Result::Entry& entry : *entries) {
            document.beginObject().key("path").string(entry.path);
            const std::string list = key;
            document
                .key(list == "refused"                          ? "lockedBy"
                     : list == "ignored" || list == "launchers" ? "reason"
                                                                : "event")
                .string(entry.detail)
                .endObject();
        }
        document.endArray();
    }
    document.endObject();
}

std::string contextText(const std::string& shown, const CommandLine& line, const PolicyStore& store,
                        const ContextCheck::Result& context) {
    std::string text = shown + ": merged as layer " + printable(context.place) + " of " +
                       quotedText(line.getComponent()) + PlanOptions::where(store.plan()) + "\n";
    if (!context.inStack) {
        text += shown + ": " + printable(line.getScope()) +
                " is not a scope of this stack; merged in the place of its kind\n";
    }
    for (const ContextCheck::Result::Entry& entry : context.refused) {
        text += shown + ": " + printable(entry.path) + " is locked by " + printable(entry.detail) +
                ": this change would be refused\n";
    }
    for (const ContextCheck::Result::Entry& entry : context.ignored) {
        text += shown + ": " + printable(entry.path) + ": " + entry.detail +
                ": the value would be dropped\n";
    }
    for (const ContextCheck::Result::Entry& entry : context.launchers) {
        text += shown + ": " + printable(entry.path) + ": " + printable(entry.detail) +
                ": the desktop would skip this launcher\n";
    }
    for (const ContextCheck::Result::Entry& entry : context.changes) {
        std::string event = entry.detail;
        event.resize(8, ' ');
        text += event + printable(entry.path) + "\n";
    }
    return text;
}

std::string findingsText(const std::string& shown, const Findings& findings, bool clean) {
    std::string text;
    for (const LayerChecker::Finding& finding : findings) {
        std::string where = shown + ":" + std::to_string(finding.line);
        if (finding.column > 0) {
            where += ":" + std::to_string(finding.column);
        }
        text += where + ": " + finding.message + "\n";
    }
    return clean ? text + shown + ": ok\n" : text;
}

// The files of one check run and what is said of them.
class FileCheck {
  public:
    FileCheck(const CommandLine& line, CommandIo& io) : mLine(line), mIo(io) {
        mJson = line.getFormat() == OutputFormat::Json;
        mInContext = line.hasComponent() || line.hasScope();
        if (mInContext) {
            if (!line.hasComponent() || !line.hasScope() || line.getArguments().size() != 1) {
                throw CommandError(kUsage,
                                   "check --component C --scope SCOPE takes both and one FILE");
            }
            PolicyStore::checkComponentName(line.getComponent());
            PlanOptions::checkScope(line.getScope());
            mStore = std::make_unique<PolicyStore>(PlanOptions::plan(line));
        }
        mDocument.beginObject().key("files").beginArray();
    }

    void checkFile(const std::string& fileName) {
        const bool fromStdin = fileName == "-";
        const std::string shown = fromStdin ? "(standard input)" : printable(fileName);
        const std::string named = fromStdin ? "-" : fileName;
        std::string text;
        std::string problem;
        if (fromStdin && mStdinRead) {
            throw CommandError(kUsage, "check: \"-\" given twice");
        }
        const bool read = fromStdin
                              ? (mStdinRead = true, LayerFiles::readStandardInput(text, problem))
                              : LayerFiles::read(fileName, text, problem);
        if (!read) {
            mIo.complain("cannot read " + shown + ": " + problem);
            mStatus = kNotFound;
            if (mJson) {
                beginFileObject(mDocument, named, &problem, {});
                mDocument.endObject();
            }
            return;
        }
        ContextCheck::Result context;
        if (mInContext) {
            context = ContextCheck::run(*mStore, mLine.getComponent(), mLine.getScope(), text);
        }
        LayerChecker checker(std::move(text), !fromStdin && LayerChecker::isMergedLast(fileName));
        const Findings findings = checker.check();
        const bool clean = findings.empty() && context.refused.empty() && context.ignored.empty() &&
                           context.launchers.empty();
        mStatus = clean ? mStatus : kNotFound;
        if (mJson) {
            beginFileObject(mDocument, named, nullptr, findings);
            if (mInContext) {
                writeContextJson(mDocument, mLine, context);
            }
            mDocument.endObject();
            return;
        }
        if (mInContext) {
            mIo.write(contextText(shown, mLine, *mStore, context));
        }
        mIo.write(findingsText(shown, findings, clean));
    }

    int finish() {
        if (mJson) {
            mIo.write(mDocument.endArray().endObject().text() + "\n");
        }
        return mStatus;
    }

  private:
    const CommandLine& mLine;
    CommandIo& mIo;
    bool mJson = false;
    bool mInContext = false;
    bool mStdinRead = false;
    int mStatus = kSuccess;
    std::unique_ptr<PolicyStore> mStore;
    JsonWriter mDocument;
};

}  // namespace

int CheckCommand::run(const CommandLine& line, CommandIo& io) {
    if (line.isRecursive()) {
        return CheckStoreCommand::run(line, io);
    }
    line.expectArguments(1, static_cast<size_t>(-1));
    if (line.hasEntity() && !line.hasComponent() && !line.hasScope()) {
        throw CommandError(kUsage, "check takes no --entity");
    }
    FileCheck check(line, io);
    for (const std::string& fileName : line.getArguments()) {
        check.checkFile(fileName);
    }
    return check.finish();
}

}  // namespace vesk::legacy::hollinctl
