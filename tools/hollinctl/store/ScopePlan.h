// SPDX-License-Identifier: LGPL-2.1-or-later
// Whose policy hollinctl shows: the scope folders searched for an entity,
// most general first, as libvesk searches them, with the user, groups and
// host they were resolved from. Besides the caller's own stack, a plan can
// be made for any user, groups and host, also ones this machine does not
// know (planning for a fleet from a copy of the store).
//
//   ScopePlan plan = ScopePlan::forEntity("");                    // the current user
//   ScopePlan other = ScopePlan::forUser("alice", {{"staff"}}, "ws12");
//   for (const std::string& scope : other.scopes()) ...   // "default", "groups/staff", ...
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vesk::legacy::hollinctl {

class JsonWriter;

class ScopePlan {
  public:
    // "" is the user of the process's uid with its groups and this host; any
    // other text an entity of its own. This is what libvesk reads.
    static ScopePlan forEntity(const std::string& entity);
    // Planning: groups nullopt are the user's groups on this system (none for
    // a user it does not know); an empty host is this host.
    static ScopePlan forUser(const std::string& user,
                             const std::optional<std::vector<std::string>>& groups,
                             const std::string& host);
    static ScopePlan forPlannedEntity(const std::string& entity, const std::string& host);
    // The scope default/ alone: what comes before any other scope for everyone.
    static ScopePlan forDefaultScope();

    const std::vector<std::string>& scopes() const { return mScopes; }
    // Whether libvesk reads the scope: not one whose name (a group's, say)
    // cannot be one folder name; it is left out of the stack.
    static bool namesAScope(const std::string& scope);
    // Where a scope's kind goes in a stack: default 0, groups 1, hosts 2, the
    // last scope (users/ or entities/) 3; a layer's locks hold against the
    // kinds after its own.
    static int kindRank(const std::string& scope);
    const std::string& entity() const { return mEntity; }
    const std::string& user() const { return mUser; }
    const std::vector<std::string>& groups() const { return mGroups; }
    const std::string& host() const { return mHost; }
    // Read from the store (its folder or directory) by hollinctl rather than
    // through libvesk.
    bool isPlanned() const { return mPlanned; }
    // "user \"alice\" (groups staff, adm; host ws12)", for headers and messages.
    std::string describe() const;
    // The keys "entity", "user", "groups", "host" of the object being written.
    void writeJson(JsonWriter& json) const;

  private:
    void addScopes();

    std::vector<std::string> mScopes;
    std::string mEntity;
    std::string mUser;
    std::vector<std::string> mGroups;
    std::string mHost;
    bool mPlanned = false;
};

}  // namespace vesk::legacy::hollinctl
