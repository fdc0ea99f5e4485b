#include "access/TreeCache.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <utility>

#include "model/LogText.h"
#include "model/Logger.h"
#include "model/Tree.h"
#include "output/AtomicFile.h"
#include "output/RegularFile.h"

namespace vesk::legacy {

namespace {

constexpr char kStampsHeader[] = "hollin tree copy 1";
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
    return (status.st_uid == ::geteuid() || status.st_uid == 0) && (status.st_mode & 022) == 0;
}

// The digest, then one stamp a line, kept readable for the log; control bytes
// and "%" encoded.
std::string stampsText(const std::vector<std::string>& stamps, std::uint64_t digest) {
    static const char kHex[] = "0123456789ABCDEF";
    char digestText[24];
    std::snprintf(digestText, sizeof(digestText), "%016llx",
                  static_cast<unsigned long long>(digest));
    std::string text = std::string(kStampsHeader) + "\n" + digestText + "\n";
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
    : mConnectionString(std::move(connectionString)), mFolder(std::move(folder)) {}

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

bool TreeCache::prepareFolder() const {
    // Created one level at a time, each new level private to this user.
    for (size_t slash = mFolder.find('/', 1);; slash = mFolder.find('/', slash + 1)) {
        const std::string level = mFolder.substr(0, slash);
        if (::mkdir(level.c_str(), 0700) != 0 && errno != EEXIST) {
            // Also where an administrator has yet to make the folder for us.
            Logger::info("Cannot create the policy cache folder %s: %s\n", logText(level).c_str(),
                         std::strerror(errno));
            return false;
        }
        if (slash == std::string::npos) {
            break;
        }
    }
    // A folder kept for this process by someone else is theirs to fill.
    return ::faccessat(AT_FDCWD, mFolder.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

bool TreeCache::readStamps(const std::string& component, std::vector<std::string>& stamps) const {
    std::string text;
    std::string problem;
    if (!readRegularFile(stampsFileOf(component), kMaxStampsFile, "too large", text, problem)) {
        return false;
    }
    std::istringstream lines(text);
    std::string line;
    if (!std::getline(lines, line) || line != kStampsHeader || !std::getline(lines, line)) {
        return false;  // the second line is the digest
    }
    stamps.clear();
    while (std::getline(lines, line)) {
        stamps.push_back(line);
    }
    return true;
}

void TreeCache::store(const std::string& component, const Tree& tree,
                      const std::vector<std::string>& stamps, std::uint64_t layersDigest) const {
    if (mFolder.empty()) {
        return;
    }
    const std::string file = fileOf(component);
    const std::string stampsFile = stampsFileOf(component);
    struct stat existing;
    const bool exists = ::lstat(file.c_str(), &existing) == 0;
    if (tree.getRoot() == nullptr && !exists) {
        return;  // nothing to keep, and no older copy to empty
    }
    const std::string wanted = stampsText(stamps, layersDigest);
    std::string kept;
    std::string problem;
    if (exists && readRegularFile(stampsFile, kMaxStampsFile, "too large", kept, problem) &&
        kept == wanted) {
        return;
    }
    if (!prepareFolder()) {
        return;
    }
    // Stamps go last: a copy cut short by a crash has stale stamps and is
    // written again next time.
    struct stat before;
    const bool existed = ::stat(file.c_str(), &before) == 0;
    tree.serialize(file);  // logs its own failures
    struct stat after;
    if (::stat(file.c_str(), &after) != 0 ||
        (existed && after.st_ino == before.st_ino && after.st_dev == before.st_dev)) {
        return;
    }
    ::chmod(file.c_str(), 0600);
    AtomicFile stampsWriter(stampsFile);
    if (!stampsWriter.open() || !stampsWriter.write(wanted) || !stampsWriter.commit()) {
        Logger::error("Cannot write the policy cache file %s: %s\n", logText(stampsFile).c_str(),
                      logText(stampsWriter.getError()).c_str());
        return;
    }
    ::chmod(stampsFile.c_str(), 0600);
}

std::optional<TreeCache::Copy> TreeCache::load(const std::string& component) const {
    if (mFolder.empty()) {
        return std::nullopt;
    }
    struct stat folder;
    struct stat status;
    Copy copy;
    copy.file = fileOf(component);
    if (::stat(mFolder.c_str(), &folder) != 0 || !S_ISDIR(folder.st_mode) || !isTrusted(folder) ||
        ::lstat(copy.file.c_str(), &status) != 0) {
        return std::nullopt;
    }
    if (!S_ISREG(status.st_mode) || !isTrusted(status)) {
        Logger::warning(
            "Ignoring the policy cache file %s: not a regular file of this user or "
            "root, or writable by others\n",
            logText(copy.file).c_str());
        return std::nullopt;
    }
    copy.written = status.st_mtime;
    copy.tree = std::make_unique<Tree>();
    copy.tree->unserialize(copy.file);  // logs why it cannot
    if (copy.tree->getRoot() == nullptr) {
        return std::nullopt;
    }
    readStamps(component, copy.stamps);
    return copy;
}

}  // namespace vesk::legacy
