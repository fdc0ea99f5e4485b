// SPDX-License-Identifier: LGPL-2.1-or-later
#include "access/TreeCache.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sys/file.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <utility>

#include "access/TrustedFolder.h"
#include "model/LogText.h"
#include "model/Logger.h"
#include "model/Node.h"
#include "model/Tree.h"
#include "output/AtomicFile.h"
#include "output/NodeSerialize.h"

namespace vesk::legacy {

namespace {

constexpr char kStampsHeader[] = "hollin tree copy 2";
// Copies from before the user and the connection were recorded.
constexpr char kUnrecordedHeader[] = "hollin tree copy 1";
// The folder a process without a home keeps its copies in, and under which the
// administrator keeps users' folders: open to pass through.
constexpr char kSystemFolder[] = "/var/cache/hollin";
std::atomic<bool> gWritesCopies{true};
// Room for the connection string, the component, the separator and suffixes
// within the 255 bytes of a file name.
constexpr size_t kMaxEncoded = 110;
constexpr size_t kMaxStampsFile = 1 << 20;

bool isSafeByte(unsigned char c, bool first) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_' || (c == '.' && !first);
}

std::string percentEncoded(const std::string& text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (isSafeByte(c, i == 0)) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

// FNV-1a: to keep cut names apart and notice changed layers, not against
// anyone choosing them.
std::uint64_t fnv(std::uint64_t hash, const std::string& text) {
    for (const unsigned char c : text) {
        hash = (hash ^ c) * 1099511628211ull;
    }
    return hash;
}

std::string hashText(const std::string& text) {
    const std::uint64_t hash = fnv(TreeCache::kDigestStart, text);
    char buffer[17];
    std::snprintf(buffer, sizeof(buffer), "%016llx", static_cast<unsigned long long>(hash));
    return buffer;
}

// An absolute path naming a folder; anything else is not a setting to use.
bool isUsableFolder(const char* path, bool mustBeOwn) {
    if (path == nullptr || path[0] != '/' || std::strcmp(path, "/") == 0) {
        return false;
    }
    struct stat status;
    return ::stat(path, &status) == 0 && S_ISDIR(status.st_mode) &&
           (!mustBeOwn || status.st_uid == ::geteuid());
}

std::string homeFolder() {
    const char* home = ::secure_getenv("HOME");
    if (home != nullptr && home[0] != '\0') {
        return isUsableFolder(home, true) ? home : std::string();
    }
    if (::geteuid() == 0) {
        return std::string();  // a service run as root: the system's cache
    }
    std::vector<char> buffer(16384);
    struct passwd entry;
    struct passwd* found = nullptr;
    if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
        found == nullptr || !isUsableFolder(found->pw_dir, true)) {
        return std::string();
    }
    return found->pw_dir;
}

// Files that another user could have put or changed are not policy.
bool isTrusted(const struct stat& status) {
    return TrustedFolder::ownedByUs(status) && (status.st_mode & 022) == 0;
}

// The user whose policy this process reads: the policy service takes the real
// user id.
std::string userOfProcess() {
    std::vector<char> buffer(16384);
    struct passwd entry;
    struct passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
        found != nullptr) {
        return found->pw_name;
    }
    return "#" + std::to_string(::getuid());
}

// Holds a lock on the folder while a copy's tree and stamps are written or
// read, so that no one pairs a tree with another write's stamps. A file
// system without locks goes without.
class FolderLock {
  public:
    FolderLock(int fd, int operation) : mFd(fd) {
        while (::flock(mFd, operation) != 0 && errno == EINTR) {
        }
    }
    ~FolderLock() { ::close(mFd); }  // releases the lock too
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    int fd() const { return mFd; }

  private:
    int mFd;
};

// The digest, then one stamp a line, kept readable for the log; control bytes
// and "%" encoded.
std::string stampsText(const std::string& user, const std::string& connection,
                       const std::vector<std::string>& stamps, std::uint64_t digest) {
    static const char kHex[] = "0123456789ABCDEF";
    char digestText[24];
    std::snprintf(digestText, sizeof(digestText), "%016llx",
                  static_cast<unsigned long long>(digest));
    std::string text = std::string(kStampsHeader) + "\nuser " + percentEncoded(user) +
                       "\nconnection " + percentEncoded(connection) + "\n" + digestText + "\n";
    for (const std::string& stamp : stamps) {
        for (const char byte : stamp) {
            const auto c = static_cast<unsigned char>(byte);
            if (c < 0x20 || c == 0x7f || c == '%') {
                text += '%';
                text += kHex[c >> 4];
                text += kHex[c & 15];
            } else {
                text += byte;
            }
        }
        text += '\n';
    }
    return text;
}

}  // namespace

