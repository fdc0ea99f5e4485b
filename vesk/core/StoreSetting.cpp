// SPDX-License-Identifier: LGPL-2.1-or-later
#include "StoreSetting.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vesk::legacy::store {

namespace {

// A store is a path or a URL list; a longer first line is no setting of ours.
const size_t kMaxLine = 4096;

}  // namespace

std::string StoreSetting::read(const std::string& path, uid_t owner, std::string& why) {
    why.clear();
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        if (errno != ENOENT) {
            why = path + ": " + strerror(errno);
        }
        return std::string();
    }
    struct stat info;
    std::string text;
    if (fstat(fd, &info) != 0) {
        why = path + ": " + strerror(errno);
    } else if (!S_ISREG(info.st_mode)) {
        why = path + ": not a regular file";
    } else if (info.st_uid != owner) {
        why = path + ": not owned by root";
    } else if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        why = path + ": writable by others than its owner";
    } else {
        char buffer[kMaxLine + 1];
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0) {
            why = path + ": " + strerror(errno);
        } else {
            text.assign(buffer, static_cast<size_t>(got));
        }
    }
    close(fd);
    if (!why.empty()) {
        return std::string();
    }
    const size_t end = text.find('\n');
    if (end == std::string::npos && text.size() > kMaxLine) {
        why = path + ": the first line is longer than 4096 bytes";
        return std::string();
    }
    text = text.substr(0, end);
    const char* blanks = " \t\r";
    const size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos) {
        return std::string();
    }
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

}  // namespace vesk::legacy::store
