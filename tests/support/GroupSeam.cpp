#include "GroupSeam.h"

#include <dlfcn.h>
#include <errno.h>
#include <grp.h>

#include <cstring>
#include <mutex>
#include <optional>

namespace groupseam {
namespace {

const gid_t kFirstGid = 0x7ffe0000;  // far above the ids of real groups

std::mutex sMutex;  // watcher threads may look the stack up again
std::optional<std::vector<std::string>> sNames;

template <typename Function>
Function* real(const char* name) {
    return reinterpret_cast<Function*>(dlsym(RTLD_NEXT, name));
}

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
    {
        std::lock_guard<std::mutex> lock(sMutex);
        if (sNames) {
            const int count = static_cast<int>(sNames->size());
            const bool fits = *ngroups >= count;
            for (int i = 0; fits && i < count; ++i) {
                groups[i] = kFirstGid + static_cast<gid_t>(i);
            }
            *ngroups = count;
            return fits ? count : -1;
        }
    }
    return real<int(const char*, gid_t, gid_t*, int*)>("getgrouplist")(user, group, groups,
                                                                       ngroups);
}

extern "C" int getgrgid_r(gid_t gid, struct group* entry, char* buffer, size_t size,
                          struct group** result) {
    {
        std::lock_guard<std::mutex> lock(sMutex);
        if (sNames && gid >= kFirstGid && gid - kFirstGid < sNames->size()) {
            const std::string& name = (*sNames)[gid - kFirstGid];
            *result = nullptr;
            if (name.empty()) {
                return 0;
            }
            // The member list (empty) and the name live in the caller's buffer.
            if (size < sizeof(char*) + name.size() + 1) {
                return ERANGE;
            }
            char** members = reinterpret_cast<char**>(buffer);
            members[0] = nullptr;
            char* text = buffer + sizeof(char*);
            std::memcpy(text, name.c_str(), name.size() + 1);
            entry->gr_name = text;
            entry->gr_passwd = text + name.size();
            entry->gr_gid = gid;
            entry->gr_mem = members;
            *result = entry;
            return 0;
        }
    }
    return real<int(gid_t, struct group*, char*, size_t, struct group**)>("getgrgid_r")(
        gid, entry, buffer, size, result);
}
