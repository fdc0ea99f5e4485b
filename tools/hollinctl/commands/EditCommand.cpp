// SPDX-License-Identifier: LGPL-2.1-or-later
#include "EditCommand.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <memory>

#include "CommandIo.h"
#include "CommandLine.h"
#include "EditPrecheck.h"
#include "ExitStatus.h"
#include "LayerChecker.h"
#include "LayerEdit.h"
#include "LayerFileUpdate.h"
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

namespace vesk::legacy::hollinctl {

const char EditCommand::kHelp[] =
    "Usage: hollinctl set --scope SCOPE COMPONENT/PATH VALUE [--type T] [--lock]\n"
    "       hollinctl unset --scope SCOPE COMPONENT/PATH\n"
    "       hollinctl lock --scope SCOPE COMPONENT/PATH [--create]\n"
    "       hollinctl unlock --scope SCOPE COMPONENT/PATH\n"
    "       [--user NAME] [--groups A,B] [--host NAME] [--force] [--create-scope]\n"
    "\n"
    "Edits the layer of COMPONENT in SCOPE (default, groups/G, hosts/H, users/U\n"
    "or entities/E), making it and its folder if need be:\n"
    "  set     gives the property one value; its type is the one the property\n"
    "          has in the stack unless --type says otherwise; --lock locks it\n"
    "  unset   drops this layer's element for the node, so earlier layers apply,\n"
    "          and the groups around it that it leaves empty\n"
    "  lock    adds zel:finalized=\"true\" to the node's element; a node no layer\n"
    "          up to the scope has is refused (did you mean ...?) unless --create\n"
    "  unlock  drops it\n"
    "Everything else in the layer stays as written. The result is checked as\n"
    "check does, and written only when it has no problem the layer did not\n"
    "have before, atomically: programs see the old layer or the new one. Edits\n"
    "of one scope at once wait for each other; new folders are 0755 and new\n"
    "layers 0644 whatever the umask. The layers before the scope (of the stack\n"
    "--user/--groups/--host name, else default/) are merged first: a value an\n"
    "earlier lock refuses or of the wrong kind is not written unless --force.\n"
    "In a directory (VESK_POLICY_STORE=ldap://...) the layer is the entry\n"
    "cn=COMPONENT below the scope's entry, which must exist (--create-scope\n"
    "adds it); the edit is one modify (or one add of a new layer), bound as\n"
    "libvesk binds (VESK_LDAP_BINDDN and VESK_LDAP_PASSWORD_FILE, or SASL\n"
    "EXTERNAL over ldapi://), so the account needs write access to the policy.\n";

namespace {

// The layer being edited: where it lies and its text before the edit. A
// directory's layer is read and written over one bound connection; a file's
// folder stays locked from the read to the replace.
struct Target {
    std::unique_ptr<LdapLayer> entry;
    std::unique_ptr<LayerFileUpdate> file;
    std::string fileName;
    std::string before;
};

Target readTarget(const CommandLine& line, const std::string& component) {
    const std::string store = PolicyStore::storePath();
    Target target;
    if (store.find("://") != std::string::npos) {
        target.entry = std::make_unique<LdapLayer>(store, line.getScope(), component);
        if (line.isCreateScopeRequested()) {
            target.entry->makeScope();
        }
        target.before = target.entry->read();
        target.fileName = target.entry->where();
    } else {
        target.file = std::make_unique<LayerFileUpdate>(store, line.getScope(), component);
        target.before = target.file->before();
        target.fileName = target.file->fileName();
    }
    return target;
}

// The edited text, after the check that it has no problem the layer did not
// have before and that it applies after the layers before its scope.
std::string editedText(const CommandLine& line, CommandIo& io, const Target& target,
                       const NodePath& path) {
    const std::string& command = line.getCommand();
    const std::string& shownPath = line.getArguments()[0];
    const std::vector<std::string> names = path.getNames();
    // The layers before the scope: those of the stack named, or default/.
    const bool planning = line.hasUser() || line.hasGroups() || line.hasHost();
    const PolicyStore stack(planning ? PlanOptions::plan(line) : ScopePlan::forDefaultScope());
    const EditPrecheck precheck(stack, path.getComponent(), line.getScope());
    const Node* node = precheck.before(names);
    std::string hint;
    if (command == "lock" && !line.isCreateRequested() &&
        !precheck.exists(names, target.before, hint)) {
        throw CommandError(kNotFound, "no layer up to " + printable(line.getScope()) + " has " +
                                          quotedText(shownPath) + hint +
                                          "; lock --create makes it");
    }
    // The type the property has before, so the new value is not dropped.
    std::string type = line.getType();
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
                                          quotedText(shownPath));
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
    return after;
}

// A linked layer is edited at its target only inside the store: a link in
// a folder others can write must not make root rewrite any file it names.
void refuseLinkOutOfStore(const std::string& fileName) {
    const std::string store = PolicyStore::storePath();
    std::error_code outside;
    const std::filesystem::path resolved = std::filesystem::weakly_canonical(fileName, outside);
    const std::filesystem::path root = std::filesystem::weakly_canonical(store, outside);
    if (outside ||
        std::mismatch(root.begin(), root.end(), resolved.begin(), resolved.end()).first !=
            root.end() ||
        resolved == root) {
        throw CommandError(kServiceError, "not written: " + printable(fileName) + " leads to " +
                                              printable(resolved.string()) +
                                              ", outside the store " + printable(store));
    }
}

void writeTarget(const Target& target, const std::string& after) {
    if (target.entry != nullptr) {
        target.entry->write(after);
    } else {
        refuseLinkOutOfStore(target.fileName);
        target.file->replace(after);
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
    if (line.isCreateRequested() && command != "lock") {
        throw CommandError(kUsage, command + " takes no --create");
    }
    if (line.isForced() && command == "unlock") {
        throw CommandError(kUsage, "unlock takes no --force");
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
