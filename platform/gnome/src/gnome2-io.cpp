// Atomic file replacement shared by the gnome_config and desktop item layers.
#include "gnome2-io.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace {

const Gnome2IoHooks kRealHooks = {::mkstemp, ::write,  ::fsync,  ::fchmod,
                                  ::close,   ::rename, ::unlink, ::mkdir};

gboolean fail(GError** error, int err, const char* what, const std::string& path) {
    g_set_error(error, G_FILE_ERROR, g_file_error_from_errno(err), "Cannot %s \"%s\": %s", what,
                path.c_str(), g_strerror(err));
    return FALSE;
}

bool writeAll(int fd, const char* data, gsize length) {
    while (length > 0) {
        ssize_t n = gnome2_io_hooks.write(fd, data, length);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            if (n == 0) {
                errno = ENOSPC;
            }
            return false;
        }
        data += n;
        length -= static_cast<gsize>(n);
    }
    return true;
}

// Makes the rename itself durable; a failure here cannot undo the rename, so
// it is not reported.
void syncDirectory(const std::string& dir) {
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

}  // namespace

extern "C" {

Gnome2IoHooks gnome2_io_hooks = kRealHooks;

void gnome2_io_hooks_reset(void) {
    gnome2_io_hooks = kRealHooks;
}

gboolean gnome2_replace_file(const char* path, const char* data, gsize length, mode_t new_mode,
                             GError** error) {
    const std::string target = path;
    const std::string::size_type slash = target.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : target.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);

    mode_t mode = new_mode;
    struct stat st;
    if (::stat(path, &st) == 0 && S_ISREG(st.st_mode)) {
        mode = st.st_mode & 07777;
    }

    // A leading dot keeps the temporary file out of listings and out of the
    // launcher plug-in's "MERX" prefix match.
    std::string temp = dir + "." + base + ".XXXXXX";
    int fd = gnome2_io_hooks.mkstemp(&temp[0]);
    if (fd < 0) {
        return fail(error, errno, "create a temporary file for", target);
    }
    const char* step = nullptr;
    if (!writeAll(fd, data, length)) {
        step = "write";
    } else if (gnome2_io_hooks.fchmod(fd, mode) != 0) {
        step = "set the mode of";
    } else if (gnome2_io_hooks.fsync(fd) != 0) {
        step = "flush";
    }
    int err = errno;
    if (gnome2_io_hooks.close(fd) != 0 && step == nullptr) {
        step = "close";
        err = errno;
    }
    if (step == nullptr && gnome2_io_hooks.rename(temp.c_str(), path) != 0) {
        step = "rename into place";
        err = errno;
    }
    if (step != nullptr) {
        gnome2_io_hooks.unlink(temp.c_str());
        return fail(error, err, step, target);
    }
    syncDirectory(dir);
    return TRUE;
}
}
