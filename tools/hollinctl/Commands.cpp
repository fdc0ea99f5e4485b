#include "Commands.h"

#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "CacheRefresh.h"
#include "ChangePrinter.h"
#include "DumpWriter.h"
#include "ExitStatus.h"
#include "JsonWriter.h"
#include "LayerChecker.h"
#include "LayerInfo.h"
#include "LayerWords.h"
#include "LdifExport.h"
#include "PolicyStore.h"
#include "Provenance.h"
#include "TextEscape.h"
#include "access/ConfigurationAccess.h"
#include "model/Node.h"
#include "model/NodePath.h"
#include "model/PropertyNode.h"
#include "model/StructuralNode.h"
#include "model/Tree.h"
#include "output/RegularFile.h"
#include "policy/PapiException.h"

namespace vesk::legacy::hollinctl {

namespace {

// The service refuses larger layers too; a bigger file is no layer.
const size_t kMaxLayerFile = 64 * 1024 * 1024;

void expectArguments(const CommandLine& line, size_t least, size_t most) {
    const size_t count = line.getArguments().size();
    if (count < least) {
        throw CommandError(kUsage, line.getCommand() + ": missing argument");
    }
    if (count > most) {
        throw CommandError(kUsage, line.getCommand() + ": unexpected argument " +
                                       quotedText(line.getArguments()[most]));
    }
}

void expectOptions(const CommandLine& line, bool json, bool xml, bool locale, bool entity) {
    if (line.hasFormat()) {
        if (!json && !xml) {
            throw CommandError(kUsage, line.getCommand() + " takes no --format");
        }
        const OutputFormat format = line.getFormat();
        if ((format == OutputFormat::Json && !json) || (format == OutputFormat::Xml && !xml)) {
            throw CommandError(kUsage, line.getCommand() + " has no such --format");
        }
    }
    if (line.hasLocale() && !locale) {
        throw CommandError(kUsage, line.getCommand() + " takes no --locale");
    }
    if (line.hasEntity() && !entity) {
        throw CommandError(kUsage, line.getCommand() + " takes no --entity");
    }
}

// The whole file, or false with the reason.
bool readLayerFile(const std::string& fileName, std::string& text, std::string& problem) {
    return readRegularFile(fileName, kMaxLayerFile, "larger than 64 MiB", text, problem);
}

std::string whereText(const std::string& entity) {
    return " for " + PolicyStore::describeEntity(entity) + " in the policy store " +
           printable(PolicyStore::storePath());
}

// Reads the layers, failing with kNotFound when there are none.
std::vector<PolicyLayer> readExistingLayers(const PolicyStore& store, const std::string& component,
                                            const std::string& entity) {
    std::vector<PolicyLayer> layers = store.readLayers(component);
    if (layers.empty()) {
        throw CommandError(
            kNotFound, "component " + quotedText(component) + " has no layers" + whereText(entity));
    }
    return layers;
}

// The names below the root that a dump PATH gives ("" and "/" give none).
NodeHistories::Names namesOf(const std::string& component, std::string path) {
    if (!path.empty() && path[0] == '/') {
        path.erase(0, 1);
    }
    if (path.empty()) {
        return {};
    }
    NodePath nodePath;
    nodePath.setPath(component + "/" + path);
    return nodePath.getNames();
}

Node* findNode(Node* root, const NodeHistories::Names& names) {
    Node* node = root;
    for (const std::string& name : names) {
        const StructuralNode* group = node != nullptr ? node->asStructuralNode() : nullptr;
        node = group != nullptr ? group->getChild(name) : nullptr;
    }
    return node;
}

// The tree file Tree::serialize writes for the subtree, as text. serialize
// writes only to a named file, so it writes into a private directory.
std::string treeFileText(const Node* node) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/hollinctl-XXXXXX";
    if (::mkdtemp(&pattern[0]) == nullptr) {
        throw CommandError(kServiceError, "cannot make a directory for the tree file in " +
                                              printable(pattern) + ": " + std::strerror(errno));
    }
    const std::string fileName = pattern + "/tree.xml";
    std::string text;
    std::string problem;
    {
        Tree tree;
        tree.setRoot(node != nullptr ? node->clone(true) : nullptr);
        tree.serialize(fileName);
    }
    const bool written = readLayerFile(fileName, text, problem);
    ::unlink(fileName.c_str());
    ::rmdir(pattern.c_str());
    if (!written) {
        throw CommandError(kServiceError, "cannot write the tree file: " + problem);
    }
    return text;
}

std::string joinedLocales(const PropertyNode& property) {
    std::vector<std::string> locales;
    property.getLocales(locales);
    std::string text;
    for (const std::string& locale : locales) {
        text += (text.empty() ? "" : ", ") + printable(locale);
    }
    return text;
}

}  // namespace

Commands::Commands(std::FILE* out, std::FILE* err) : mOut(out), mErr(err) {}

void Commands::write(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), mOut);
}

