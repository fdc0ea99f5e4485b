// The program's handling of failures that leave the plug-in's entry points:
// each is logged with its own message, and the plug-in is destroyed anyway.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <stdexcept>
#include <string>

#include "PluginRun.h"
#include "StartupEntryPoints.h"
#include "model/Exception.h"
#include "model/Logger.h"

namespace {

using vesk::legacy::Exception;
using vesk::legacy::Logger;
using vesk::legacy::plugins::startup::runPluginOnce;

int sAlive = 0;
int sDestroyed = 0;
int sFailure = 0;

void* fakeInitialise(int, const char**) {
    ++sAlive;
    return &sAlive;
}

void fakeExecute(void*) {
    switch (sFailure) {
        case 1:
            throw Exception("Corrupted session-manual");
        case 2:
            throw std::runtime_error("not ours");
        case 3:
            throw 42;
    }
}

void fakeUninitialise(void* handle) {
    if (handle != nullptr) {
        --sAlive;
        ++sDestroyed;
    }
}

TEST(PluginRun, EveryFailureIsLoggedAndThePluginDestroyed) {
    const struct {
        int failure;
        const char* log;
    } cases[] = {
        {0, ""},
        {1,
         "An error occurred while running the startup applications plugin: "
         "Corrupted session-manual\n"},
        {2, "An unexpected error has occurred.\n"},
        {3, "An unexpected error has occurred.\n"},
    };
    setenv("VESKLEG_LOG", "1", 1);
    Logger::initialise("startlist-test");
    for (const auto& c : cases) {
        sFailure = c.failure;
        sDestroyed = 0;
        testing::internal::CaptureStderr();
        runPluginOnce({fakeInitialise, fakeExecute, fakeUninitialise});
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.log) << c.failure;
        EXPECT_EQ(sDestroyed, 1) << c.failure;
        EXPECT_EQ(sAlive, 0) << c.failure;
    }
    Logger::uninitialise();
    unsetenv("VESKLEG_LOG");
}

TEST(PluginRun, TheEntryPointsAcceptANullHandle) {
    startupPluginExecute(nullptr);
    startupPluginUninitialise(nullptr);
}

}  // namespace
