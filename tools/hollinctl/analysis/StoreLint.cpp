// SPDX-License-Identifier: LGPL-2.1-or-later
#include "StoreLint.h"

#include <dirent.h>
#include <grp.h>
#include <limits.h>
#include <pwd.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "CrossLayerLint.h"
#include "DirectoryLayers.h"
#include "ExitStatus.h"
#include "LayerChecker.h"
#include "TextEscape.h"
#include "output/RegularFile.h"

namespace vesk::legacy::hollinctl {

namespace {

const char* const kFolders[] = {"default", "groups", "hosts", "users", "entities"};

// The entries of a folder in byte order, without "." and "..".
std::vector<std::string> entriesOf(const std::string& folder) {
    DIR* directory = ::opendir(folder.c_str());
    if (directory == nullptr) {
        throw CommandError(kServiceError,
                           "cannot read " + printable(folder) + ": " + std::strerror(errno));
    }
    std::vector<std::string> names;
    while (const struct dirent* entry = ::readdir(directory)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    }
    ::closedir(directory);
    std::sort(names.begin(), names.end());
    return names;
}

bool isFolder(const std::string& path) {
    struct stat info;
    return ::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string hostName() {
    char buffer[HOST_NAME_MAX + 2] = {};
    gethostname(buffer, HOST_NAME_MAX + 1);
    return buffer;
}

bool endsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

std::string modeText(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

// Whether everyone whose stack has the scope may read (mode bits read,
// folders also search): every user, or for groups/G the group G, for users/U
// the user U.
bool readableByItsUsers(const struct stat& info, const std::string& scope, mode_t others) {
    if ((info.st_mode & others) == others) {
        return true;
    }
    const size_t slash = scope.find('/');
    const std::string kind = scope.substr(0, slash);
    const std::string name = slash == std::string::npos ? "" : scope.substr(slash + 1);
    if (kind == "groups") {
        const mode_t group = others << 3;
        const struct group* entry = ::getgrnam(name.c_str());
        return entry != nullptr && entry->gr_gid == info.st_gid && (info.st_mode & group) == group;
    }
    if (kind == "users") {
        const mode_t user = others << 6;
        const struct passwd* entry = ::getpwnam(name.c_str());
        return entry != nullptr && entry->pw_uid == info.st_uid && (info.st_mode & user) == user;
    }
    return false;
}

// Every user's programs read policy: a folder they cannot list and enter or a
// layer they cannot read fails their stacks (libvesk reports a store error).
void noteUnreadable(const std::string& path, std::vector<StoreLint::Finding>& out,
                    const std::string& scope = "") {
    struct stat info;
    if (::stat(path.c_str(), &info) != 0) {
        return;  // reading it reports why
    }
    const bool folder = S_ISDIR(info.st_mode);
    if (!folder && !S_ISREG(info.st_mode)) {
        return;
    }
    if (!readableByItsUsers(info, scope, folder ? (S_IROTH | S_IXOTH) : S_IROTH)) {
        out.push_back({printable(path),
                       std::string(folder ? "folder" : "layer") + " of mode " +
                           modeText(info.st_mode) +
                           " that not every user of its stacks can read: their stacks fail "
                           "(chmod " +
                           (folder ? "755" : "644") + ")",
                       false});
    }
}

// One layer, as check checks it; a well-formed one also for what lies between
// the layers.
void lintLayer(const std::string& path, const std::string& scope, const std::string& component,
               const std::string& text, bool mergedLast, std::vector<StoreLint::Finding>& out,
               CrossLayerLint& between) {
    LayerChecker checker(text, mergedLast);
    const std::vector<LayerChecker::Finding> findings = checker.check();
    const bool wellFormed =
        std::none_of(findings.begin(), findings.end(), [](const LayerChecker::Finding& f) {
            return f.message.compare(0, 13, "malformed XML") == 0;
        });
    if (wellFormed) {
        between.add(scope, path, component, text);
    }
    for (const LayerChecker::Finding& finding : findings) {
        std::string where = printable(path) + ":" + std::to_string(finding.line);
        if (finding.column > 0) {
            where += ":" + std::to_string(finding.column);
        }
        out.push_back(
            {where, finding.message, false, finding.message.compare(0, 13, "malformed XML") == 0});
    }
}

// One scope folder: its layers, checked as check does, and what is no layer.
void lintScope(const std::string& scope, const std::string& folder, bool mergedLast,
               std::vector<StoreLint::Finding>& out, CrossLayerLint& between) {
    noteUnreadable(folder, out, scope);
    for (const std::string& name : entriesOf(folder)) {
        const std::string path = folder + "/" + name;
        if (!endsWith(name, ".xml")) {
            if (name.size() > 4 && strcasecmp(name.c_str() + name.size() - 4, ".xml") == 0) {
                out.push_back(
                    {printable(path), "only names ending in .xml are read; rename it", false});
            } else if (name[0] != '.') {
                out.push_back({printable(path), "not a layer (no .xml): never read", true});
            }
            continue;
        }
        noteUnreadable(path, out, scope);
        std::string text;
        std::string problem;
        if (!readRegularFile(path, 64 * 1024 * 1024, "larger than 64 MiB", text, problem)) {
            out.push_back({printable(path),
                           problem + ": fails every stack it is in (\"Database error\")", false,
                           true});
            continue;
        }
        lintLayer(path, scope, name.substr(0, name.size() - 4), text, mergedLast, out, between);
    }
}

}  // namespace

std::vector<StoreLint::Finding> StoreLint::run(const std::string& store, bool betweenLayers) {
    std::vector<Finding> out;
    CrossLayerLint between;
    const std::string host = hostName();
    bool holdsScopes = false;
    noteUnreadable(store, out);
    for (const std::string& name : entriesOf(store)) {
        const std::string path = store + "/" + name;
        const bool known =
            std::find(std::begin(kFolders), std::end(kFolders), name) != std::end(kFolders);
        holdsScopes = holdsScopes || known;
        if (!known || !isFolder(path)) {
            std::string hint;
            for (const char* folder : kFolders) {
                if (strcasecmp(name.c_str(), folder) == 0 || name + "s" == folder) {
                    hint = " (did you mean " + std::string(folder) + "/?)";
                }
            }
            if (name[0] != '.' || !hint.empty()) {
                out.push_back({printable(path),
                               std::string(isFolder(path) ? "folder" : "file") +
                                   " outside the scopes (default, groups, hosts, users, "
                                   "entities): never read" +
                                   hint,
                               false});
            }
            continue;
        }
        if (name == "default") {
            lintScope(name, path, false, out, between);
            continue;
        }
        noteUnreadable(path, out);
        for (const std::string& scope : entriesOf(path)) {
            const std::string scopePath = path + "/" + scope;
            if (!isFolder(scopePath)) {
                out.push_back({printable(scopePath),
                               "a file where a " + name.substr(0, name.size() - 1) +
                                   " folder belongs: never read",
                               false});
                continue;
            }
            if (name == "hosts" && scope != host && strcasecmp(scope.c_str(), host.c_str()) == 0) {
                out.push_back(
                    {printable(scopePath),
                     "host names are compared as written: this host is " + quotedText(host),
                     false});
            } else if (name == "users" && ::getpwnam(scope.c_str()) == nullptr) {
                out.push_back({printable(scopePath), "no user of that name on this system", true});
            } else if (name == "groups" && ::getgrnam(scope.c_str()) == nullptr) {
                out.push_back({printable(scopePath), "no group of that name on this system", true});
            }
            lintScope(name + "/" + scope, scopePath, name == "users" || name == "entities", out,
                      between);
        }
    }
    if (!holdsScopes) {
        out.push_back({printable(store),
                       "holds none of default/, groups/, hosts/, users/, entities/: programs take "
                       "it for a store that cannot be reached (not mounted?), not for one without "
                       "policy; an empty default/ publishes no policy",
                       false});
    }
    if (betweenLayers) {
        between.run(out);
    }
    return out;
}

std::vector<StoreLint::Finding> StoreLint::runDirectory(const std::string& url) {
    std::vector<Finding> out;
    std::vector<std::string> skipped;
    CrossLayerLint between;
    for (const DirectoryLayers::Layer& layer : DirectoryLayers::read(url, skipped)) {
        const bool mergedLast =
            layer.scope.compare(0, 6, "users/") == 0 || layer.scope.compare(0, 9, "entities/") == 0;
        lintLayer(layer.scope + "/" + layer.component, layer.scope, layer.component, layer.text,
                  mergedLast, out, between);
    }
    for (const std::string& entry : skipped) {
        out.push_back({entry.substr(0, entry.rfind(": ")),
                       entry.substr(entry.rfind(": ") + 2) + ": never read", true});
    }
    between.run(out);
    return out;
}

}  // namespace vesk::legacy::hollinctl
