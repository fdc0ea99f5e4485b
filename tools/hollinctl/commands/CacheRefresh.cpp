// SPDX-License-Identifier: LGPL-2.1-or-later
#include "CacheRefresh.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
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
#include "access/TrustedFolder.h"

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

// Closes the folder's descriptor however the command ends.
class Descriptor {
  public:
    explicit Descriptor(int fd) : mFd(fd) {}
    ~Descriptor() { ::close(mFd); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

  private:
    int mFd;
};

struct Account {
    uid_t uid;
    gid_t gid;
    std::vector<gid_t> groups;
};

Account lookUp(const std::string& name) {
    std::vector<char> buffer(16384);
    struct passwd entry;
    struct passwd* found = nullptr;
    const int rc = ::getpwnam_r(name.c_str(), &entry, buffer.data(), buffer.size(), &found);
    if (rc != 0 || found == nullptr) {
        throw CommandError(kNotFound, "no user " + quotedText(name));
    }
    Account account{found->pw_uid, found->pw_gid, std::vector<gid_t>(64)};
    int count = static_cast<int>(account.groups.size());
    if (::getgrouplist(found->pw_name, found->pw_gid, account.groups.data(), &count) < 0) {
        account.groups.resize(static_cast<size_t>(count));
        ::getgrouplist(found->pw_name, found->pw_gid, account.groups.data(), &count);
    }
    account.groups.resize(static_cast<size_t>(std::max(count, 0)));
    return account;
}

// Whether the user can list and read the folder: tried as the user in a
// child, so that every level, ACL and group counts as the kernel sees it.
bool reachable(const std::string& folder, const Account& account) {
    const pid_t child = ::fork();
    if (child == 0) {
        // Only async-signal-safe calls here: the parent has threads.
        const bool ok = ::setgroups(account.groups.size(), account.groups.data()) == 0 &&
                        ::setgid(account.gid) == 0 && ::setuid(account.uid) == 0 &&
                        ::access(folder.c_str(), R_OK | X_OK) == 0;
        ::_exit(ok ? 0 : 1);
    }
    int status = 0;
    while (child > 0 && ::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return child > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Root's, readable by the user's primary group and no one else; the user can
// neither change nor replace what is in it. Through descriptors only: a link
// planted at a name is never followed.
bool handOver(int fd, const std::string& path, gid_t gid, mode_t mode, std::string& problem) {
    if (::fchown(fd, 0, gid) != 0 || ::fchmod(fd, mode) != 0) {
        problem = printable(path) + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool handOverCopies(int folder, const std::string& path, gid_t gid, std::string& problem) {
    if (!handOver(folder, path, gid, 0750, problem)) {
        return false;
    }
    const std::string prefix = TreeCache::encodeName("") + "@";
    std::unique_ptr<DIR, int (*)(DIR*)> entries(::fdopendir(::dup(folder)), ::closedir);
    for (struct dirent* entry; entries && (entry = ::readdir(entries.get()));) {
        const std::string name = entry->d_name;
        if (name.compare(0, prefix.size(), prefix) != 0) {
            continue;
        }
        const int fd = ::openat(folder, name.c_str(),
                                O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
        struct stat file;
        const bool regular = fd >= 0 && ::fstat(fd, &file) == 0 && S_ISREG(file.st_mode);
        const bool done = !regular || handOver(fd, path + "/" + name, gid, 0640, problem);
        if (fd >= 0) {
            ::close(fd);
        }
        if (!done) {
            return false;
        }
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
    const std::string path(folder);
    // Levels above the folder are created open to traverse, as the user's
    // programs must reach the folder; none that another user could change or
    // replace is used.
    std::string problem;
    const int fd = TrustedFolder::open(path, true, problem, 0755, 0750);
    if (fd < 0) {
        throw CommandError(kServiceError, "refusing the folder of copies: " + printable(problem));
    }
    const Descriptor owned(fd);
    if (!handOver(fd, path, account.gid, 0750, problem)) {
        throw CommandError(kServiceError, "cannot hand the folder over: " + problem);
    }

    int status = kSuccess;
    TreeCache::setWritesCopies(true);
    {
        RealUser as(account.uid);
        std::vector<std::string> components(arguments.begin() + 1, arguments.end());
        const std::vector<std::string> present =
            PolicyStore(ScopePlan::forEntity("")).listComponents("");
        if (components.empty()) {
            components = present;
        }
        ConfigurationAccess access("");
        for (const std::string& component : components) {
            PolicyStore::checkComponentName(component);
            if (std::find(present.begin(), present.end(), component) == present.end()) {
                std::fprintf(err, "hollinctl: %s not refreshed: %s has no layers of it\n",
                             printable(component).c_str(), printable(line.getUser()).c_str());
                status = std::max(status, kNotFound);
            } else if (access.isComplete(component)) {
                std::fprintf(out, "%s\n", printable(component).c_str());
            } else {
                std::fprintf(err, "hollinctl: %s not refreshed: %s\n", printable(component).c_str(),
                             printable(access.getIncompleteReason(component)).c_str());
                status = kServiceError;
            }
        }
    }

    if (!handOverCopies(fd, path, account.gid, problem)) {
        std::fprintf(err, "hollinctl: cannot hand the copies over: %s\n", problem.c_str());
        status = kServiceError;
    }
    if (!reachable(path, account)) {
        std::fprintf(err,
                     "hollinctl: %s cannot reach %s: its programs will not find the copies "
                     "(open the folders above it to pass through)\n",
                     printable(line.getUser()).c_str(), printable(path).c_str());
        status = kServiceError;
    }
    return status;
}

}  // namespace vesk::legacy::hollinctl
