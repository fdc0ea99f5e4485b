// SPDX-License-Identifier: LGPL-2.1-or-later
#include "PolicyStore.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <set>

#include "FailureDetail.h"
#include "LdapLayer.h"
#include "LdapLocation.h"
#include "TextEscape.h"
#include "model/NodePath.h"
#include "output/RegularFile.h"
#include "policy/PapiConnection.h"
#include "policy/PapiException.h"
#include "policy/PapiLayer.h"
#include "policy/PolicyAccess.h"

#ifndef HOLLINCTL_DEFAULT_STORE
#define HOLLINCTL_DEFAULT_STORE "/etc/vesk/store"
#endif

namespace vesk::legacy::hollinctl {

namespace {

// The service's detail (what failed and the system's reason) with its
// status text, without the line end the status text carries.
std::string reasonOf(const PapiException& failure) {
    std::string reason = failure.getMessage();
    while (!reason.empty() && reason.back() == '\n') {
        reason.pop_back();
    }
    if (failure.getDetail().empty()) {
        return reason;
    }
    return printable(failure.getDetail()) + " (" + reason + ")";
}

}  // namespace

PolicyStore::PolicyStore(ScopePlan plan)
    : mPlan(std::move(plan)), mEntity(mPlan.entity()), mConnection(nullptr) {
    if (mPlan.isPlanned()) {
        struct stat info;
        const std::string root = storePath();
        if (root.find("://") != std::string::npos) {
            return;  // each layer is read from its entry
        }
        if (::stat(root.c_str(), &info) != 0) {
            throw CommandError(kServiceError, "cannot open the policy store " + printable(root) +
                                                  ": " + std::strerror(errno));
        }
        if (!S_ISDIR(info.st_mode)) {
            throw CommandError(kServiceError, "cannot open the policy store " + printable(root) +
                                                  ": " + std::strerror(ENOTDIR));
        }
        return;
    }
    const std::string& entity = mEntity;
    try {
        mConnection = getSharedPapi(entity);
        mAccess = std::make_unique<PolicyAccess>(entity);
    } catch (const PapiException& failure) {
        releaseSharedPapi(mConnection);
        throw serviceError("cannot open", entity, failure);
    }
}

PolicyStore::~PolicyStore() {
    mAccess.reset();
    if (mConnection != nullptr) {
        releaseSharedPapi(mConnection);
    }
}

std::vector<std::string> PolicyStore::listComponents(const std::string& prefix) const {
    if (mPlan.isPlanned()) {
        return listPlannedComponents(prefix);
    }
    std::vector<std::string> names;
    try {
        mConnection->listComponentNames(prefix, names);
    } catch (const PapiException& failure) {
        throw serviceError("cannot list the components in", mEntity, failure);
    }
    return names;
}

std::vector<PolicyLayer> PolicyStore::readLayers(const std::string& component) const {
    checkComponentName(component);
    if (mPlan.isPlanned()) {
        return readPlannedLayers(component);
    }
    NodePath path;
    path.setPath(component);
    std::vector<PolicyLayer> layers;
    try {
        mAccess->getPolicyLayers(path, layers);
    } catch (const PapiException& failure) {
        throw serviceError("cannot read the layers of " + quotedText(component) + " from", mEntity,
                           failure);
    }
    return layers;
}

void* PolicyStore::addChangeListener(const std::string& component,
                                     void (*callback)(const PAPIEvent*, void*),
                                     void* userData) const {
    if (mConnection == nullptr) {
        throw CommandError(kUsage, "a planned stack cannot be watched");
    }
    try {
        return mConnection->addListener(component, callback, userData);
    } catch (const PapiException& failure) {
        throw serviceError("cannot watch " + quotedText(component) + " in", mEntity, failure);
    }
}

bool PolicyStore::polling() const {
    return mConnection != nullptr && mConnection->isPolling();
}

void PolicyStore::removeChangeListener(void* id) const {
    try {
        mConnection->removeListener(id);
    } catch (const PapiException&) {
        // Leaving anyway; the connection withdraws it when closed.
    }
}

std::vector<PolicyLayer> PolicyStore::readPlannedLayers(const std::string& component) const {
    NodePath path;
    path.setPath(component);
    std::vector<PolicyLayer> layers;
    if (storePath().find("://") != std::string::npos) {
        for (const std::string& scope : mPlan.scopes()) {
            std::string text;
            std::string stamp;
            try {
                LdapLayer layer(storePath(), scope, component);
                text = layer.read();
                stamp = layer.stamp();
            } catch (const CommandError& failure) {
                if (failure.getStatus() != kNotFound) {  // a scope without an entry has no layer
                    throw;
                }
            }
            if (!text.empty()) {
                layers.emplace_back(path,
                                    PapiLayer(text.data(), static_cast<int>(text.size()), stamp));
            }
        }
        return layers;
    }
    for (const std::string& scope : mPlan.scopes()) {
        const std::string fileName = storePath() + "/" + scope + "/" + component + ".xml";
        struct stat info;
        if (!ScopePlan::namesAScope(scope) ||
            (::lstat(fileName.c_str(), &info) != 0 && errno == ENOENT)) {
            continue;  // left out, as libvesk does
        }
        std::string text;
        std::string problem;
        // Like libvesk: one layer that cannot be read fails the stack.
        if (!readRegularFile(fileName, 64 * 1024 * 1024, "larger than 64 MiB", text, problem)) {
            throw CommandError(kServiceError, "cannot read the layers of " + quotedText(component) +
                                                  ": " + printable(fileName) + ": " + problem);
        }
        const std::string stamp =
            scope + " " + std::to_string(static_cast<long long>(info.st_mtime));
        layers.emplace_back(path, PapiLayer(text.data(), static_cast<int>(text.size()), stamp));
    }
    return layers;
}

std::vector<std::string> PolicyStore::listPlannedComponents(const std::string& prefix) const {
    if (storePath().find("://") != std::string::npos) {
        throw CommandError(kUsage,
                           "listing the components of a planned stack reads a store "
                           "folder, not " +
                               printable(storePath()));
    }
    std::set<std::string> found;
    for (const std::string& scope : mPlan.scopes()) {
        DIR* folder = ::opendir((storePath() + "/" + scope).c_str());
        if (folder == nullptr) {
            if (errno == ENOENT) {
                continue;
            }
            throw CommandError(kServiceError, "cannot list " +
                                                  printable(storePath() + "/" + scope) + ": " +
                                                  std::strerror(errno));
        }
        while (const struct dirent* entry = ::readdir(folder)) {
            const std::string name = entry->d_name;
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".xml") == 0) {
                const std::string component = name.substr(0, name.size() - 4);
                if (component != "." && component != ".." &&
                    component.compare(0, prefix.size(), prefix) == 0) {
                    found.insert(component);
                }
            }
        }
        ::closedir(folder);
    }
    return std::vector<std::string>(found.begin(), found.end());
}

