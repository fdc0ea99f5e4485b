// SPDX-License-Identifier: LGPL-2.1-or-later
#include "output/ReplaceFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "output/AtomicFile.h"

using vesk::legacy::AtomicFile;

namespace {

void setError(char* error, size_t error_size, const std::string& text) {
    if (error_size > 0) {
        std::strncpy(error, text.c_str(), error_size - 1);
        error[error_size - 1] = '\0';
    }
}

int replaceFile(const char* path, const void* data, size_t length, mode_t new_mode,
                int follow_links, char* error, size_t error_size) {
    AtomicFile file(path != nullptr ? path : "", new_mode,
                    follow_links ? AtomicFile::Links::Follow : AtomicFile::Links::Replace);
    if (file.open() && file.write(std::string(static_cast<const char*>(data), length)) &&
        file.commit()) {
        return 0;
    }
    setError(error, error_size, file.getError());
    errno = file.getErrorNumber() != 0 ? file.getErrorNumber() : EINVAL;
    return -1;
}

}  // namespace

extern "C" int hollin_replace_file(const char* path, const void* data, size_t length,
                                   mode_t new_mode, int follow_links, char* error,
                                   size_t error_size) {
    // Callers in C cannot catch: what the writer throws (out of memory) is a
    // failed write. This library has no log, so the reason goes to the caller.
    try {
        return replaceFile(path, data, length, new_mode, follow_links, error, error_size);
    } catch (...) {
        if (error_size > 0) {
            std::snprintf(error, error_size, "%s: out of memory", path != nullptr ? path : "");
        }
        errno = ENOMEM;
        return -1;
    }
}
