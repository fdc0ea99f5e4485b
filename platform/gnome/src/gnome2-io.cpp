// SPDX-License-Identifier: LGPL-2.1-or-later
// File replacement and value escaping shared by the gnome_config and desktop
// item layers.
#include "gnome2-io.h"

#include <errno.h>

#include "output/ReplaceFile.h"

extern "C" {

gboolean gnome2_replace_file(const char* path, const char* data, gsize length, mode_t new_mode,
                             gboolean follow_links, GError** error) {
    char why[1024];
    if (hollin_replace_file(path, data, length, new_mode, follow_links ? 1 : 0, why, sizeof why) ==
        0) {
        return TRUE;
    }
    g_set_error(error, G_FILE_ERROR, g_file_error_from_errno(errno), "Cannot write \"%s\": %s",
                path, why);
    return FALSE;
}
}

std::string gnome2_escape_value(const std::string& value, bool list_item) {
    std::string out;
    out.reserve(value.size() + 8);
    for (std::string::size_type i = 0; i < value.size(); ++i) {
        const char c = value[i];
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            case ' ':
                out += i == 0 ? "\\s" : " ";
                break;
            case '\v':
                out += i == 0 ? "\\v" : "\v";
                break;
            case '\f':
                out += i == 0 ? "\\f" : "\f";
                break;
            case ';':
                out += list_item ? "\\;" : ";";
                break;
            default:
                out += c;
        }
    }
    return out;
}
