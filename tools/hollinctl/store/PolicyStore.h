// SPDX-License-Identifier: LGPL-2.1-or-later
// The policy service as hollinctl reaches it: one entity's connection, its
// component names and layers, and error messages that say which store, entity
// and component failed. Opening and reading failures become
// CommandError(kServiceError).
//
//   PolicyStore store(ScopePlan::forEntity(""));     // the current user, through libvesk
//   std::vector<PolicyLayer> layers = store.readLayers("com.example");
//
// A planned stack (another user, groups or host) is read from the store's
// files by hollinctl itself, along the same scopes.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "ExitStatus.h"
#include "ScopePlan.h"
#include "policy/PolicyLayer.h"

struct PAPIEvent;

namespace vesk::legacy {
class PapiConnection;
class PapiException;
class PolicyAccess;
}  // namespace vesk::legacy

namespace vesk::legacy::hollinctl {

class PolicyStore {
  public:
    explicit PolicyStore(ScopePlan plan);
    ~PolicyStore();
    PolicyStore(const PolicyStore&) = delete;
    PolicyStore& operator=(const PolicyStore&) = delete;

    // Ascending; those starting with prefix (all for an empty prefix).
    std::vector<std::string> listComponents(const std::string& prefix) const;
    // Most general first, as the library merges them.
    std::vector<PolicyLayer> readLayers(const std::string& component) const;
    // The service's change events of the component, on its watcher thread;
    // the id to pass to removeChangeListener.
    void* addChangeListener(const std::string& component, void (*callback)(const PAPIEvent*, void*),
                            void* userData) const;
    void removeChangeListener(void* id) const;
    // The change events come from a check every 2 s, not as changes happen.
    bool polling() const;

    const ScopePlan& plan() const { return mPlan; }

    // The store directory libvesk reads: $VESK_POLICY_STORE or the built-in path.
    static std::string storePath();
    // The path libvesk was built to read when the variable is unset.
    static std::string defaultStorePath();
    // "the current user" or "entity X", for messages.
    static std::string describeEntity(const std::string& entity);
    // A CommandError(kServiceError) saying what failed, where, and the
    // service's own reason.
    static CommandError serviceError(const std::string& what, const std::string& entity,
                                     const PapiException& failure);
    // Throws CommandError(kUsage) for a text that cannot name a component.
    static void checkComponentName(const std::string& component);
    // A directory URL in VESK_POLICY_STORE that libvesk cannot use (no base
    // DN, a query, a password file without a bind DN) is the setting's
    // fault, not a connection's: kServiceError saying what is wrong with it.
    static void checkLocation();

  private:
    std::vector<PolicyLayer> readPlannedLayers(const std::string& component) const;
    std::vector<std::string> listPlannedComponents(const std::string& prefix) const;

    ScopePlan mPlan;
    std::string mEntity;
    PapiConnection* mConnection;
    std::unique_ptr<PolicyAccess> mAccess;
};

}  // namespace vesk::legacy::hollinctl