TreeCache::TreeCache(std::string connectionString, std::string folder)
    : mConnectionString(std::move(connectionString)),
      mFolder(std::move(folder)),
      mUser(userOfProcess()) {}

void TreeCache::setWritesCopies(bool writes) {
    gWritesCopies = writes;
}

std::uint64_t TreeCache::digest(std::uint64_t previous, const std::string& text) {
    // The length first, so that two layers never digest as their concatenation.
    return fnv(fnv(previous, std::to_string(text.size()) + ":"), text);
}

std::string TreeCache::defaultFolder() {
    const char* chosen = ::secure_getenv("HOLLIN_CACHE_DIR");
    if (chosen != nullptr && chosen[0] != '\0') {
        return chosen[0] == '/' ? chosen : "";  // "off" or any relative value: no copies
    }
    const char* xdg = ::secure_getenv("XDG_CACHE_HOME");
    if (xdg != nullptr && xdg[0] == '/' && std::strcmp(xdg, "/") != 0) {
        return std::string(xdg) + "/hollin";
    }
    const std::string home = homeFolder();
    return home.empty() ? "/var/cache/hollin" : home + "/.cache/hollin";
}

std::string TreeCache::encodeName(const std::string& name) {
    std::string encoded = percentEncoded(name);
    if (encoded.size() > kMaxEncoded) {
        encoded = encoded.substr(0, kMaxEncoded - 17);
        // A "%XX" cut in half would read as another name.
        const size_t percent = encoded.rfind('%');
        if (percent != std::string::npos && percent + 3 > encoded.size()) {
            encoded.resize(percent);
        }
        encoded += "~" + hashText(name);
    }
    return encoded;
}

std::string TreeCache::fileOf(const std::string& component) const {
    // "@" is always encoded in names, so the pair cannot be read two ways.
    return mFolder + "/" + encodeName(mConnectionString) + "@" + encodeName(component) + ".xml";
}

std::string TreeCache::stampsFileOf(const std::string& component) const {
    return mFolder + "/" + encodeName(mConnectionString) + "@" + encodeName(component) + ".stamps";
}

int TreeCache::openFolder(bool create) const {
    std::string problem;
    const mode_t mode = mFolder == kSystemFolder ? 0755 : 0700;
    const int fd = TrustedFolder::open(mFolder, create, problem, 0755, mode);
    const int error = errno;
    if (fd < 0 && error != ENOENT && error != EACCES) {
        Logger::warning("Not using the policy cache folder %s: %s\n", logText(mFolder).c_str(),
                        logText(problem).c_str());
    } else if (fd < 0 && create) {
        // Also where an administrator has yet to make the folder for us.
        Logger::info("Cannot use the policy cache folder %s: %s\n", logText(mFolder).c_str(),
                     logText(problem).c_str());
    }
    return fd >= 0 ? fd : -(error > 0 ? error : EIO);
}

bool TreeCache::readStamps(int folder, const std::string& component, Record& record) const {
    const int fd = ::openat(
        folder, (encodeName(mConnectionString) + "@" + encodeName(component) + ".stamps").c_str(),
        O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    std::string text;
    struct stat status;
    if (fd < 0 || ::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || !isTrusted(status) ||
        static_cast<size_t>(status.st_size) > kMaxStampsFile) {
        if (fd >= 0) {
            ::close(fd);
        }
        return false;
    }
    char buffer[8192];
    for (ssize_t count; (count = ::read(fd, buffer, sizeof buffer)) != 0;) {
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0 || text.size() + static_cast<size_t>(count) > kMaxStampsFile) {
            ::close(fd);
            return false;
        }
        text.append(buffer, static_cast<size_t>(count));
    }
    ::close(fd);
    record.text = text;
    std::istringstream lines(text);
    std::string line;
    if (!std::getline(lines, line)) {
        return false;
    }
    record.recorded = line == kStampsHeader;
    if (record.recorded) {
        std::string connection;
        if (!std::getline(lines, record.user) || record.user.compare(0, 5, "user ") != 0 ||
            !std::getline(lines, connection) || connection.compare(0, 11, "connection ") != 0) {
            return false;
        }
        record.user.erase(0, 5);
        record.connection = connection.substr(11);
    } else if (line != kUnrecordedHeader) {
        return false;
    }
    if (!std::getline(lines, line)) {
        return false;  // the digest
    }
    record.stamps.clear();
    while (std::getline(lines, line)) {
        record.stamps.push_back(line);
    }
    return true;
}

