// SPDX-License-Identifier: LGPL-2.1-or-later
/* Desktop items of the GNOME 2 desktop library: builds a Desktop Entry file
 * (group "[Desktop Entry]") and saves it.
 *
 *   GnomeDesktopItem* item = gnome_desktop_item_new();
 *   gnome_desktop_item_set_string(item, "Type", "Application");
 *   gnome_desktop_item_set_localestring_lang(item, "Name", "de-CH", "Rechner");
 *   GError* error = NULL;
 *   if (!gnome_desktop_item_save(item, "/home/u/Desktop/MERXcalc.desktop", TRUE, &error)) {
 *       report(error->message);
 *       g_error_free(error);
 *   }
 *   gnome_desktop_item_unref(item);
 *
 * Keys must match [A-Za-z0-9-]+ and locales lang[_COUNTRY][.ENCODING][@MODIFIER]
 * (letters and digits; the encoding may hold "-" and "_"), and values must be
 * UTF-8 and must not start with a vertical tab or form feed (readers drop it,
 * and the format has no escape for either); the key Encoding takes only
 * "UTF-8" (readers refuse a file that names any other). Anything else is
 * refused with a warning naming it (g_log, domain GNOME_DESKTOP_ITEM_LOG_DOMAIN)
 * and the item stays as it was. Values are escaped as the format asks ("\n",
 * "\t", "\r", "\\", "\s" at the start), so no value can add a line or a key to
 * the file. Keys are written in the order first set.
 *
 * One item is used by one thread at a time; different items are independent.
 */
#ifndef GNOME2_GNOME_DESKTOP_ITEM_H
#define GNOME2_GNOME_DESKTOP_ITEM_H

#include <glib.h>

#ifdef __cplusplus
extern "C" {
#endif

#define GNOME_DESKTOP_ITEM_LOG_DOMAIN "GnomeDesktop"

typedef struct GnomeDesktopItem GnomeDesktopItem;

/* Errors of gnome_desktop_item_save that are not file errors; file errors come
 * in the G_FILE_ERROR domain. */
#define GNOME_DESKTOP_ITEM_ERROR (gnome_desktop_item_error_quark())
typedef enum {
    GNOME_DESKTOP_ITEM_ERROR_NO_FILENAME, /* no path given and none saved to before */
    GNOME_DESKTOP_ITEM_ERROR_INVALID_ITEM /* a NULL item */
} GnomeDesktopItemError;
GQuark gnome_desktop_item_error_quark(void);

/* A new empty item with one reference. */
GnomeDesktopItem* gnome_desktop_item_new(void);
GnomeDesktopItem* gnome_desktop_item_ref(GnomeDesktopItem* item);
/* Drops one reference; the last one frees the item. NULL is ignored. */
void gnome_desktop_item_unref(GnomeDesktopItem* item);

/* Sets attr to value; a NULL value removes attr. */
void gnome_desktop_item_set_string(GnomeDesktopItem* item, const char* attr, const char* value);

/* Sets attr[language] to value. The language NULL, "" or "default" sets the plain
 * attr; a language written with "-" between language and country ("de-CH") is
 * stored as "de_CH". A NULL value removes the key. */
void gnome_desktop_item_set_localestring_lang(GnomeDesktopItem* item, const char* attr,
                                              const char* language, const char* value);

/* Sets attr (or attr[language], as above) to the list of strings, which ends
 * with NULL; a ";" inside a string is kept as part of it. NULL removes the key. */
void gnome_desktop_item_set_strings(GnomeDesktopItem* item, const char* attr,
                                    const char* const* strings);
void gnome_desktop_item_set_localestrings_lang(GnomeDesktopItem* item, const char* attr,
                                               const char* language, const char* const* strings);

/* Saves the item to the file path under (NULL: where it was last saved) through a
 * temporary file beside it, flushed and renamed into place. A replaced regular
 * file keeps its mode, less setuid, setgid, sticky and group or world write; a
 * new one, or one replacing a symbolic link (which is not followed), gets 0755
 * narrowed by the umask. Without force an item unchanged since it
 * was last saved there is not written again. TRUE on success; on failure the old
 * file is untouched, FALSE is returned and *error is set (the caller frees it). */
gboolean gnome_desktop_item_save(GnomeDesktopItem* item, const char* under, gboolean force,
                                 GError** error);

#ifdef __cplusplus
}
#endif

#endif
