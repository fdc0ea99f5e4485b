#include "CacheRefresh.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "ExitStatus.h"
#include "PolicyStore.h"
#include "TextEscape.h"
#include "access/ConfigurationAccess.h"
#include "access/TreeCache.h"

namespace vesk::legacy::hollinctl {

namespace {

// The policy service takes the user from the real user id; the effective one
// stays root, to write where the user cannot. Restored when it goes.
class RealUser {
  public:
    explicit RealUser(uid_t uid) {
        if (::setresuid(uid, static_cast<uid_t>(-1), static_cast<uid_t>(-1)) != 0) {
            throw CommandError(kServiceError,
                               std::string("cannot take the user's id: ") + std::strerror(errno));
        }
    }
    ~RealUser() {
        if (::setresuid(0, static_cast<uid_t>(-1), static_cast<uid_t>(-1)) != 0) {
            std::abort();  // never go on half as someone else
        }
    }
    RealUser(const RealUser&) = delete;
    RealUser& operator=(const RealUser&) = delete;
};

struct Account {
    uid_t uid;
    gid_t gid;
};

Account lookUp(const std::string& name) {
    std::vector<char> buffer(16384);
    struct passwd entry;
    struct passwd* found = nullptr;
    const int rc = ::getpwnam_r(name.c_str(), &entry, buffer.data(), buffer.size(), &found);
    if (rc != 0 || found == nullptr) {
        throw CommandError(kNotFound, "no user " + quotedText(name));
    }
    return Account{found->pw_uid, found->pw_gid};
}

// Root's, readable by the user's primary group and no one else; the user can
// neither change nor replace what is in it.
bool handOver(const std::string& path, gid_t gid, mode_t mode, std::string& problem) {
    if (::chown(path.c_str(), 0, gid) != 0 || ::chmod(path.c_str(), mode) != 0) {
        problem = printable(path) + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

}  // namespace

int CacheRefresh::run(const CommandLine& line, std::FILE* out, std::FILE* err) {
    const std::vector<std::string>& arguments = line.getArguments();
    if (arguments.empty() || arguments[0] != "refresh") {
        throw CommandError(kUsage, "cache takes the subcommand refresh");
    }
    if (!line.hasUser() || line.hasFormat() || line.hasLocale() || line.hasEntity()) {
        throw CommandError(kUsage, "cache refresh takes --user NAME and no other option");
    }
    if (::geteuid() != 0) {
        throw CommandError(kUsage, "cache refresh runs as root");
    }
    const char* folder = std::getenv("HOLLIN_CACHE_DIR");
    if (folder == nullptr || folder[0] != '/') {
        throw CommandError(kUsage,
                           "cache refresh needs HOLLIN_CACHE_DIR, the user's folder of copies");
    }
    const Account account = lookUp(line.getUser());
    // Levels above the folder are created open to traverse, as the user's
    // programs must reach the folder.
    const std::string path(folder);
    for (size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        ::mkdir(path.substr(0, slash).c_str(), 0755);
    }
    if (::mkdir(folder, 0700) != 0 && errno != EEXIST) {
        throw CommandError(kServiceError,
                           "cannot create " + printable(path) + ": " + std::strerror(errno));
    }

    int status = kSuccess;
    {
        RealUser as(account.uid);
        std::vector<std::string> components(arguments.begin() + 1, arguments.end());
        if (components.empty()) {
            components = PolicyStore(ScopePlan::forEntity("")).listComponents("");
        }
        ConfigurationAccess access("");
        for (const std::string& component : components) {
            PolicyStore::checkComponentName(component);
            if (access.isComplete(component)) {
                std::fprintf(out, "%s\n", printable(component).c_str());
            } else {
                std::fprintf(err, "hollinctl: %s not refreshed: %s\n", printable(component).c_str(),
                             printable(access.getIncompleteReason(component)).c_str());
                status = kServiceError;
            }
        }
    }

    std::string problem;
    bool handedOver = handOver(folder, account.gid, 0750, problem);
    const std::string prefix = TreeCache::encodeName("") + "@";
    std::unique_ptr<DIR, int (*)(DIR*)> entries(::opendir(folder), ::closedir);
    for (struct dirent* entry; handedOver && entries && (entry = ::readdir(entries.get()));) {
        const std::string name = entry->d_name;
        struct stat file;
        const std::string path = std::string(folder) + "/" + name;
        if (name.compare(0, prefix.size(), prefix) == 0 && ::lstat(path.c_str(), &file) == 0 &&
            S_ISREG(file.st_mode)) {
            handedOver = handOver(path, account.gid, 0640, problem);
        }
    }
    if (!handedOver) {
        std::fprintf(err, "hollinctl: cannot hand the copies over: %s\n", problem.c_str());
        status = kServiceError;
    }
    return status;
}

}  // namespace vesk::legacy::hollinctl
