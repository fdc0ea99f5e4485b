// Test doubles of libvantor and libtabard for deskrunner_fakes. FAKE_LAUNCHERS
// and FAKE_MENU choose what each does: "ok", "fail-initialise",
// "fail-execute", "fail-uninitialise" (throw Exception there) or "throw-other"
// (execute throws something that is not an Exception). Every call is logged at
// info level, so the order shows on standard error.
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "LauncherEntryPoints.h"
#include "model/Exception.h"
#include "model/Logger.h"
#include "tabard/MenuPlugin.h"

using vesk::legacy::Exception;
using vesk::legacy::Logger;

namespace {

int sLaunchersHandle;
int sMenuHandle;

bool behaves(const char* variable, const char* behaviour) {
    const char* value = std::getenv(variable);
    return std::string(value != nullptr ? value : "ok") == behaviour;
}

void* initialise(const char* who, const char* variable, int argc, const char** argv, void* handle) {
    Logger::info("%s initialise argc=%d argv=%s\n", who, argc, argv == nullptr ? "null" : "set");
    if (behaves(variable, "fail-initialise")) {
        throw Exception(std::string(who) + " broken");
    }
    return handle;
}

void execute(const char* who, const char* variable, void* handle) {
    Logger::info("%s execute handle=%s\n", who, handle == nullptr ? "null" : "set");
    if (behaves(variable, "fail-execute")) {
        throw Exception(std::string(who) + " broken");
    }
    if (behaves(variable, "throw-other")) {
        throw std::runtime_error("not ours");
    }
}

void uninitialise(const char* who, const char* variable, void* handle) {
    Logger::info("%s uninitialise handle=%s\n", who, handle == nullptr ? "null" : "set");
    if (behaves(variable, "fail-uninitialise")) {
        throw Exception(std::string(who) + " broken");
    }
}

}  // namespace

extern "C" {

void* launchersPluginInitialise(int argc, const char** argv) {
    return initialise("launchers", "FAKE_LAUNCHERS", argc, argv, &sLaunchersHandle);
}
void launchersPluginExecute(void* handle) {
    execute("launchers", "FAKE_LAUNCHERS", handle);
}
void launchersPluginUninitialise(void* handle) {
    uninitialise("launchers", "FAKE_LAUNCHERS", handle);
}

void* menuPluginInitialise(int argc, const char** argv) {
    return initialise("menu", "FAKE_MENU", argc, argv, &sMenuHandle);
}
void menuPluginExecute(void* handle) {
    execute("menu", "FAKE_MENU", handle);
}
void menuPluginUninitialise(void* handle) {
    uninitialise("menu", "FAKE_MENU", handle);
}
}
