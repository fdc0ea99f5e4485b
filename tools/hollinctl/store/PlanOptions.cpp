// SPDX-License-Identifier: LGPL-2.1-or-later
#include "PlanOptions.h"

#include "DidYouMean.h"

#include <optional>

#include "CommandLine.h"
#include "ExitStatus.h"
#include "PolicyStore.h"
#include "TextEscape.h"

namespace vesk::legacy::hollinctl {

std::string PlanOptions::where(const ScopePlan& plan) {
    return " for " + plan.describe() + " in the policy store " +
           printable(PolicyStore::storePath());
}

void PlanOptions::checkFolderName(const std::string& option, const std::string& name) {
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos ||
        name.find('\0') != std::string::npos) {
        throw CommandError(kUsage, option + ": not a name of a store folder: " + quotedText(name));
    }
}

void PlanOptions::checkScope(const std::string& scope) {
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

ScopePlan PlanOptions::plan(const CommandLine& line) {
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

std::string PlanOptions::componentHint(const PolicyStore& store, const std::string& component) {
    try {
        return DidYouMean::hint(component, store.listComponents(""));
    } catch (const CommandError&) {
        return "";  // a store that cannot list: the failure itself says enough
    }
}

std::vector<PolicyLayer> PlanOptions::readExisting(const PolicyStore& store,
                                                   const std::string& component) {
    std::vector<PolicyLayer> layers = store.readLayers(component);
    if (layers.empty()) {
        throw CommandError(kNotFound, "component " + quotedText(component) + " has no layers" +
                                          where(store.plan()) + componentHint(store, component));
    }
    return layers;
}

}  // namespace vesk::legacy::hollinctl
