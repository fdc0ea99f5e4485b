#include "EditCommand.h"

#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <memory>

#include "CommandIo.h"
#include "CommandLine.h"
#include "ExitStatus.h"
#include "LayerChecker.h"
#include "LayerEdit.h"
#include "LayerFiles.h"
#include "LdapLayer.h"
#include "NodeLookup.h"
#include "PlanOptions.h"
#include "PolicyStore.h"
#include "Provenance.h"
#include "TextEscape.h"
#include "layers/ParserContext.h"
#include "model/NodePath.h"
#include "model/PropertyNode.h"
#include "output/AtomicFile.h"

namespace vesk::legacy::hollinctl {

const char EditCommand::kHelp[] =
    "Usage: hollinctl set --scope SCOPE COMPONENT/PATH VALUE [--type T] [--lock]\n"
    "       hollinctl unset --scope SCOPE COMPONENT/PATH\n"
    "       hollinctl lock --scope SCOPE COMPONENT/PATH\n"
    "       hollinctl unlock --scope SCOPE COMPONENT/PATH\n"
    "\n"
    "Edits the layer of COMPONENT in SCOPE (default, groups/G, hosts/H, users/U\n"
    "or entities/E), making it and its folder if need be:\n"
    "  set     gives the property one value; its type is the one the property\n"
    "          has in the stack unless --type says otherwise; --lock locks it\n"
    "  unset   drops this layer's element for the node, so earlier layers apply\n"
    "  lock    adds zel:finalized=\"true\" to the node's element (made if missing)\n"
    "  unlock  drops it\n"
    "Everything else in the layer stays as written. The result is checked as\n"
    "check does, and written only when it has no problem the layer did not\n"
    "have before, atomically: programs see the old layer or the new one.\n"
    "In a directory (VESK_POLICY_STORE=ldap://...) the layer is the entry\n"
    "cn=COMPONENT below the scope's entry, which must exist; the edit is one\n"
    "modify (or one add of a new layer), bound as libvesk binds\n"
    "(VESK_LDAP_BINDDN and VESK_LDAP_PASSWORD_FILE, or SASL EXTERNAL over\n"
    "ldapi://), so the account needs write access to the policy.\n";

namespace {

// The layer being edited: where it lies and its text before the edit. A
// directory's layer is read and written over one bound connection.
struct Target {
    std::unique_ptr<LdapLayer> entry;
    std::string folder;
    std::string fileName;
    std::string before;
};

Target readTarget(const CommandLine& line, const std::string& component) {
    const std::string store = PolicyStore::storePath();
    Target target;
    target.folder = store + "/" + line.getScope();
    target.fileName = target.folder + "/" + component + ".xml";
    if (store.find("://") != std::string::npos) {
        target.entry = std::make_unique<LdapLayer>(store, line.getScope(), component);
        target.before = target.entry->read();
        target.fileName = target.entry->where();
    } else if (struct stat info; ::lstat(target.fileName.c_str(), &info) == 0 || errno != ENOENT) {
        std::string problem;
        if (!LayerFiles::read(target.fileName, target.before, problem)) {
            throw CommandError(kServiceError,
                               "cannot read " + printable(target.fileName) + ": " + problem);
        }
    }
    return target;
}

// The edited text, after the check that it has no problem the layer did not
// have before.
std::string editedText(const CommandLine& line, CommandIo& io, const Target& target,
                       const NodePath& path) {
    const std::string& command = line.getCommand();
    const std::vector<std::string> names = path.getNames();
    // The type the property has in the stack, so the new value is not dropped.
    std::string type = line.getType();
    const PolicyStore stack(PlanOptions::plan(line));
    const Provenance effective(stack.readLayers(path.getComponent()));
    const Node* node = NodeLookup::find(effective.getRoot(), names);
    if (type.empty() && node != nullptr && node->asPropertyNode() != nullptr) {
        type = ParserContext::typeName(node->asPropertyNode()->getType());
    }
    LayerEdit edit(target.before, path.getComponent());
    if (command == "set") {
        edit.set(names, line.getArguments()[1], type, line.isLockRequested());
    } else if (command == "lock") {
        edit.lock(names, node != nullptr && node->asPropertyNode() != nullptr);
    } else if (!(command == "unset" ? edit.unset(names) : edit.unlock(names))) {
        throw CommandError(kNotFound, "the layer " + printable(target.fileName) + " has no " +
                                          (command == "unset" ? "element" : "lock") + " for " +
                                          quotedText(line.getArguments()[0]));
    }
    std::string after = edit.text();

    // What check says of the result, beyond what it said of the layer before.
    const bool last =
        LayerChecker::isMergedLast("/" + line.getScope() + "/" + path.getComponent() + ".xml");
    const size_t known =
        target.before.empty() ? 0 : LayerChecker(target.before, last).check().size();
    const std::vector<LayerChecker::Finding> findings = LayerChecker(after, last).check();
    if (findings.size() > known) {
        for (const LayerChecker::Finding& finding : findings) {
            io.complain(printable(target.fileName) + ":" + std::to_string(finding.line) + ": " +
                        finding.message);
        }
        throw CommandError(kNotFound, "not written: the edited layer has problems (above)");
    }
    return after;
}

void writeTarget(const Target& target, const std::string& after) {
    if (target.entry != nullptr) {
        target.entry->write(after);
        return;
    }
    std::error_code error;
    std::filesystem::create_directories(target.folder, error);
    if (error) {
        throw CommandError(kServiceError, "cannot make the folder " + printable(target.folder) +
                                              ": " + error.message());
    }
    AtomicFile file(target.fileName);
    if (!file.open() || !file.write(after) || !file.commit()) {
        throw CommandError(kServiceError, "cannot write " + printable(target.fileName) + ": " +
                                              printable(file.getError()));
    }
}

}  // namespace

int EditCommand::run(const CommandLine& line, CommandIo& io) {
    const std::string& command = line.getCommand();
    const size_t count = command == "set" ? 2 : 1;
    line.expectArguments(count, count);
    if (!line.hasScope()) {
        throw CommandError(kUsage, command + " needs --scope SCOPE: the layer to edit");
    }
    PlanOptions::checkScope(line.getScope());
    NodePath path;
    path.setPath(line.getArguments()[0]);
    PolicyStore::checkComponentName(path.getComponent());
    if (path.getNames().empty()) {
        throw CommandError(kUsage, command + " takes COMPONENT/PATH, a node below the root");
    }
    bool knownType = true;
    if (line.hasType()) {
        ParserContext::typeFromText(line.getType().c_str(), &knownType);
        if (!knownType) {
            throw CommandError(kUsage, "unknown type " + quotedText(line.getType()));
        }
    }
    const Target target = readTarget(line, path.getComponent());
    writeTarget(target, editedText(line, io, target, path));
    io.write(command + " " + printable(line.getArguments()[0]) + " in " +
             printable(target.fileName) + "\n");
    return kSuccess;
}

}  // namespace vesk::legacy::hollinctl
