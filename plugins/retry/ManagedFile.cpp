// SPDX-License-Identifier: LGPL-2.1-or-later
#include "ManagedFile.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <vector>

#include "model/LogText.h"
#include "model/Logger.h"

namespace vesk::legacy::plugins {

namespace {

// An entry we wrote is a few hundred bytes; a huge file is not ours.
const std::streamsize kMaxRead = 1 << 20;

bool hasOurName(const std::string& name) {
    const std::string prefix = ManagedFile::kPrefix, extension = ManagedFile::kExtension;
    return name.size() > prefix.size() + extension.size() && name.rfind(prefix, 0) == 0 &&
           name.compare(name.size() - extension.size(), extension.size(), extension) == 0;
}

}  // namespace

bool ManagedFile::isManaged(const std::string& dir, const std::string& name) {
    const std::string path = dir + "/" + name;
    struct stat info;
    if (!hasOurName(name) || lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) ||
        info.st_size > kMaxRead) {
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    const std::string marker = std::string(kMarkerKey) + "=true";
    for (std::string line; std::getline(in, line);) {
        if (line == marker) {
            return true;
        }
    }
    return false;
}

int ManagedFile::removeAll(const std::string& dir, const std::set<std::string>& keep,
                           const char* what) {
    DIR* folder = opendir(dir.c_str());
    if (folder == nullptr) {
        return 0;
    }
    std::vector<std::string> doomed;
    while (const dirent* entry = readdir(folder)) {
        const std::string name = entry->d_name;
        if (keep.count(name) == 0 && hasOurName(name)) {
            if (isManaged(dir, name)) {
                doomed.push_back(name);
            } else {
                Logger::debug("Keeping %s/%s: it has no %s=true line\n", logText(dir).c_str(),
                              logText(name).c_str(), kMarkerKey);
            }
        }
    }
    closedir(folder);
    int removed = 0;
    for (const std::string& name : doomed) {
        const std::string path = dir + "/" + name;
        if (unlink(path.c_str()) == 0) {
            ++removed;
        } else if (errno != ENOENT) {
            Logger::error("Could not remove the %s %s: %s\n", what, logText(path).c_str(),
                          strerror(errno));
        }
    }
    return removed;
}

}  // namespace vesk::legacy::plugins
