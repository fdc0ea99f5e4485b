// SPDX-License-Identifier: LGPL-2.1-or-later
#include "GetCommand.h"

#include <memory>

#include "CommandIo.h"
#include "CommandLine.h"
#include "DidYouMean.h"
#include "ExitStatus.h"
#include "JsonWriter.h"
#include "NodeLookup.h"
#include "PlanOptions.h"
#include "PolicyStore.h"
#include "Provenance.h"
#include "SettingsCheck.h"
#include "SettingsMapping.h"
#include "TextEscape.h"
#include "access/ConfigurationAccess.h"
#include "layers/ParserContext.h"
#include "model/NodePath.h"
#include "model/PropertyNode.h"
#include "model/StructuralNode.h"
#include "policy/PapiException.h"

namespace vesk::legacy::hollinctl {

const char GetCommand::kHelp[] =
    "Usage: hollinctl get COMPONENT/PATH [--locale L] [--strict] [--format=text|json]\n"
    "                     [--entity CONNECTION]\n"
    "\n"
    "Prints one property's value as programs read it: a text on one line, a list\n"
    "one item a line. Control characters and bytes that are not UTF-8 are shown\n"
    "as escapes (\\n, \\t, \\xNN); --format=json gives the exact text. A broken\n"
    "layer in the stack is a warning on standard error.\n"
    "\n"
    "  --strict             exit status 4 when a layer of the stack is broken\n"
    "  --locale L           the value for locale L (default: \"default\", the one\n"
    "                       programs read); a property that is not localised has\n"
    "                       one value for every locale\n"
    "  --format=json        {\"component\", \"path\", \"type\", \"locale\", \"value\"}\n";

namespace {

std::string joinedLocales(const PropertyNode& property) {
    std::vector<std::string> locales;
    property.getLocales(locales);
    std::string text;
    for (const std::string& locale : locales) {
        text += (text.empty() ? "" : ", ") + printable(locale);
    }
    return text;
}

// The merged trees the answer comes from: a planned stack merged here, or the
// caller's through the facade, as programs read it.
struct Source {
    std::unique_ptr<ConfigurationAccess> access;
    std::unique_ptr<Provenance> planned;
    const Node* node = nullptr;
};

void readNode(const CommandLine& line, const PolicyStore& store, const NodePath& path,
              Source& source) {
    const std::string& address = line.getArguments()[0];
    if (store.plan().isPlanned()) {
        // Merged here, with the library's merger, as a program of that user would.
        source.planned = std::make_unique<Provenance>(store.readLayers(path.getComponent()));
        source.node = StructuralNode::findPath(source.planned->getRoot(), path.getNames());
        return;
    }
    try {
        source.access = std::make_unique<ConfigurationAccess>(line.getEntity());
    } catch (const PapiException& failure) {
        throw PolicyStore::serviceError("cannot open", line.getEntity(), failure);
    }
    try {
        source.node = source.access->getNode(address);
    } catch (const PapiException& failure) {
        throw PolicyStore::serviceError(
            "cannot read the layers of " + quotedText(path.getComponent()) + " from",
            line.getEntity(), failure);
    }
}

std::string valueText(const CommandLine& line, const PolicyStore& store, const NodePath& path,
                      const PropertyNode& property, const std::string& locale) {
    if (line.getFormat() == OutputFormat::Json) {
        JsonWriter json;
        json.beginObject().key("component").string(path.getComponent());
        store.plan().writeJson(json);
        json.key("path").string(path.getPath().empty() ? "/" : path.getPath());
        json.key("type").string(ParserContext::typeName(property.getType()));
        json.key("locale").string(locale).key("value").value(property, locale);
        return json.endObject().text() + "\n";
    }
    std::string text;
    if (property.isList()) {
        for (const std::string& item : property.getListValue(locale)) {
            text += printable(item) + "\n";
        }
        return text;
    }
    return printable(property.getStringValue(locale)) + "\n";
}

}  // namespace

int GetCommand::run(const CommandLine& line, CommandIo& io) {
    if (line.getArguments().size() == 2 && line.getArguments()[0].find('/') == std::string::npos) {
        const std::string joined = line.getArguments()[0] + "/" + line.getArguments()[1];
        throw CommandError(kUsage, "get takes COMPONENT/PATH as one word: " + quotedText(joined));
    }
    line.expectArguments(1, 1);
    const std::string& address = line.getArguments()[0];
    NodePath path;
    path.setPath(address);
    PolicyStore::checkComponentName(path.getComponent());

    const PolicyStore store(PlanOptions::plan(line));
    Source source;
    readNode(line, store, path, source);
    bool keptCopy = false;
    if (source.access) {
        io.noteServed(*source.access, path.getComponent());
        keptCopy = CommandIo::servesKeptCopy(*source.access, path.getComponent());
    }
    // The layers once more, to tell whether the answer comes from a broken stack.
    const int status =
        io.reportBroken(line, describeLayers(store.readLayers(path.getComponent())), keptCopy);
    if (source.node == nullptr) {
        const Node* root = source.planned ? source.planned->getRoot()
                                          : source.access->getNode(path.getComponent());
        const std::string hint = root != nullptr
                                     ? DidYouMean::forPath(root, path.getNames())
                                     : PlanOptions::componentHint(store, path.getComponent());
        throw CommandError(
            kNotFound, "no node " + quotedText(address) + hint + PlanOptions::where(store.plan()));
    }
    const PropertyNode* property = source.node->asPropertyNode();
    if (property == nullptr) {
        throw CommandError(kNotFound, quotedText(address) +
                                          " is a group, not a property (hollinctl dump shows it)");
    }
    // The merger files a value without locale under "default".
    const std::string locale =
        line.hasLocale() && !line.getLocale().empty() ? line.getLocale() : "default";
    const PropertyNode::Value* value = property->findBestValue(locale);
    if (value == nullptr || !value->isSet()) {
        std::string message = quotedText(address) + " has no value";
        if (property->isLocalised()) {
            message += " for locale " + quotedText(locale) +
                       " (locales: " + joinedLocales(*property) + ")";
        }
        throw CommandError(kNotFound, message);
    }
    io.write(valueText(line, store, path, *property, locale));
    if (path.getComponent() == settings::SettingsMapping::kComponent &&
        line.getFormat() != OutputFormat::Json) {
        io.write(printable(settings::SettingsCheck::describe(path.getNames(), *property)) + "\n");
    }
    return status;
}

}  // namespace vesk::legacy::hollinctl
