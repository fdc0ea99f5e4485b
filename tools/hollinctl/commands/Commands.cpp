#include "Commands.h"

#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>

#include "CacheRefresh.h"
#include "CacheShow.h"
#include "ChangePrinter.h"
#include "ContextCheck.h"
#include "DidYouMean.h"
#include "DumpWriter.h"
#include "EditPrecheck.h"
#include "ExitStatus.h"
#include "Explain.h"
#include "ExportFolder.h"
#include "JsonWriter.h"
#include "LayerChecker.h"
#include "LayerEdit.h"
#include "LayerFileUpdate.h"
#include "LayerInfo.h"
#include "LayerWatch.h"
#include "LayerWriter.h"
#include "LdapLayer.h"
#include "LdifExport.h"
#include "PolicyStore.h"
#include "Provenance.h"
#include "ScopePlan.h"
#include "StoreLint.h"
#include "TextEscape.h"
#include "Usage.h"
#include "access/ConfigurationAccess.h"
#include "layers/ParserContext.h"
#include "model/Node.h"
#include "model/NodePath.h"
#include "model/PropertyNode.h"
#include "model/StructuralNode.h"
#include "model/Tree.h"
#include "output/AtomicFile.h"
#include "output/RegularFile.h"
#include "policy/PapiException.h"
#include "policy/PapiLayer.h"
#include "policy/PolicyLayer.h"

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
        // xml and layer are the dump's.
        if ((format == OutputFormat::Json && !json) ||
            ((format == OutputFormat::Xml || format == OutputFormat::Layer) && !xml)) {
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

// Standard input, up to the size of a layer.
bool readStandardInput(std::string& text, std::string& problem) {
    char buffer[65536];
    for (;;) {
        const ssize_t count = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (count == 0) {
            return true;
        }
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            problem = std::strerror(errno);
            return false;
        }
        text.append(buffer, static_cast<size_t>(count));
        if (text.size() > kMaxLayerFile) {
            problem = "larger than 64 MiB";
            return false;
        }
    }
}

std::string whereText(const ScopePlan& plan) {
    return " for " + plan.describe() + " in the policy store " +
           printable(PolicyStore::storePath());
}

// A name that stands for one folder of the store.
void checkFolderName(const std::string& option, const std::string& name) {
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos ||
        name.find('\0') != std::string::npos) {
        throw CommandError(kUsage, option + ": not a name of a store folder: " + quotedText(name));
    }
}

// A scope folder of the store: default, groups/G, hosts/H, users/U, entities/E.
void checkScope(const std::string& scope) {
    const size_t slash = scope.find('/');
    const std::string kind = scope.substr(0, slash);
    const std::string name = slash == std::string::npos ? "" : scope.substr(slash + 1);
    const bool valid =
        scope == "default" ||
        ((kind == "groups" || kind == "hosts" || kind == "users" || kind == "entities") &&
         !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
         name.find('\0') == std::string::npos);
    if (!valid) {
        const std::string hint =
            DidYouMean::hint(kind, {"default", "groups", "hosts", "users", "entities"});
        throw CommandError(kUsage, "not a scope: " + quotedText(scope) +
                                       (hint.empty() ? " (default, groups/G, hosts/H, users/U, "
                                                       "entities/E)"
                                                     : hint));
    }
}

// Whose stack: the caller's through libvesk, or a planned one.
ScopePlan planOf(const CommandLine& line) {
    if (!line.hasUser() && !line.hasGroups() && !line.hasHost()) {
        return ScopePlan::forEntity(line.getEntity());
    }
    if (line.hasEntity() && !line.getEntity().empty()) {
        if (line.hasUser() || line.hasGroups()) {
            throw CommandError(kUsage, "--entity takes no --user or --groups");
        }
        return ScopePlan::forPlannedEntity(line.getEntity(), line.getHost());
    }
    std::string user = line.getUser();
    if (!line.hasUser()) {
        user = ScopePlan::forEntity("").user();
    }
    checkFolderName("--user", user);
    for (const std::string& group : line.getGroups()) {
        checkFolderName("--groups", group);
    }
    if (line.hasHost()) {
        checkFolderName("--host", line.getHost());
    }
    return ScopePlan::forUser(
        user,
        line.hasGroups() ? std::optional<std::vector<std::string>>(line.getGroups()) : std::nullopt,
        line.getHost());
}

