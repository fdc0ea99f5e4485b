// Test doubles of libvantor and libtabard for deskrunner_fakes. FAKE_LAUNCHERS
// and FAKE_MENU choose their behaviour: "ok", "fail-initialise",
// "fail-execute", "fail-uninitialise" (throw Exception there) or "throw-other"
// (execute throws what is not an Exception). Each call is logged at info level.
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

int sHandle;

void call(const char* who, const char* what, const char* detail, const char* variable) {
    Logger::info("%s %s %s\n", who, what, detail);
    const char* value = std::getenv(variable);
    const std::string behaviour = value != nullptr ? value : "ok";
    if (behaviour == std::string("fail-") + what) {
        throw Exception(std::string(who) + " broken");
    }
    if (behaviour == "throw-other" && std::string(what) == "execute") {
        throw std::runtime_error("not ours");
    }
}

const char* handleText(void* handle) {
    return handle != nullptr ? "handle=set" : "handle=null";
}

const char* argText(int argc, const char** argv) {
    return argc == 0 && argv == nullptr ? "argc=0 argv=null" : "arguments passed";
}

}  // namespace

extern "C" {

void* launchersPluginInitialise(int argc, const char** argv) {
    call("launchers", "initialise", argText(argc, argv), "FAKE_LAUNCHERS");
    return &sHandle;
}
void launchersPluginExecute(void* handle) {
    call("launchers", "execute", handleText(handle), "FAKE_LAUNCHERS");
}
void launchersPluginUninitialise(void* handle) {
    call("launchers", "uninitialise", handleText(handle), "FAKE_LAUNCHERS");
}
void* menuPluginInitialise(int argc, const char** argv) {
    call("menu", "initialise", argText(argc, argv), "FAKE_MENU");
    return &sHandle;
}
void menuPluginExecute(void* handle) {
    call("menu", "execute", handleText(handle), "FAKE_MENU");
}
void menuPluginUninitialise(void* handle) {
    call("menu", "uninitialise", handleText(handle), "FAKE_MENU");
}
}
