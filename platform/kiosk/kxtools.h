// SPDX-License-Identifier: LGPL-2.1-or-later
/* Shared work of the stand-in kiosk tools: reading the installed settings files
 * strictly as data, and writing the applications table and the active list. */
#ifndef KXTOOLS_H
#define KXTOOLS_H

#ifdef __cplusplus
extern "C" {
#endif

/* Paths below an optional root prefix ("" for the real system). */
#define KX_CONFIG_DIR "/var/opt/MERXkx/kiosk/config"
#define KX_TABLE_FILE "/var/opt/MERXkx/kiosk/apps.tab"
#define KX_ACTIVE_FILE "/var/opt/MERXkx/kiosk/active.list"
#define KX_ADMIN_GROUP_FILE "/opt/MERXkx/etc/kxadmingid.conf"

/* Takes a leading "--root DIR" off the arguments; returns the root ("" if none)
 * and advances argc and argv past it. */
const char* kx_take_root(int* argc, char*** argv);

/* Reads every settings file of the configuration directory and writes the
 * table atomically. A missing directory is an error unless missing_ok, which
 * then yields an empty table. Returns 0 or 1; messages go to standard error. */
int kx_generate_table(const char* root, int missing_ok);

/* Checks the table and writes the active list of the profile atomically. */
int kx_import_table(const char* root, const char* profile);

/* Prints the administration group id; 0 when no group is configured. */
int kx_print_admin_gid(const char* root);

#ifdef __cplusplus
}
#endif

#endif
