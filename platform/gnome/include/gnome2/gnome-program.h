// SPDX-License-Identifier: LGPL-2.1-or-later
/* The program object of the GNOME 2 library: names the program once per process.
 *
 *   char* args[] = {(char*)"StartupApps", NULL};
 *   gnome_program_init("StartupApps", "1.0", libgnome_module_info_get(), 1, args, NULL);
 *
 * Only what the session programs use is provided: the call names the process for
 * GLib (g_get_prgname() and g_get_application_name() give the application id)
 * and returns the process-wide program object. Command-line arguments are not
 * parsed and properties are not supported (pass NULL as first_property_name).
 */
#ifndef GNOME2_GNOME_PROGRAM_H
#define GNOME2_GNOME_PROGRAM_H

#include <glib.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct GnomeModuleInfo {
    const char* name;
    const char* version;
    const char* description;
} GnomeModuleInfo;

/* Owned by the library; lives until the process ends. */
typedef struct GnomeProgram GnomeProgram;

/* The description of the libgnome module, to pass to gnome_program_init. */
const GnomeModuleInfo* libgnome_module_info_get(void);

/* The first call creates the program object and names the process after app_id;
 * later calls return the same object and change nothing. */
GnomeProgram* gnome_program_init(const char* app_id, const char* app_version,
                                 const GnomeModuleInfo* module_info, int argc, char** argv,
                                 const char* first_property_name, ...);

/* The program object, or NULL before gnome_program_init. */
GnomeProgram* gnome_program_get(void);

const char* gnome_program_get_app_id(GnomeProgram* program);
const char* gnome_program_get_app_version(GnomeProgram* program);

#ifdef __cplusplus
}
#endif

#endif
