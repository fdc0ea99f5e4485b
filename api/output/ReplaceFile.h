// SPDX-License-Identifier: LGPL-2.1-or-later
/* hollin_replace_file: AtomicFile for callers in C (the GNOME stand-ins and the
 * kiosk tools), so that every file the system writes goes through one writer.
 *
 *   char why[256];
 *   if (hollin_replace_file(path, text, len, 0644, 0, why, sizeof why) != 0)
 *       fprintf(stderr, "%s: %s\n", path, why);   // errno says why, too
 */
#ifndef HOLLIN_REPLACE_FILE_H
#define HOLLIN_REPLACE_FILE_H

#include <stddef.h>
#include <sys/types.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Replaces path by the length bytes at data; a new file gets new_mode (see
 * AtomicFile for the rules). A symbolic link at path is followed when
 * follow_links, else replaced. Returns 0, or -1 with errno set and the reason
 * (naming the file) in error when error_size > 0. */
int hollin_replace_file(const char* path, const void* data, size_t length, mode_t new_mode,
                        int follow_links, char* error, size_t error_size);

#ifdef __cplusplus
}
#endif

#endif
