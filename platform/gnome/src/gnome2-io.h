// SPDX-License-Identifier: LGPL-2.1-or-later
/* Internal to the GNOME 2 stand-in: file replacement through the system's one
 * file writer (AtomicFile, whose FileSystemCalls tests swap to make a disk
 * fill up or a rename fail; configuration folders are made through the same
 * table), and the escaping of key file values that gnome_config and desktop
 * items share. */
#ifndef GNOME2_IO_H
#define GNOME2_IO_H

#include <glib.h>
#include <sys/types.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Replaces the file at path by data. A replaced regular file keeps its mode
 * (never setuid, setgid, sticky, group- or world-writable); a new one gets
 * new_mode. A symbolic link at path is written through to its target when
 * follow_links, else replaced by the file. On failure the old file is
 * untouched, FALSE is returned and *error (if given) is set in the
 * G_FILE_ERROR domain. */
gboolean gnome2_replace_file(const char* path, const char* data, gsize length, mode_t new_mode,
                             gboolean follow_links, GError** error);

#ifdef __cplusplus
}

#include <string>

/* A value as a key file line holds it: backslash, line feed, carriage return
 * and tab as escapes anywhere (GLib writes a tab raw, which validators
 * refuse); a blank, vertical tab or form feed at the start as "\s", "\v" or
 * "\f", since readers drop whitespace there (one escape is enough: the line
 * then no longer starts with whitespace); in a list item the separator as
 * "\;". */
std::string gnome2_escape_value(const std::string& value, bool list_item);
#endif

#endif
