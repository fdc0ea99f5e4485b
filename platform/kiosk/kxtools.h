/* Shared work of the stand-in kiosk tools: reading the installed settings files
 * strictly as data, and writing the applications table and the active list. */
#ifndef KXTOOLS_H
#define KXTOOLS_H

#include <stddef.h>

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

/* 1 when line (without its line feed) is name="value" with a name of
 * [A-Za-z_][A-Za-z0-9_]* and a value free of quotes, backslashes, "$",
 * backquotes and control characters. name_len/value/value_len describe the
 * parts on success. */
int kx_parse_setting(const char* line, size_t len, size_t* name_len, const char** value,
                     size_t* value_len);

#ifdef __cplusplus
}
#endif

#endif
