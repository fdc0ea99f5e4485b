#include "PolicyStore.h"

#include <cstdlib>

#include "TextEscape.h"
#include "model/NodePath.h"
#include "policy/PapiConnection.h"
#include "policy/PapiException.h"
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

PolicyStore::PolicyStore(const std::string& entity) : mEntity(entity), mConnection(nullptr) {
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
    releaseSharedPapi(mConnection);
}

std::vector<std::string> PolicyStore::listComponents(const std::string& prefix) const {
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
    try {
        return mConnection->addListener(component, callback, userData);
    } catch (const PapiException& failure) {
        throw serviceError("cannot watch " + quotedText(component) + " in", mEntity, failure);
    }
}

void PolicyStore::removeChangeListener(void* id) const {
    try {
        mConnection->removeListener(id);
    } catch (const PapiException&) {
        // Leaving anyway; the connection withdraws it when closed.
    }
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

void PolicyStore::checkComponentName(const std::string& component) {
    // The service refuses these too, but as a service failure; they are the
    // caller's mistake.
    if (component.empty() || component == "." || component == ".." ||
        component.find('/') != std::string::npos || component.find('\0') != std::string::npos) {
        throw CommandError(kUsage, "not a component name: " + quotedText(component));
    }
}

}  // namespace vesk::legacy::hollinctl
