#include "VELAppsPlugin.h"

#include <exception>

#include "VELAppsWriter.h"
#include "model/Exception.h"
#include "model/Logger.h"

using vesk::legacy::Exception;
using vesk::legacy::Logger;

namespace {

// The host is outside this system and knows nothing of our exceptions.
void logFailure(const char* format) {
    try {
        throw;
    } catch (const Exception& e) {
        Logger::error(format, e.getMessage().c_str());
    } catch (const std::exception& e) {
        Logger::error(format, e.what());
    } catch (...) {
        Logger::error(format, "unknown failure");
    }
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) void* velAppsInitialise() {
    try {
        return new VELAppsWriter();
    } catch (...) {
        logFailure("Init writer: %s\n");
        return nullptr;
    }
}

__attribute__((visibility("default"))) void velAppsExecute(void* handle) {
    if (!handle)
        return;
    VELAppsWriter* writer = static_cast<VELAppsWriter*>(handle);
    try {
        writer->writeApps();
    } catch (...) {
        logFailure("Write apps: %s\n");
    }
    try {
        writer->startListening();
    } catch (...) {
        logFailure("Start listening: %s\n");
    }
}

__attribute__((visibility("default"))) void Uninitialise(void* handle) {
    if (!handle)
        return;
    try {
        delete static_cast<VELAppsWriter*>(handle);
    } catch (...) {
        logFailure("Stop listening: %s\n");
    }
}
}