bool Commands::noteServed(ConfigurationAccess& access, const std::string& component) {
    if (access.isComplete(component)) {
        return false;
    }
    complain("note: for " + printable(component) + ", programs starting now get " +
             printable(access.getIncompleteReason(component)));
    return true;
}

void Commands::noteServed(const std::string& component, const std::string& entity) {
    try {
        ConfigurationAccess access(entity);
        noteServed(access, component);
    } catch (const Exception&) {
        // The layers' own read below says what fails.
    } catch (const std::exception&) {
    }
}

void Commands::complain(const std::string& message) {
    std::fprintf(mErr, "hollinctl: %s\n", message.c_str());
}

int Commands::run(const CommandLine& line) {
    const std::string& command = line.getCommand();
    if (line.hasUser() && command != "cache") {
        throw CommandError(kUsage, command + " takes no --user");
    }
    if (command == "list") {
        return list(line);
    }
    if (command == "layers") {
        return layers(line);
    }
    if (command == "dump") {
        return dump(line);
    }
    if (command == "get") {
        return get(line);
    }
    if (command == "watch") {
        return watch(line);
    }
    if (command == "check") {
        return check(line);
    }
    if (command == "export-ldif") {
        return LdifExport::run(line, mOut, mErr);
    }
    if (command == "cache") {
        return CacheRefresh::run(line, mOut, mErr);
    }
    throw CommandError(kUsage, "unknown command " + quotedText(command));
}

int Commands::list(const CommandLine& line) {
    expectArguments(line, 0, 1);
    expectOptions(line, true, false, false, true);
    const std::string prefix = line.getArguments().empty() ? "" : line.getArguments()[0];
    const PolicyStore store(line.getEntity());
    const std::vector<std::string> names = store.listComponents(prefix);
    if (line.getFormat() == OutputFormat::Json) {
        JsonWriter json;
        json.beginObject().key("entity").string(line.getEntity());
        json.key("store").string(PolicyStore::storePath()).key("components").beginArray();
        for (const std::string& name : names) {
            json.string(name);
        }
        write(json.endArray().endObject().text() + "\n");
    } else {
        for (const std::string& name : names) {
            write(printable(name) + "\n");
        }
    }
    if (names.empty()) {
        complain("no component " +
                 (prefix.empty() ? std::string() : "starting with " + quotedText(prefix) + " ") +
                 "has policy" + whereText(line.getEntity()));
        return kNotFound;
    }
    return kSuccess;
}

int Commands::layers(const CommandLine& line) {
    expectArguments(line, 1, 1);
    expectOptions(line, true, false, false, true);
    const std::string& component = line.getArguments()[0];
    noteServed(component, line.getEntity());
    const PolicyStore store(line.getEntity());
    const std::vector<LayerInfo> infos =
        describeLayers(readExistingLayers(store, component, line.getEntity()));

    if (line.getFormat() == OutputFormat::Json) {
        JsonWriter json;
        json.beginObject().key("component").string(component);
        json.key("entity").string(line.getEntity()).key("store").string(PolicyStore::storePath());
        json.key("layers").beginArray();
        for (const LayerInfo& layer : infos) {
            json.beginObject().key("position").number(layer.position);
            json.key("stamp").string(layer.stamp).key("scope").string(layer.scope).key("time");
            layer.time >= 0 ? json.number(layer.time) : json.null();
            json.key("size").number(static_cast<long long>(layer.size)).key("error");
            if (layer.error.failed) {
                json.beginObject().key("line").number(layer.error.line);
                json.key("column").number(layer.error.column);
                json.key("message").string(layer.error.message).endObject();
            } else {
                json.null();
            }
            json.endObject();
        }
        write(json.endArray().endObject().text() + "\n");
        return kSuccess;
    }

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
    write(row("POS", "SCOPE", "MODIFIED", "SIZE", ""));
    for (const LayerInfo& layer : infos) {
        std::string note;
        if (layer.error.failed) {
            note = "broken at line " + std::to_string(layer.error.line) + ", column " +
                   std::to_string(layer.error.column) + ": " + printable(layer.error.message);
        }
        write(row(std::to_string(layer.position), printable(layer.scope), formatTime(layer.time),
                  std::to_string(layer.size), note));
    }
    return kSuccess;
}

int Commands::dump(const CommandLine& line) {
    expectArguments(line, 1, 2);
    expectOptions(line, true, true, false, true);
    const std::string& component = line.getArguments()[0];
    const std::string path = line.getArguments().size() > 1 ? line.getArguments()[1] : "";
    noteServed(component, line.getEntity());
    const PolicyStore store(line.getEntity());
    const std::vector<PolicyLayer> layers = readExistingLayers(store, component, line.getEntity());

    const Provenance provenance(layers);
    const NodeHistories::Names names = namesOf(component, path);
    Node* node = findNode(provenance.getRoot(), names);
    if (node == nullptr && !names.empty()) {
        throw CommandError(kNotFound, "no node " + quotedText(path) + " in component " +
                                          quotedText(component) + whereText(line.getEntity()));
    }
    if (line.getFormat() == OutputFormat::Xml) {
        write(treeFileText(node));
        return kSuccess;
    }
    DumpWriter writer(component, line.getEntity(), describeLayers(layers), provenance);
    if (node != nullptr) {
        writer.collect(*node, names);
    }
    write(line.getFormat() == OutputFormat::Json ? writer.json() : writer.text());
    return kSuccess;
}