// Reads the layers, failing with kNotFound when there are none.
// " (did you mean X?)" for a component with policy whose name is near.
std::string componentHint(const PolicyStore& store, const std::string& component) {
    try {
        return DidYouMean::hint(component, store.listComponents(""));
    } catch (const CommandError&) {
        return "";  // a store that cannot list: the failure itself says enough
    }
}

std::vector<PolicyLayer> readExistingLayers(const PolicyStore& store,
                                            const std::string& component) {
    std::vector<PolicyLayer> layers = store.readLayers(component);
    if (layers.empty()) {
        throw CommandError(kNotFound, "component " + quotedText(component) + " has no layers" +
                                          whereText(store.plan()) +
                                          componentHint(store, component));
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

// Whether programs starting now get the copy kept from the last complete
// build rather than the layers.
bool servesKeptCopy(ConfigurationAccess& access, const std::string& component) {
    return !access.isComplete(component) &&
           access.getIncompleteReason(component).compare(0, 12, "the copy in ") == 0;
}

bool isFileStore(const std::string& store) {
    return store.find("://") == std::string::npos;
}

// One scope's layer read straight from the file store: its row, or the
// reason it cannot be read; "no file" where the scope has none.
LayerInfo readScopeLayer(const std::string& scope, const std::string& component) {
    const std::string fileName = PolicyStore::storePath() + "/" + scope + "/" + component + ".xml";
    LayerInfo info;
    info.scope = scope;
    info.stamp = scope;
    struct stat status;
    if (::lstat(fileName.c_str(), &status) != 0 && errno == ENOENT) {
        info.problem = "no file";
        return info;
    }
    std::string text;
    std::string problem;
    if (!readLayerFile(fileName, text, problem)) {
        info.problem = printable(fileName) + ": " + problem;
        return info;
    }
    NodePath path;
    path.setPath(component);
    const std::vector<LayerInfo> read = describeLayers(
        {PolicyLayer(path, PapiLayer(text.data(), static_cast<int>(text.size()), scope))});
    info = read.front();
    info.stamp = scope + " " + std::to_string(static_cast<long long>(status.st_mtime));
    info.time = status.st_mtime;
    return info;
}

// Opens a checked file's object in `check --format=json`: its name, why it
// could not be read (null when it could) and its findings. The caller may add
// more keys before closing it.
void beginFileObject(JsonWriter& document, const std::string& file, const std::string* error,
                     const std::vector<LayerChecker::Finding>& findings) {
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

std::shared_ptr<const Tree> Commands::noteServed(const std::string& component,
                                                 const std::string& entity) {
    try {
        ConfigurationAccess access(entity);
        if (noteServed(access, component) && servesKeptCopy(access, component)) {
            return access.snapshot(component);
        }
    } catch (const std::exception&) {
        // The layers' own read below says what fails.
    }
    return nullptr;
}

void Commands::complain(const std::string& message) {
    std::fprintf(mErr, "hollinctl: %s\n", message.c_str());
}

int Commands::reportBroken(const CommandLine& line, const std::vector<LayerInfo>& layers,
                           bool keptCopy) {
    bool broken = false;
    for (const LayerInfo& layer : layers) {
        if (layer.error.failed) {
            complain("warning: " + brokenText(layer) +
                     (keptCopy ? "; programs starting now apply the kept copy, shown here"
                               : "; only what comes before is applied"));
            broken = true;
        }
    }
    return broken && line.isStrict() ? kBrokenLayer : kSuccess;
}

void Commands::warnOfMissingFolder(const CommandLine& line) {
    const std::string store = PolicyStore::storePath();
    if (store.find("://") != std::string::npos) {
        return;
    }
    // Scopes named on the command line; not --user: most users have no folder
    // of their own.
    std::vector<std::string> named;
    if (line.hasEntity() && !line.getEntity().empty()) {
        named.push_back("entities/" + line.getEntity());
    }
    for (const std::string& group : line.getGroups()) {
        named.push_back("groups/" + group);
    }
    if (line.hasHost()) {
        named.push_back("hosts/" + line.getHost());
    }
    for (const std::string& folder : named) {
        struct stat info;
        if (::stat((store + "/" + folder).c_str(), &info) == 0 || errno != ENOENT) {
            continue;
        }
        const size_t slash = folder.find('/');
        std::vector<std::string> known;
        std::error_code error;
        for (const auto& entry :
             std::filesystem::directory_iterator(store + "/" + folder.substr(0, slash), error)) {
            known.push_back(entry.path().filename().string());
        }
        const std::string hint = DidYouMean::hint(folder.substr(slash + 1), known);
        complain("warning: the store " + printable(store) + " has no folder " + printable(folder) +
                 (hint.empty() ? " (a misspelt name?)" : hint));
    }
}

int Commands::run(const CommandLine& line) {
    const std::string& command = line.getCommand();
    const char* configured = std::getenv("VESK_POLICY_STORE");
    if (configured != nullptr && *configured == '\0' && command != "check") {
        complain("warning: VESK_POLICY_STORE is empty, so the built-in store " +
                 printable(PolicyStore::defaultStorePath()) + " is read");
    }
    if (line.isAllRequested() && command != "layers") {
        throw CommandError(kUsage, command + " takes no --all");
    }
    if (line.isRemovedRequested() && command != "dump") {
        throw CommandError(kUsage, command + " takes no --removed");
    }
    if (line.isStrict() && command != "dump" && command != "get" && command != "layers") {
        throw CommandError(kUsage, command + " takes no --strict");
    }
    if (line.isRecursive() && command != "check") {
        throw CommandError(kUsage, command + " takes no -r");
    }
    const bool editing =
        command == "set" || command == "unset" || command == "lock" || command == "unlock";
    if ((line.isCreateRequested() || line.isForced() || line.isCreateScopeRequested()) &&
        !editing) {
        throw CommandError(kUsage, command + " takes no --create, --create-scope or --force");
    }
    if (line.hasComponent() && command != "check") {
        throw CommandError(kUsage, command + " takes no --component");
    }
    if (line.hasScope() && command != "check" && !editing) {
        throw CommandError(kUsage, command + " takes no --scope");
    }
    const bool planning = line.hasUser() || line.hasGroups() || line.hasHost();
    if (planning && command != "list" && command != "layers" && command != "dump" &&
        command != "get" && command != "check" && command != "cache" && command != "explain" &&
        !editing) {
        throw CommandError(kUsage, command + " takes no --user, --groups or --host");
    }
    if (command != "cache") {
        warnOfMissingFolder(line);
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
    if (command == "set" || command == "unset" || command == "lock" || command == "unlock") {
        return edit(line);
    }
    if (command == "explain") {
        expectOptions(line, true, false, false, true);
        return Explain::run(line, planOf(line), mOut);
    }
    if (command == "export") {
        expectOptions(line, false, false, false, false);
        return ExportFolder::run(line, mOut, mErr);
    }
    if (command == "export-ldif") {
        return LdifExport::run(line, mOut, mErr);
    }
    if (command == "cache" && !line.getArguments().empty() && line.getArguments()[0] == "show") {
        expectOptions(line, true, false, false, true);
        return CacheShow::run(line, mOut, mErr);
    }
    if (command == "cache") {
        return CacheRefresh::run(line, mOut, mErr);
    }
    throw CommandError(kUsage, "unknown command " + quotedText(command) + suggestCommand(command));
}

int Commands::list(const CommandLine& line) {
    expectArguments(line, 0, 1);
    expectOptions(line, true, false, false, true);
    const std::string prefix = line.getArguments().empty() ? "" : line.getArguments()[0];
    const PolicyStore store(planOf(line));
    const std::vector<std::string> names = store.listComponents(prefix);
    if (line.getFormat() == OutputFormat::Json) {
        JsonWriter json;
        json.beginObject();
        store.plan().writeJson(json);
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
                 "has policy" + whereText(store.plan()));
        return kNotFound;
    }
    return kSuccess;
}

int Commands::layers(const CommandLine& line) {
    expectArguments(line, 1, 1);
    expectOptions(line, true, false, false, true);
    const std::string& component = line.getArguments()[0];
    const PolicyStore store(planOf(line));
    const ScopePlan& plan = store.plan();
    if (!plan.isPlanned()) {
        noteServed(component, line.getEntity());
    }
    std::vector<LayerInfo> infos;
    int status = kSuccess;
    try {
        infos = describeLayers(store.readLayers(component));
    } catch (const CommandError& failure) {
        // One layer that cannot be read fails the whole stack in libvesk; in
        // a file store each layer can still be shown with its own reason.
        if (failure.getStatus() != kServiceError || !isFileStore(PolicyStore::storePath())) {
            throw;
        }
        complain(failure.getMessage());
        status = kServiceError;
        for (const std::string& scope : plan.scopes()) {
            infos.push_back(readScopeLayer(scope, component));
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
                LayerInfo missing;
                missing.scope = scope;
                missing.problem = "no file";
                all.push_back(missing);
            }
        }
        all.insert(all.end(), infos.begin() + static_cast<std::ptrdiff_t>(next), infos.end());
        infos = std::move(all);
    }
    if (!line.isAllRequested()) {
        infos.erase(std::remove_if(infos.begin(), infos.end(),
                                   [](const LayerInfo& info) { return info.problem == "no file"; }),
                    infos.end());
    }
    int position = 0;
    for (LayerInfo& info : infos) {
        info.position = info.problem == "no file" ? 0 : ++position;
    }
    if (status == kSuccess && line.isStrict()) {
        for (const LayerInfo& layer : infos) {
            status = layer.error.failed ? kBrokenLayer : status;
        }
    }
    if (position == 0 && status == kSuccess) {
        const std::string none =
            "component " + quotedText(component) + " has no layers" + whereText(plan);
        if (!line.isAllRequested()) {
            throw CommandError(kNotFound, none);
        }
        complain(none);
        status = kNotFound;
    }

    if (line.getFormat() == OutputFormat::Json) {
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
        write(json.endArray().endObject().text() + "\n");
        return status;
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
    write(printable(component) + " for " + plan.describe() + "\n");
    write(row("POS", "SCOPE", "MODIFIED", "SIZE", ""));
    for (const LayerInfo& layer : infos) {
        std::string note = layer.problem;
        if (layer.error.failed) {
            note = "broken at line " + std::to_string(layer.error.line) + ", column " +
                   std::to_string(layer.error.column) + ": " + printable(layer.error.message);
        }
        const bool read = layer.problem.empty();
        write(row(layer.position > 0 ? std::to_string(layer.position) : "-", printable(layer.scope),
                  formatTime(layer.time), read ? std::to_string(layer.size) : "-", note));
    }
    return status;
}

int Commands::dump(const CommandLine& line) {
    expectArguments(line, 1, 2);
    expectOptions(line, true, true, false, true);
    const std::string& component = line.getArguments()[0];
    const std::string path = line.getArguments().size() > 1 ? line.getArguments()[1] : "";
    const PolicyStore store(planOf(line));
    std::shared_ptr<const Tree> keptCopy;
    if (!store.plan().isPlanned()) {
        keptCopy = noteServed(component, line.getEntity());
    }
    std::vector<PolicyLayer> layers = readExistingLayers(store, component);
    const std::vector<LayerInfo> read = describeLayers(layers);
    if (keptCopy) {
        // What programs apply: the copy, shown as the one layer it stands for.
        std::vector<std::string> lockedToo;
        const std::string text = LayerWriter::write(component, keptCopy->getRoot(), lockedToo);
        NodePath componentPath;
        componentPath.setPath(component);
        layers = {PolicyLayer(componentPath,
                              PapiLayer(text.data(), static_cast<int>(text.size()), "kept copy"))};
    }

    const Provenance provenance(layers);
    const NodeHistories::Names names = namesOf(component, path);
    Node* node = findNode(provenance.getRoot(), names);
    if (node == nullptr && !names.empty()) {
        throw CommandError(kNotFound, "no node " + quotedText(path) +
                                          DidYouMean::forPath(provenance.getRoot(), names) +
                                          " in component " + quotedText(component) +
                                          whereText(store.plan()));
    }
    if (line.getFormat() == OutputFormat::Layer) {
        if (!names.empty()) {
            throw CommandError(kUsage, "dump --format=layer writes the whole component: no PATH");
        }
        std::vector<std::string> lockedToo;
        write(LayerWriter::write(component, node, lockedToo));
        for (const std::string& path : lockedToo) {
            complain("warning: " + printable(path) +
                     " was added below a lock by a later layer; in one layer it is locked too");
        }
        return reportBroken(line, read, keptCopy != nullptr);
    }
    if (line.getFormat() == OutputFormat::Xml) {
        write(treeFileText(node));
        return reportBroken(line, read, keptCopy != nullptr);
    }
    const std::vector<LayerInfo> infos = describeLayers(layers);
    const int status = reportBroken(line, read, keptCopy != nullptr);
    DumpWriter writer(component, store.plan(), infos, provenance);
    if (node != nullptr) {
        writer.collect(*node, names);
    }
    if (line.isRemovedRequested()) {
        writer.collectRemoved(names);
    }
    write(line.getFormat() == OutputFormat::Json ? writer.json() : writer.text());
    return status;
}

int Commands::get(const CommandLine& line) {
    if (line.getArguments().size() == 2 && line.getArguments()[0].find('/') == std::string::npos) {
        const std::string joined = line.getArguments()[0] + "/" + line.getArguments()[1];
        throw CommandError(kUsage, "get takes COMPONENT/PATH as one word: " + quotedText(joined));
    }
    expectArguments(line, 1, 1);
    expectOptions(line, true, false, true, true);
    const std::string& address = line.getArguments()[0];
    NodePath path;
    path.setPath(address);
    PolicyStore::checkComponentName(path.getComponent());

    const PolicyStore store(planOf(line));
    std::unique_ptr<ConfigurationAccess> access;
    std::unique_ptr<Provenance> planned;
    const Node* node = nullptr;
    if (store.plan().isPlanned()) {
        // Merged here, with the library's merger, as a program of that user would.
        planned = std::make_unique<Provenance>(store.readLayers(path.getComponent()));
        node = findNode(planned->getRoot(), path.getNames());
    } else {
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
    }
    bool keptCopy = false;
    if (access) {
        noteServed(*access, path.getComponent());
        keptCopy = servesKeptCopy(*access, path.getComponent());
    }
    // The layers once more, to tell whether the answer comes from a broken stack.
    const int status =
        reportBroken(line, describeLayers(store.readLayers(path.getComponent())), keptCopy);
    if (node == nullptr) {
        const Node* root = planned ? planned->getRoot() : access->getNode(path.getComponent());
        const std::string hint = root != nullptr ? DidYouMean::forPath(root, path.getNames())
                                                 : componentHint(store, path.getComponent());
        throw CommandError(kNotFound,
                           "no node " + quotedText(address) + hint + whereText(store.plan()));
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
        store.plan().writeJson(json);
        json.key("path").string(path.getPath().empty() ? "/" : path.getPath());
        json.key("type").string(ParserContext::typeName(property->getType()));
        json.key("locale").string(locale).key("value").value(*property, locale);
        write(json.endObject().text() + "\n");
    } else if (property->isList()) {
        for (const std::string& item : property->getListValue(locale)) {
            write(printable(item) + "\n");
        }
    } else {
        write(printable(property->getStringValue(locale)) + "\n");
    }
    return status;
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
    const PolicyStore store(planOf(line));
    printer.describeWith(&store);
    try {
        access->addListener(path, &printer);
    } catch (const PapiException& failure) {
        throw PolicyStore::serviceError("cannot watch " + quotedText(component) + " in",
                                        line.getEntity(), failure);
    }
    // A store that cannot be read now is watched all the same, for its return.
    noteServed(*access, component);
    LayerWatch layerWatch(store, component, printer);
    std::fprintf(mErr, "Watching %s%s; stop with Ctrl-C.\n", printable(component).c_str(),
                 whereText(store.plan()).c_str());
    std::fflush(mErr);
    layerWatch.start();

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

int Commands::edit(const CommandLine& line) {
    const std::string& command = line.getCommand();
    const size_t count = command == "set" ? 2 : 1;
    expectArguments(line, count, count);
    expectOptions(line, false, false, false, false);
    if (!line.hasScope()) {
        throw CommandError(kUsage, command + " needs --scope SCOPE: the layer to edit");
    }
    checkScope(line.getScope());
    if ((line.hasType() || line.isLockRequested()) && command != "set") {
        throw CommandError(kUsage, command + " takes no --type or --lock");
    }
    NodePath path;
    path.setPath(line.getArguments()[0]);
    const std::string component = path.getComponent();
    PolicyStore::checkComponentName(component);
    const std::vector<std::string> names = path.getNames();
    if (names.empty()) {
        throw CommandError(kUsage, command + " takes COMPONENT/PATH, a node below the root");
    }
    bool knownType = true;
    if (line.hasType()) {
        ParserContext::typeFromText(line.getType().c_str(), &knownType);
        if (!knownType) {
            throw CommandError(kUsage, "unknown type " + quotedText(line.getType()));
        }
    }
    if (line.isCreateRequested() && command != "lock") {
        throw CommandError(kUsage, command + " takes no --create");
    }
    if (line.isForced() && command == "unlock") {
        throw CommandError(kUsage, "unlock takes no --force");
    }
    const std::string& shownPath = line.getArguments()[0];
    // A directory's layer is read and written over one bound connection; a
    // file's folder stays locked from the read to the replace.
    std::unique_ptr<LdapLayer> entry;
    std::unique_ptr<LayerFileUpdate> file;
    std::string before;
    std::string fileName;
    if (isFileStore(PolicyStore::storePath())) {
        file =
            std::make_unique<LayerFileUpdate>(PolicyStore::storePath(), line.getScope(), component);
        before = file->before();
        fileName = file->fileName();
    } else {
        entry = std::make_unique<LdapLayer>(PolicyStore::storePath(), line.getScope(), component);
        if (line.isCreateScopeRequested()) {
            entry->makeScope();
        }
        before = entry->read();
        fileName = entry->where();
    }

    // The layers before the scope: those of the stack named, or default/.
    const bool planning = line.hasUser() || line.hasGroups() || line.hasHost();
    const PolicyStore stack(planning ? planOf(line) : ScopePlan::forDefaultScope());
    const EditPrecheck precheck(stack, component, line.getScope());
    const Node* node = precheck.before(names);
    std::string hint;
    if (command == "lock" && !line.isCreateRequested() && !precheck.exists(names, before, hint)) {
        throw CommandError(kNotFound, "no layer up to " + printable(line.getScope()) + " has " +
                                          quotedText(shownPath) + hint +
                                          "; lock --create makes it");
    }
    // The type the property has before, so the new value is not dropped.
    std::string type = line.getType();
    if (type.empty() && node != nullptr && node->asPropertyNode() != nullptr) {
        type = ParserContext::typeName(node->asPropertyNode()->getType());
    }
    LayerEdit edit(before, component);
    if (command == "set") {
        edit.set(names, line.getArguments()[1], type, line.isLockRequested());
    } else if (command == "lock") {
        const bool property = node != nullptr ? node->asPropertyNode() != nullptr : false;
        edit.lock(names, property);
    } else if (!(command == "unset" ? edit.unset(names) : edit.unlock(names))) {
        throw CommandError(kNotFound, "the layer " + printable(fileName) + " has no " +
                                          (command == "unset" ? "element" : "lock") + " for " +
                                          quotedText(shownPath));
    }
    const std::string after = edit.text();

    // What check says of the result, beyond what it said of the layer before.
    const bool last = LayerChecker::isMergedLast("/" + line.getScope() + "/" + component + ".xml");
    const size_t known = before.empty() ? 0 : LayerChecker(before, last).check().size();
    const std::vector<LayerChecker::Finding> findings = LayerChecker(after, last).check();
    if (findings.size() > known) {
        for (const LayerChecker::Finding& finding : findings) {
            complain(printable(fileName) + ":" + std::to_string(finding.line) + ": " +
                     finding.message);
        }
        throw CommandError(kNotFound, "not written: the edited layer has problems (above)");
    }
    if (!line.isForced()) {
        std::string why;
        for (const std::string& problem : precheck.problems(names, after)) {
            why += (why.empty() ? "" : "; ") + problem;
        }
        if (!why.empty()) {
            throw CommandError(kNotFound, "not written: " + quotedText(shownPath) +
                                              " would not apply in " + printable(line.getScope()) +
                                              ": " + why + " (--force writes it anyway)");
        }
    }
    if (entry != nullptr) {
        entry->write(after);
    } else {
        file->replace(after);
    }
    write(command + " " + printable(shownPath) + " in " + printable(fileName) + "\n");
    return kSuccess;
}

int Commands::checkStore(const CommandLine& line) {
    expectArguments(line, 0, 1);
    expectOptions(line, true, false, false, false);
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
        write(json.endArray().endObject().text() + "\n");
    } else {
        write(text.empty() ? printable(store) + ": ok\n" : text);
    }
    return status;
}

int Commands::check(const CommandLine& line) {
    if (line.isRecursive()) {
        return checkStore(line);
    }
    expectArguments(line, 1, static_cast<size_t>(-1));
    expectOptions(line, true, false, false, line.hasComponent() || line.hasScope());
    const bool json = line.getFormat() == OutputFormat::Json;
    const bool inContext = line.hasComponent() || line.hasScope();
    std::unique_ptr<PolicyStore> store;
    if (inContext) {
        if (!line.hasComponent() || !line.hasScope() || line.getArguments().size() != 1) {
            throw CommandError(kUsage, "check --component C --scope SCOPE takes both and one FILE");
        }
        PolicyStore::checkComponentName(line.getComponent());
        checkScope(line.getScope());
        store = std::make_unique<PolicyStore>(planOf(line));
    }
    JsonWriter document;
    document.beginObject().key("files").beginArray();
    int status = kSuccess;
    bool stdinRead = false;
    for (const std::string& fileName : line.getArguments()) {
        const bool fromStdin = fileName == "-";
        const std::string shown = fromStdin ? "(standard input)" : printable(fileName);
        std::string text;
        std::string problem;
        if (fromStdin && stdinRead) {
            throw CommandError(kUsage, "check: \"-\" given twice");
        }
        const bool read = fromStdin ? (stdinRead = true, readStandardInput(text, problem))
                                    : readLayerFile(fileName, text, problem);
        if (!read) {
            complain("cannot read " + shown + ": " + problem);
            status = kNotFound;
            if (json) {
                beginFileObject(document, fromStdin ? "-" : fileName, &problem, {});
                document.endObject();
            }
            continue;
        }
        ContextCheck::Result context;
        if (inContext) {
            context = ContextCheck::run(*store, line.getComponent(), line.getScope(), text);
        }
        LayerChecker checker(std::move(text), !fromStdin && LayerChecker::isMergedLast(fileName));
        const std::vector<LayerChecker::Finding> findings = checker.check();
        if (!findings.empty() || !context.refused.empty() || !context.ignored.empty()) {
            status = kNotFound;
        }
        if (inContext && json) {
            beginFileObject(document, fromStdin ? "-" : fileName, nullptr, findings);
            document.key("context").beginObject();
            document.key("component")
                .string(line.getComponent())
                .key("scope")
                .string(line.getScope());
            document.key("place").string(context.place).key("inStack").boolean(context.inStack);
            const std::pair<const char*, const std::vector<ContextCheck::Result::Entry>*> lists[] =
                {{"refused", &context.refused},
                 {"ignored", &context.ignored},
                 {"changes", &context.changes}};
            for (const auto& [key, entries] : lists) {
                document.key(key).beginArray();
                for (const ContextCheck::Result::Entry& entry : *entries) {
                    document.beginObject().key("path").string(entry.path);
                    document
                        .key(std::string(key) == "refused"   ? "lockedBy"
                             : std::string(key) == "ignored" ? "reason"
                                                             : "event")
                        .string(entry.detail)
                        .endObject();
                }
                document.endArray();
            }
            document.endObject().endObject();
            continue;
        }
        if (inContext && !json) {
            std::string text = shown + ": merged as layer " + printable(context.place) + " of " +
                               quotedText(line.getComponent()) + whereText(store->plan()) + "\n";
            if (!context.inStack) {
                text += shown + ": " + printable(line.getScope()) +
                        " is not a scope of this stack; merged in the place of its kind\n";
            }
            for (const ContextCheck::Result::Entry& entry : context.refused) {
                text += shown + ": " + printable(entry.path) + " is locked by " +
                        printable(entry.detail) + ": this change would be refused\n";
            }
            for (const ContextCheck::Result::Entry& entry : context.ignored) {
                text += shown + ": " + printable(entry.path) + ": " + entry.detail +
                        ": the value would be dropped\n";
            }
            for (const ContextCheck::Result::Entry& entry : context.changes) {
                std::string event = entry.detail;
                event.resize(8, ' ');
                text += event + printable(entry.path) + "\n";
            }
            write(text);
        }
        if (json) {
            beginFileObject(document, fromStdin ? "-" : fileName, nullptr, findings);
            document.endObject();
            continue;
        }
        for (const LayerChecker::Finding& finding : findings) {
            std::string where = shown + ":" + std::to_string(finding.line);
            if (finding.column > 0) {
                where += ":" + std::to_string(finding.column);
            }
            write(where + ": " + finding.message + "\n");
        }
        if (findings.empty() && context.refused.empty() && context.ignored.empty()) {
            write(shown + ": ok\n");
        }
    }
    if (json) {
        write(document.endArray().endObject().text() + "\n");
    }
    return status;
}

}  // namespace vesk::legacy::hollinctl