std::string PolicyStore::storePath() {
    const char* store = std::getenv("VESK_POLICY_STORE");
    return store != nullptr && *store != '\0' ? store : defaultStorePath();
}

std::string PolicyStore::defaultStorePath() {
    return HOLLINCTL_DEFAULT_STORE;
}

std::string PolicyStore::describeEntity(const std::string& entity) {
    return entity.empty() ? "the current user" : "entity " + quotedText(entity);
}

CommandError PolicyStore::serviceError(const std::string& what, const std::string& entity,
                                       const PapiException& failure) {
    return CommandError(kServiceError, what + " the policy store " + printable(storePath()) +
                                           " for " + describeEntity(entity) + ": " +
                                           reasonOf(failure));
}

void PolicyStore::checkLocation() {
    const std::string store = storePath();
    store::LdapLocation location;
    if (store::LdapLocation::isDirectoryUrl(store) &&
        store::LdapLocation::parse(store, location) != PAPISuccess) {
        throw CommandError(kServiceError, "cannot use the policy store " + printable(store) + ": " +
                                              printable(store::FailureDetail::current()));
    }
}

void PolicyStore::checkComponentName(const std::string& component) {
    // The service refuses these too, but as a service failure; they are the
    // caller's mistake.
    if (component.empty() || component == "." || component == ".." ||
        component.find('/') != std::string::npos || component.find('\0') != std::string::npos) {
        throw CommandError(kUsage, "not a component name: " + quotedText(component));
    }
}

}  // namespace vesk::legacy::hollinctl
