// SPDX-License-Identifier: LGPL-2.1-or-later
// Test doubles of libvantor and libtabard for deskrunner_fakes. Each call is
// logged at info level in short: L launchers, M menu; "+" initialise with no
// arguments, "!" execute, "-" uninitialise, "0" uninitialise of a null handle.
// FAKE_LAUNCHERS and FAKE_MENU name the call that throws Exception
// ("initialise", "execute", "uninitialise"), or "other": execute throws what
// is no Exception.
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "LauncherEntryPoints.h"
#include "model/Exception.h"
#include "model/Logger.h"
#include "tabard/MenuPlugin.h"

namespace {

int sHandle;

void* call(char who, const char* what, char code, const char* variable) {
    vesk::legacy::Logger::info("%c%c\n", who, code);
    const std::string fail = std::getenv(variable) != nullptr ? std::getenv(variable) : "";
    if (fail == what) {
        throw vesk::legacy::Exception(who == 'L' ? "launchers broken" : "menu broken");
    }
    if (fail == "other" && code == '!') {
        throw std::runtime_error("not ours");
    }
    return &sHandle;
}
char handle(void* given, char code) {
    return given == &sHandle ? code : given == nullptr ? '0' : '?';
}

}  // namespace

#define FAKE_PLUGIN(prefix, who, variable)                                                  \
    void* prefix##PluginInitialise(int argc, const char** argv) {                           \
        return call(who, "initialise", argc == 0 && argv == nullptr ? '+' : '?', variable); \
    }                                                                                       \
    void prefix##PluginExecute(void* h) {                                                   \
        call(who, "execute", handle(h, '!'), variable);                                     \
    }                                                                                       \
    void prefix##PluginUninitialise(void* h) {                                              \
        call(who, "uninitialise", handle(h, '-'), variable);                                \
    }

extern "C" {
FAKE_PLUGIN(launchers, 'L', "FAKE_LAUNCHERS")
FAKE_PLUGIN(menu, 'M', "FAKE_MENU")
}
