// SPDX-License-Identifier: LGPL-2.1-or-later
// The process-wide program object of the GNOME 2 stand-in.
#include "gnome2/gnome-program.h"

#include <mutex>
#include <string>

struct GnomeProgram {
    std::string appId;
    std::string appVersion;
};

namespace {

const GnomeModuleInfo kLibgnomeModule = {"libgnome", "2.32.1", "GNOME library (stand-in)"};

std::mutex sProgramMutex;
// Never freed: callers hold the pointer for the whole process, as with libgnome.
GnomeProgram* sProgram = nullptr;

}  // namespace

extern "C" {

const GnomeModuleInfo* libgnome_module_info_get(void) {
    return &kLibgnomeModule;
}

GnomeProgram* gnome_program_init(const char* app_id, const char* app_version,
                                 const GnomeModuleInfo* /*module_info*/, int /*argc*/,
                                 char** /*argv*/, const char* first_property_name, ...) {
    std::lock_guard<std::mutex> lock(sProgramMutex);
    if (sProgram != nullptr) {
        return sProgram;
    }
    if (first_property_name != nullptr) {
        g_log("GnomeProgram", G_LOG_LEVEL_WARNING,
              "gnome_program_init: properties are not supported; \"%s\" and those after it are "
              "ignored",
              first_property_name);
    }
    static GnomeProgram program;
    program.appId = app_id != nullptr ? app_id : "";
    program.appVersion = app_version != nullptr ? app_version : "";
    if (!program.appId.empty()) {
        g_set_prgname(program.appId.c_str());
        if (g_get_application_name() == g_get_prgname()) {
            // No name was set yet (GLib falls back to the program name).
            g_set_application_name(program.appId.c_str());
        }
    }
    sProgram = &program;
    return sProgram;
}

GnomeProgram* gnome_program_get(void) {
    std::lock_guard<std::mutex> lock(sProgramMutex);
    return sProgram;
}

const char* gnome_program_get_app_id(GnomeProgram* program) {
    return program != nullptr ? program->appId.c_str() : nullptr;
}

const char* gnome_program_get_app_version(GnomeProgram* program) {
    return program != nullptr ? program->appVersion.c_str() : nullptr;
}
}
