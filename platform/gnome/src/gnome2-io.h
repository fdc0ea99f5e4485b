/* Internal to the GNOME 2 stand-in: the system calls through which files are
 * replaced, gathered in one table that tests can swap to make a disk fill up or
 * a rename fail, and the atomic file replacement built on them.
 *
 *   gnome2_io_hooks.rename = failing_rename;  // a test
 *   ...
 *   gnome2_io_hooks_reset();
 */
#ifndef GNOME2_IO_H
#define GNOME2_IO_H

#include <glib.h>
#include <sys/types.h>

#ifdef __cplusplus
extern "C" {
#endif

struct Gnome2IoHooks {
    int (*mkstemp)(char* name_template);
    ssize_t (*write)(int fd, const void* buf, size_t count);
    int (*fsync)(int fd);
    int (*fchmod)(int fd, mode_t mode);
    int (*close)(int fd);
    int (*rename)(const char* from, const char* to);
    int (*unlink)(const char* path);
    int (*mkdir)(const char* path, mode_t mode);
};

/* Not thread-safe to change; tests swap entries while nothing else runs. */
extern struct Gnome2IoHooks gnome2_io_hooks;

/* Puts back the real system calls. */
void gnome2_io_hooks_reset(void);

/* Replaces the file at path by data: writes a temporary file beside it, flushes
 * it to disk, gives it the mode of the file it replaces (new_mode when there is
 * none) and renames it into place. On failure the old file is untouched, the
 * temporary file is removed, FALSE is returned and *error (if given) is set in
 * the G_FILE_ERROR domain. */
gboolean gnome2_replace_file(const char* path, const char* data, gsize length, mode_t new_mode,
                             GError** error);

#ifdef __cplusplus
}
#endif

#endif
