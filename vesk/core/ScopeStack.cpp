// SPDX-License-Identifier: LGPL-2.1-or-later
#include "ScopeStack.h"

#include <fcntl.h>
#include <grp.h>
#include <limits.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "FailureDetail.h"
#include "StoreSetting.h"
#include "SystemLog.h"

namespace vesk::legacy::store {

namespace {

const char* const kDefaultScope = "default";
const char* const kGroupsFolder = "groups/";
const char* const kHostsFolder = "hosts/";
const char* const kUsersFolder = "users/";
const char* const kEntitiesFolder = "entities/";
const char* const kScopeFolders[] = {"default", "groups", "hosts", "users", "entities"};

// Upper bound for the lookup buffers; a larger entry is taken as broken.
const size_t kMaxLookupBuffer = 1 << 20;

size_t initialBufferSize(int name) {
    const long size = sysconf(name);
    return size > 0 ? static_cast<size_t>(size) : 16384;
}

bool lookUpUser(uid_t uid, std::string& user, gid_t& gid) {
    std::vector<char> buffer(initialBufferSize(_SC_GETPW_R_SIZE_MAX));
    struct passwd entry;
    struct passwd* result = nullptr;
    int rc;
    while ((rc = getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &result)) == ERANGE &&
           buffer.size() < kMaxLookupBuffer) {
        buffer.resize(buffer.size() * 2);
    }
    if (rc != 0 || result == nullptr || entry.pw_name == nullptr) {
        return false;
    }
    user = entry.pw_name;
    gid = entry.pw_gid;
    return true;
}

bool lookUpGroupName(gid_t gid, std::string& name) {
    std::vector<char> buffer(initialBufferSize(_SC_GETGR_R_SIZE_MAX));
    struct group entry;
    struct group* result = nullptr;
    int rc;
    while ((rc = getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &result)) == ERANGE &&
           buffer.size() < kMaxLookupBuffer) {
        buffer.resize(buffer.size() * 2);
    }
    if (rc != 0 || result == nullptr || entry.gr_name == nullptr) {
        return false;
    }
    name = entry.gr_name;
    return true;
}

// Names of the user's groups in ascending byte order; a group id without a
// name has no scope and is left out.
std::vector<std::string> groupNames(const std::string& user, gid_t primary) {
    std::vector<gid_t> gids(32);
    for (;;) {
        int count = static_cast<int>(gids.size());
        if (getgrouplist(user.c_str(), primary, gids.data(), &count) >= 0) {
            gids.resize(static_cast<size_t>(count));
            break;
        }
        const size_t wanted = std::max(static_cast<size_t>(count), gids.size() * 2);
        if (wanted > 65536) {
            gids.assign(1, primary);
            break;
        }
        gids.resize(wanted);
    }
    std::vector<std::string> names;
    for (gid_t gid : gids) {
        std::string name;
        if (lookUpGroupName(gid, name)) {
            names.push_back(name);
        }
    }
    // std::string orders by unsigned bytes, which is the order layers stack in.
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
    return names;
}

std::string hostName() {
    char buffer[HOST_NAME_MAX + 2] = {};
    if (gethostname(buffer, HOST_NAME_MAX + 1) == 0 && buffer[0] != '\0') {
        return std::string(buffer, strnlen(buffer, HOST_NAME_MAX + 1));
    }
    struct utsname names;
    if (uname(&names) == 0) {
        return std::string(names.nodename, strnlen(names.nodename, sizeof names.nodename));
    }
    return std::string();
}

}  // namespace

ScopeStack::ScopeStack(std::string root, std::vector<std::string> scopes)
    : mRoot(std::move(root)), mScopes(std::move(scopes)) {}

bool ScopeStack::isValidName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

