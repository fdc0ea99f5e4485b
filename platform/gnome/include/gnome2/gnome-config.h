// SPDX-License-Identifier: LGPL-2.1-or-later
/* gnome_config of the GNOME 2 library: key-value settings files of the user,
 * addressed by paths "file/section/key".
 *
 *   gchar* cmd = gnome_config_get_string_with_default_("session-manual/Default/0,RestartCommand",
 *                                                      NULL, FALSE);
 *   gnome_config_set_int_("session-manual/Default/num_clients", 1, FALSE);
 *   if (!gnome_config_sync()) report();
 *   g_free(cmd);
 *
 * Files. "file/section/key" names key `key` of section `[section]` in the file
 * $HOME/.gnome2/file ($HOME/.gnome2_private/file when priv is TRUE). A leading
 * "/" is allowed; the file name must not be empty, "." or ".."; there is no
 * "=default" suffix (the default is 0 or NULL). A file is read on first use and
 * held in memory with its comments and translations; changes reach the disk only
 * at gnome_config_sync, never at exit. A file that exists but cannot be read or
 * parsed reads as empty and is never written: the sync that would write it fails.
 *
 * Values. Values are read raw and unescaped here, so a value in any encoding
 * reads back as it is. Integers are read from their leading digits ("3abc" is
 * 3, no digits is 0). On disk a value is escaped as GLib's key files do, and any
 * other reader of the file must undo it: "\\" for a backslash, "\n", "\r" and
 * "\t" for line feed, carriage return and tab, and at the start of a value "\s"
 * for a blank ("\v" and "\f" for the rarer leading vertical tab and form feed).
 * So a value can never start a new line, key or section.
 *
 * Refusals. A path that names no valid file, section or key (a key with "=" or a
 * control character, a leading "#" or "[", brackets other than a trailing
 * "[locale]"; a section with brackets or control characters), or HOME not being
 * an absolute path, reads as missing; a write to it is dropped and makes the next
 * gnome_config_sync report failure. Problems are logged with g_log in the domain
 * GNOME_CONFIG_LOG_DOMAIN at the warning level; install a handler there to route
 * them elsewhere.
 *
 * All calls may come from any thread; they are serialised inside.
 */
#ifndef GNOME2_GNOME_CONFIG_H
#define GNOME2_GNOME_CONFIG_H

#include <glib.h>

#ifdef __cplusplus
extern "C" {
#endif

#define GNOME_CONFIG_LOG_DOMAIN "GnomeConfig"

/* The integer at path, or 0 if it is missing. *def (if def is not NULL) becomes
 * TRUE when the key is missing, else FALSE. */
gint gnome_config_get_int_with_default_(const gchar* path, gboolean* def, gboolean priv);

/* A copy of the string at path (free with g_free), or NULL if it is missing; an
 * empty value gives "". *def as above. */
gchar* gnome_config_get_string_with_default_(const gchar* path, gboolean* def, gboolean priv);

/* Store a value in memory (in decimal for the integer); NULL stores "". */
void gnome_config_set_int_(const gchar* path, gint value, gboolean priv);
void gnome_config_set_string_(const gchar* path, const gchar* value, gboolean priv);

/* Remove the key in memory. Removing a missing key changes nothing. */
void gnome_config_clean_key_(const gchar* path, gboolean priv);

/* Write every changed file (atomically: a temporary file beside it, flushed,
 * renamed into place; ~/.gnome2 is created if missing, mode 0700). A file that
 * is a symbolic link is written through to its target and the link stays. A
 * replaced file keeps its mode, less setuid, setgid, sticky and group or world
 * write; a new one gets 0600.
 * TRUE on success. On failure the file stays as it was on disk, the changes stay
 * in memory for a later sync, the reason is logged, and FALSE is returned. */
gboolean gnome_config_sync(void);

/* TRUE when the last gnome_config_sync failed in a way no later sync of this
 * process can mend: a file on disk it cannot use, or a change it dropped (an
 * invalid path). FALSE after a success or a failed write (a full disk). */
gboolean gnome_config_sync_failed_for_good(void);

/* Forget every file held in memory, with its unsynced changes. */
void gnome_config_drop_all(void);

/* Iterate over the keys of a section, path "file/section", in file order:
 *
 *   gchar *key, *value;
 *   void* it = gnome_config_init_iterator_("session-manual/Default", FALSE);
 *   while ((it = gnome_config_iterator_next(it, &key, &value)) != NULL) {
 *       use(key, value);
 *       g_free(key);
 *       g_free(value);
 *   }
 *
 * The iterator holds a copy of the section taken at init, so the section may be
 * changed while iterating. init gives NULL for a missing or empty section.
 * next gives the handle back with a new key and its unescaped value, or frees
 * the iterator and gives NULL (key and value set to NULL) at the end. An
 * iteration left early is freed with gnome_config_iterator_free. */
void* gnome_config_init_iterator_(const gchar* path, gboolean priv);
void* gnome_config_iterator_next(void* iterator, gchar** key, gchar** value);
void gnome_config_iterator_free(void* iterator);

#ifdef __cplusplus
}
#endif

#endif
