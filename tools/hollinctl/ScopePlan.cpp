#include "ScopePlan.h"

#include <grp.h>
#include <limits.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

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
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
    return names;
}

}  // namespace

ScopePlan ScopePlan::forEntity(const std::string& entity) {
    ScopePlan plan;
    plan.mScopes.push_back("default");
    const std::string host = hostName();
    if (!entity.empty()) {
        plan.mScopes.push_back("hosts/" + host);
        plan.mScopes.push_back("entities/" + entity);
        return plan;
    }
    const struct passwd* user = getpwuid(getuid());
    if (user == nullptr) {
        plan.mScopes.push_back("hosts/" + host);
        return plan;
    }
    const std::string name = user->pw_name;
    for (const std::string& group : groupNames(name.c_str(), user->pw_gid)) {
        plan.mScopes.push_back("groups/" + group);
    }
    plan.mScopes.push_back("hosts/" + host);
    plan.mScopes.push_back("users/" + name);
    return plan;
}

}  // namespace vesk::legacy::hollinctl
