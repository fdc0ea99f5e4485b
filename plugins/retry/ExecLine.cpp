// SPDX-License-Identifier: LGPL-2.1-or-later
#include "ExecLine.h"

#include <glib.h>
#include <string.h>

namespace vesk::legacy::plugins {

bool ExecLine::quote(const std::string& command, std::string& value, std::string& why,
                     bool fieldCodes) {
    value.clear();
    gint argc = 0;
    gchar** argv = nullptr;
    GError* error = nullptr;
    if (!g_shell_parse_argv(command.c_str(), &argc, &argv, &error)) {
        why = error->message;
        g_error_free(error);
        return false;
    }
    for (gint i = 0; i < argc; ++i) {
        const std::string argument = argv[i];
        const bool quoted = argument.empty() ||
                            argument.find_first_of(" \t\n\"'\\><~|&;$*?#()`") != std::string::npos;
        value += i > 0 ? " " : "";
        value += quoted ? "\"" : "";
        for (size_t at = 0; at < argument.size(); ++at) {
            const char c = argument[at];
            if (quoted && strchr("\"`$\\", c) != nullptr) {
                value += '\\';
            }
            value += c;
            // Field codes are not expanded inside a quoted argument.
            if (c == '%' && fieldCodes && !quoted && at + 1 < argument.size() &&
                strchr("%fFuUdDnNickvm", argument[at + 1]) != nullptr) {
                value += argument[++at];
            } else if (c == '%') {
                value += '%';
            }
        }
        value += quoted ? "\"" : "";
    }
    g_strfreev(argv);
    return true;
}

}  // namespace vesk::legacy::plugins
