// SPDX-License-Identifier: LGPL-2.1-or-later
#include "ScopePlan.h"

#include <grp.h>
#include <limits.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "JsonWriter.h"
#include "TextEscape.h"

namespace vesk::legacy::hollinctl {

namespace {

std::string hostName() {
    char buffer[HOST_NAME_MAX + 2] = {};
    if (gethostname(buffer, HOST_NAME_MAX + 1) != 0) {
        return "";
    }
    return std::string(buffer, strnlen(buffer, HOST_NAME_MAX + 1));
}

// The user's group names in byte order, as libvesk stacks them.
std::vector<std::string> groupNames(const char* user, gid_t primary) {
    std::vector<gid_t> gids(64);
    int count = static_cast<int>(gids.size());
    while (getgrouplist(user, primary, gids.data(), &count) < 0 && gids.size() < 65536) {
        gids.resize(std::max(static_cast<size_t>(count), gids.size() * 2));
        count = static_cast<int>(gids.size());
    }
    gids.resize(std::min(gids.size(), static_cast<size_t>(std::max(count, 0))));
    std::vector<std::string> names;
    for (gid_t gid : gids) {
        if (const struct group* entry = getgrgid(gid)) {
            names.emplace_back(entry->gr_name);
        }
    }
    return names;
}

}  // namespace

void ScopePlan::addScopes() {
    std::sort(mGroups.begin(), mGroups.end());
    mGroups.erase(std::unique(mGroups.begin(), mGroups.end()), mGroups.end());
    mScopes.push_back("default");
    if (!mEntity.empty()) {
        mScopes.push_back("hosts/" + mHost);
        mScopes.push_back("entities/" + mEntity);
        return;
    }
    for (const std::string& group : mGroups) {
        mScopes.push_back("groups/" + group);
    }
    mScopes.push_back("hosts/" + mHost);
    if (!mUser.empty()) {
        mScopes.push_back("users/" + mUser);
    }
}

bool ScopePlan::namesAScope(const std::string& scope) {
    const size_t slash = scope.find('/');
    const std::string name = slash == std::string::npos ? scope : scope.substr(slash + 1);
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

ScopePlan ScopePlan::forEntity(const std::string& entity) {
    ScopePlan plan;
    plan.mEntity = entity;
    plan.mHost = hostName();
    if (entity.empty()) {
        if (const struct passwd* user = getpwuid(getuid())) {
            plan.mUser = user->pw_name;
            plan.mGroups = groupNames(user->pw_name, user->pw_gid);
        }
    }
    plan.addScopes();
    return plan;
}

ScopePlan ScopePlan::forUser(const std::string& user,
                             const std::optional<std::vector<std::string>>& groups,
                             const std::string& host) {
    ScopePlan plan;
    plan.mPlanned = true;
    plan.mUser = user;
    plan.mHost = host.empty() ? hostName() : host;
    if (groups) {
        plan.mGroups = *groups;
    } else if (const struct passwd* entry = getpwnam(user.c_str())) {
        plan.mGroups = groupNames(entry->pw_name, entry->pw_gid);
    }
    plan.addScopes();
    return plan;
}

ScopePlan ScopePlan::forPlannedEntity(const std::string& entity, const std::string& host) {
    ScopePlan plan;
    plan.mPlanned = true;
    plan.mEntity = entity;
    plan.mHost = host.empty() ? hostName() : host;
    plan.addScopes();
    return plan;
}

ScopePlan ScopePlan::forDefaultScope() {
    ScopePlan plan;
    plan.mPlanned = true;
    plan.mScopes.push_back("default");
    return plan;
}

std::string ScopePlan::describe() const {
    std::string text;
    if (!mEntity.empty()) {
        return "entity " + quotedText(mEntity) + " (host " + printable(mHost) + ")";
    }
    text = mPlanned ? "user " + quotedText(mUser) : "the current user";
    if (!mPlanned && !mUser.empty()) {
        text += " " + quotedText(mUser);
    }
    text += " (groups ";
    for (size_t i = 0; i < mGroups.size(); ++i) {
        text += (i > 0 ? ", " : "") + printable(mGroups[i]);
    }
    return text + (mGroups.empty() ? "none" : "") + "; host " + printable(mHost) + ")";
}

void ScopePlan::writeJson(JsonWriter& json) const {
    json.key("entity").string(mEntity).key("user");
    mEntity.empty() ? json.string(mUser) : json.null();
    json.key("groups").beginArray();
    for (const std::string& group : mGroups) {
        json.string(group);
    }
    json.endArray().key("host").string(mHost);
}

int ScopePlan::kindRank(const std::string& scope) {
    if (scope == "default") {
        return 0;
    }
    if (scope.compare(0, 7, "groups/") == 0) {
        return 1;
    }
    return scope.compare(0, 6, "hosts/") == 0 ? 2 : 3;
}

}  // namespace vesk::legacy::hollinctl