int Commands::get(const CommandLine& line) {
    expectArguments(line, 1, 1);
    expectOptions(line, true, false, true, true);
    const std::string& address = line.getArguments()[0];
    NodePath path;
    path.setPath(address);
    PolicyStore::checkComponentName(path.getComponent());

    std::unique_ptr<ConfigurationAccess> access;
    const Node* node = nullptr;
    try {
        access = std::make_unique<ConfigurationAccess>(line.getEntity());
    } catch (const PapiException& failure) {
        throw PolicyStore::serviceError("cannot open", line.getEntity(), failure);
    }
    try {
        node = access->getNode(address);
    } catch (const PapiException& failure) {
        throw PolicyStore::serviceError(
            "cannot read the layers of " + quotedText(path.getComponent()) + " from",
            line.getEntity(), failure);
    }
    if (noteServed(*access, path.getComponent())) {
        // A store that cannot be read is a failure here, not an answer.
        PolicyStore(line.getEntity()).readLayers(path.getComponent());
    }
    if (node == nullptr) {
        throw CommandError(kNotFound,
                           "no node " + quotedText(address) + whereText(line.getEntity()));
    }
    const PropertyNode* property = node->asPropertyNode();
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

    if (line.getFormat() == OutputFormat::Json) {
        JsonWriter json;
        json.beginObject().key("component").string(path.getComponent());
        json.key("path").string(path.getPath().empty() ? "/" : path.getPath());
        json.key("type").string(layerTypeName(property->getType()));
        json.key("locale").string(locale).key("value").value(*property, locale);
        write(json.endObject().text() + "\n");
    } else if (property->isList()) {
        for (const std::string& item : property->getListValue(locale)) {
            write(printable(item) + "\n");
        }
    } else {
        write(printable(property->getStringValue(locale)) + "\n");
    }
    return kSuccess;
}

int Commands::watch(const CommandLine& line) {
    expectArguments(line, 1, 1);
    expectOptions(line, true, false, false, true);
    const std::string& component = line.getArguments()[0];
    PolicyStore::checkComponentName(component);

    // Blocked before the service starts its watcher thread, which inherits the
    // mask, so that the signals wait for sigwait here instead of killing us.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    // Declared before the facade, so that it outlives every call it gets.
    ChangePrinter printer(mOut, line.getFormat());
    std::unique_ptr<ConfigurationAccess> access;
    NodePath path;
    path.setPath(component);
    try {
        access = std::make_unique<ConfigurationAccess>(line.getEntity());
    } catch (const PapiException& failure) {
        throw PolicyStore::serviceError("cannot open", line.getEntity(), failure);
    }
    try {
        access->addListener(path, &printer);
    } catch (const PapiException& failure) {
        throw PolicyStore::serviceError("cannot watch " + quotedText(component) + " in",
                                        line.getEntity(), failure);
    }
    // A store that cannot be read now is watched all the same, for its return.
    noteServed(*access, component);
    std::fprintf(mErr, "Watching %s%s; stop with Ctrl-C.\n", printable(component).c_str(),
                 whereText(line.getEntity()).c_str());
    std::fflush(mErr);

    int received = 0;
    while (sigwait(&stopSignals, &received) != 0) {
    }
    try {
        access->removeListener(path, &printer);
    } catch (const PapiException&) {
        // Leaving anyway; the facade withdraws what is left when destroyed.
    }
    return kSuccess;
}

int Commands::check(const CommandLine& line) {
    expectArguments(line, 1, static_cast<size_t>(-1));
    expectOptions(line, false, false, false, false);
    int status = kSuccess;
    for (const std::string& fileName : line.getArguments()) {
        std::string text;
        std::string problem;
        if (!readLayerFile(fileName, text, problem)) {
            complain("cannot read " + printable(fileName) + ": " + problem);
            status = kNotFound;
            continue;
        }
        LayerChecker checker(std::move(text), LayerChecker::isMergedLast(fileName));
        const std::vector<LayerChecker::Finding> findings = checker.check();
        for (const LayerChecker::Finding& finding : findings) {
            std::string where = printable(fileName) + ":" + std::to_string(finding.line);
            if (finding.column > 0) {
                where += ":" + std::to_string(finding.column);
            }
            write(where + ": " + finding.message + "\n");
        }
        if (findings.empty()) {
            write(printable(fileName) + ": ok\n");
        } else {
            status = kNotFound;
        }
    }
    return status;
}

}  // namespace vesk::legacy::hollinctl