bool TreeCache::store(const std::string& component, const Tree& tree,
                      const std::vector<std::string>& stamps, std::uint64_t layersDigest) const {
    if (mFolder.empty() || !gWritesCopies) {
        return true;
    }
    const int fd = openFolder(tree.getRoot() != nullptr);
    if (fd < 0) {
        // Said why, if it matters; only room (for a folder to be made) comes back.
        return fd != -ENOSPC && fd != -EDQUOT;
    }
    const FolderLock lock(fd, LOCK_EX);
    // A folder kept for this process by someone else is theirs to fill.
    if (::faccessat(fd, ".", W_OK | X_OK, AT_EACCESS) != 0) {
        return true;
    }
    const std::string file = fileOf(component);
    const std::string stampsFile = stampsFileOf(component);
    struct stat existing;
    const bool exists =
        ::fstatat(fd, file.substr(mFolder.size() + 1).c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0;
    if (tree.getRoot() == nullptr && !exists) {
        return true;  // nothing to keep, and no older copy to empty
    }
    const std::string wanted = stampsText(mUser, mConnectionString, stamps, layersDigest);
    Record kept;
    if (exists && S_ISREG(existing.st_mode) && readStamps(fd, component, kept) &&
        kept.text == wanted) {
        return true;
    }
    // The reader takes only a group as the outermost element.
    if (tree.getRoot() != nullptr && !tree.getRoot()->asStructuralNode()) {
        Logger::error("Cannot write tree file %s: the tree's root is a property, not a group\n",
                      logText(file).c_str());
        return true;
    }
    // Links at the names are replaced, never followed: whatever was planted
    // while the folder was open to others stays untouched. Stamps go last: a
    // copy cut short by a crash has stale stamps and is written again next time.
    NodeSerialize writer(file, 0600, AtomicFile::Links::Replace);
    writer.open();
    if (tree.getRoot() != nullptr) {
        tree.getRoot()->visit(writer);
    }
    if (!writer.close()) {
        return false;  // logged; worth another try once there is room
    }
    AtomicFile stampsWriter(stampsFile, 0600, AtomicFile::Links::Replace);
    if (!stampsWriter.open() || !stampsWriter.write(wanted) || !stampsWriter.commit()) {
        Logger::error("Cannot write the policy cache file %s: %s\n", logText(stampsFile).c_str(),
                      logText(stampsWriter.getError()).c_str());
        return false;
    }
    return true;
}

std::optional<TreeCache::Copy> TreeCache::load(const std::string& component) const {
    if (mFolder.empty()) {
        return std::nullopt;
    }
    const int fd = openFolder(false);
    if (fd < 0) {
        return std::nullopt;
    }
    const FolderLock lock(fd, LOCK_SH);
    struct stat folder;
    struct stat status;
    Copy copy;
    copy.file = fileOf(component);
    if (::fstat(fd, &folder) != 0 || ::fstatat(fd, copy.file.substr(mFolder.size() + 1).c_str(),
                                               &status, AT_SYMLINK_NOFOLLOW) != 0) {
        return std::nullopt;
    }
    if (!S_ISREG(status.st_mode) || !isTrusted(status)) {
        Logger::warning(
            "Ignoring the policy cache file %s: not a regular file of this user or "
            "root, or writable by others\n",
            logText(copy.file).c_str());
        return std::nullopt;
    }
    Record record;
    const bool read = readStamps(fd, component, record);
    // A copy that does not say whom it was made for is taken only from this
    // user's own folder: in a folder root keeps for a user, it could be
    // anyone's, and another user's locks are not this user's.
    if (!read || !record.recorded) {
        if (folder.st_uid != ::geteuid()) {
            Logger::warning(
                "Ignoring the policy cache file %s: it does not say which user it was made "
                "for; refresh it\n",
                logText(copy.file).c_str());
            return std::nullopt;
        }
    } else if (record.user != percentEncoded(mUser) ||
               record.connection != percentEncoded(mConnectionString)) {
        Logger::warning("Ignoring the policy cache file %s: made for user %s, not %s\n",
                        logText(copy.file).c_str(), logText(record.user).c_str(),
                        logText(mUser).c_str());
        return std::nullopt;
    }
    copy.written = status.st_mtime;
    copy.tree = std::make_unique<Tree>();
    copy.tree->unserialize(copy.file);  // logs why it cannot
    if (copy.tree->getRoot() == nullptr) {
        return std::nullopt;
    }
    copy.stamps = record.stamps;
    return copy;
}

}  // namespace vesk::legacy
