// SPDX-License-Identifier: LGPL-2.1-or-later
#include "output/ReplaceFile.h"

#include <cerrno>
#include <cstring>
#include <string>

#include "output/AtomicFile.h"

using vesk::legacy::AtomicFile;

extern "C" int hollin_replace_file(const char* path, const void* data, size_t length,
                                   mode_t new_mode, int follow_links, char* error,
                                   size_t error_size) {
    AtomicFile file(path != nullptr ? path : "", new_mode,
                    follow_links ? AtomicFile::Links::Follow : AtomicFile::Links::Replace);
    if (file.open() && file.write(std::string(static_cast<const char*>(data), length)) &&
        file.commit()) {
        return 0;
    }
    if (error_size > 0) {
        std::strncpy(error, file.getError().c_str(), error_size - 1);
        error[error_size - 1] = '\0';
    }
    errno = file.getErrorNumber() != 0 ? file.getErrorNumber() : EINVAL;
    return -1;
}
