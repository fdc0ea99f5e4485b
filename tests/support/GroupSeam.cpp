// SPDX-License-Identifier: LGPL-2.1-or-later
#include "GroupSeam.h"

#include <dlfcn.h>
#include <grp.h>

#include <mutex>
#include <optional>

namespace groupseam {
namespace {

const gid_t kFirstGid = 0x7ffe0000;  // far above the ids of real groups

std::mutex sMutex;  // watcher threads may look the stack up again
std::optional<std::vector<std::string>> sNames;
char sNoPassword[] = "";
char* sNoMembers[] = {nullptr};

}  // namespace

void set(const std::vector<std::string>& names) {
    std::lock_guard<std::mutex> lock(sMutex);
    sNames = names;
}

void clear() {
    std::lock_guard<std::mutex> lock(sMutex);
    sNames.reset();
}

}  // namespace groupseam

using namespace groupseam;

extern "C" int getgrouplist(const char* user, gid_t group, gid_t* groups, int* ngroups) {
    std::unique_lock<std::mutex> lock(sMutex);
    if (!sNames) {
        lock.unlock();
        using Real = int(const char*, gid_t, gid_t*, int*);
        return reinterpret_cast<Real*>(dlsym(RTLD_NEXT, "getgrouplist"))(user, group, groups,
                                                                         ngroups);
    }
    const int count = static_cast<int>(sNames->size());
    const bool fits = *ngroups >= count;
    for (int i = 0; fits && i < count; ++i) {
        groups[i] = kFirstGid + static_cast<gid_t>(i);
    }
    *ngroups = count;
    return fits ? count : -1;
}

// The entry points into the seam's own names, which stay put until the next
// set(): callers copy the name at once.
extern "C" int getgrgid_r(gid_t gid, struct group* entry, char* buffer, size_t size,
                          struct group** result) {
    std::unique_lock<std::mutex> lock(sMutex);
    if (!sNames || gid < kFirstGid || gid - kFirstGid >= sNames->size()) {
        lock.unlock();
        using Real = int(gid_t, struct group*, char*, size_t, struct group**);
        return reinterpret_cast<Real*>(dlsym(RTLD_NEXT, "getgrgid_r"))(gid, entry, buffer, size,
                                                                       result);
    }
    std::string& name = (*sNames)[gid - kFirstGid];
    *entry = {name.data(), sNoPassword, gid, sNoMembers};
    *result = name.empty() ? nullptr : entry;  // an empty name: a group id without a name
    return 0;
}
