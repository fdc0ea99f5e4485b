// SPDX-License-Identifier: LGPL-2.1-or-later
#include "output/RegularFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <system_error>

namespace vesk::legacy {

namespace {

std::string systemError() {
    return std::error_code(errno, std::generic_category()).message();
}

}  // namespace

bool readRegularFile(const std::string& fileName, size_t limit, const std::string& tooLarge,
                     std::string& text, std::string& problem) {
    // Non-blocking, so that a FIFO in its place cannot hang us at open.
    const int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        problem = systemError();
        return false;
    }
    const std::unique_ptr<const int, void (*)(const int*)> closer(
        &fd, [](const int* f) { ::close(*f); });
    struct stat status;
    if (::fstat(fd, &status) != 0) {
        problem = systemError();
        return false;
    }
    if (!S_ISREG(status.st_mode)) {
        problem = "not a regular file";
        return false;
    }
    if (static_cast<unsigned long long>(status.st_size) > limit) {
        problem = tooLarge;
        return false;
    }
    text.clear();
    text.reserve(static_cast<size_t>(status.st_size));
    // The file may grow while it is read: the limit holds for what is read too.
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            problem = systemError();
            return false;
        }
        if (got == 0) {
            return true;
        }
        if (text.size() + static_cast<size_t>(got) > limit) {
            problem = tooLarge;
            return false;
        }
        text.append(buffer, static_cast<size_t>(got));
    }
}

}  // namespace vesk::legacy