std::string ScopeStack::configuredStore() {
    const char* configured = std::getenv("VESK_POLICY_STORE");
    if (configured != nullptr && configured[0] != '\0') {
        return configured;
    }
    std::string why;
    const std::string chosen = StoreSetting::read(VESK_STORE_SETTING, 0, why);
    if (!why.empty()) {
        // Refused, nothing is read: the file itself stands as the store,
        // which no read can open, rather than a store its writer did not name.
        SystemLog::warning("the store setting is refused, no policy is read:", why);
        return VESK_STORE_SETTING;
    }
    return chosen.empty() ? VESK_DEFAULT_STORE : chosen;
}

std::string ScopeStack::storeRoot() {
    std::string root = configuredStore();
    if (root[0] != '/') {
        // The watcher keeps using the path after a possible chdir of the process.
        std::vector<char> cwd(PATH_MAX + 1);
        if (getcwd(cwd.data(), cwd.size()) != nullptr) {
            root = std::string(cwd.data()) + "/" + root;
        }
    }
    while (root.size() > 1 && root.back() == '/') {
        root.pop_back();
    }
    return root;
}

// A store on a mount that is not mounted shows the empty folder below it:
// read as a store without policy, it would delete every launcher and
// overwrite the kept copies. A store root always holds a scope folder;
// one with an empty default/ is the way to publish no policy.
bool ScopeStack::rootAccessible() const {
    const int fd = open(mRoot.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        FailureDetail::failWithErrno(PAPIConnectionFailure, mRoot, errno);
        return false;
    }
    bool holdsScopes = false;
    for (const char* folder : kScopeFolders) {
        struct stat info;
        holdsScopes = holdsScopes || fstatat(fd, folder, &info, AT_SYMLINK_NOFOLLOW) == 0;
    }
    close(fd);
    if (!holdsScopes) {
        FailureDetail::note(mRoot + ": " + kNoScopeFolders);
    }
    return holdsScopes;
}

PAPIStatus ScopeStack::forConnection(const char* connectionString,
                                     std::unique_ptr<ScopeStack>& stack) {
    std::vector<std::string> scopes;
    const PAPIStatus status = scopesFor(connectionString, scopes);
    if (status != PAPISuccess) {
        return status;
    }
    // A store that is not there (yet) is no failure here: reads say so with
    // their status, and the watcher waits for it to appear.
    stack = std::make_unique<ScopeStack>(storeRoot(), std::move(scopes));
    return PAPISuccess;
}

// A user, group or host name from the name services that cannot be one path
// element has no scope: that one scope is left out, with a warning, and the
// rest of the stack still applies. Refusing the whole stack would leave the
// user without the site's locks.
PAPIStatus ScopeStack::scopesFor(const char* connectionString, std::vector<std::string>& result) {
    const std::string entity = connectionString != nullptr ? connectionString : "";
    if (!entity.empty() && !isValidName(entity)) {
        return FailureDetail::fail(PAPIInvalidArg,
                                   "entity \"" + entity + "\" cannot name a store folder");
    }
    std::vector<std::string> scopes{kDefaultScope};
    const auto add = [&scopes](const char* folder, const char* kind, const std::string& name) {
        if (isValidName(name)) {
            scopes.push_back(folder + name);
        } else {
            SystemLog::warning(kind, name);
        }
    };
    const std::string host = hostName();
    if (entity.empty()) {
        // The process's uid, not $USER: the environment is the user's to change.
        std::string user;
        gid_t primary = 0;
        if (!lookUpUser(getuid(), user, primary)) {
            return FailureDetail::fail(PAPIAuthenticationFailure,
                                       "uid " + std::to_string(getuid()) + " has no user entry");
        }
        for (const std::string& group : groupNames(user, primary)) {
            add(kGroupsFolder, "group name cannot name a scope, its layers are left out:", group);
        }
        add(kHostsFolder, "host name cannot name a scope, its layers are left out:", host);
        add(kUsersFolder, "user name cannot name a scope, its layers are left out:", user);
    } else {
        add(kHostsFolder, "host name cannot name a scope, its layers are left out:", host);
        scopes.push_back(kEntitiesFolder + entity);
    }
    result = std::move(scopes);
    return PAPISuccess;
}

}  // namespace vesk::legacy::store
