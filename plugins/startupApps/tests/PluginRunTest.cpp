// SPDX-License-Identifier: LGPL-2.1-or-later
// What leaves the plug-in's entry points is logged, each kind with its own
// message, and the plug-in is destroyed whatever happened.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <stdexcept>

#include "PluginRun.h"
#include "StartupEntryPoints.h"
#include "StartupPlugin.h"
#include "model/Exception.h"
#include "model/Logger.h"

namespace {

int sAlive = 0;
int sFailure = 0;

void* fakeInitialise(int, const char**) {
    return &++sAlive;
}
void fakeExecute(void*) {
    if (sFailure == 1) {
        throw vesk::legacy::Exception("Corrupted session-manual");
    } else if (sFailure == 2) {
        throw std::runtime_error("not ours");
    }
}
void fakeUninitialise(void* handle) {
    sAlive -= handle != nullptr;
}

TEST(PluginRun, EveryFailureIsLoggedAndThePluginDestroyed) {
    const char* logs[] = {"",
                          "An error occurred while running the startup applications plugin: "
                          "Corrupted session-manual\n",
                          "An unexpected error has occurred.\n"};
    setenv("VESKLEG_LOG", "1", 1);
    vesk::legacy::Logger::initialise("startlist-test");
    for (sFailure = 0; sFailure < 3; ++sFailure) {
        testing::internal::CaptureStderr();
        vesk::legacy::plugins::startup::runPluginOnce(
            {fakeInitialise, fakeExecute, fakeUninitialise, nullptr});
        EXPECT_EQ(testing::internal::GetCapturedStderr(), logs[sFailure]);
        EXPECT_EQ(sAlive, 0) << "failure " << sFailure;
    }
    vesk::legacy::Logger::uninitialise();
    startupPluginExecute(nullptr);  // a null handle is no plug-in
    startupPluginFollow(nullptr);
    startupPluginUninitialise(nullptr);
}

// Without a store startlist waits for one a limited time only, then leaves
// the startup applications to the next login.
TEST(PluginRun, FollowingAMissingStoreEndsAfterTheLimit) {
    setenv("VESK_POLICY_STORE", "/nonexistent/hollin-store", 1);
    setenv("VESKLEG_LOG", "1", 1);
    setenv("HOME", "/nonexistent", 1);
    setenv("VESKLEG_LOG_LEVEL", "Warning", 1);
    vesk::legacy::Logger::initialise("startlist-test");
    testing::internal::CaptureStderr();
    {
        vesk::legacy::plugins::startup::StartupPlugin plugin(0, nullptr);
        plugin.execute();
        ASSERT_FALSE(plugin.isSettled());
        plugin.followUntilWritten(std::chrono::seconds(1));
    }
    EXPECT_NE(testing::internal::GetCapturedStderr().find("within 1 s; the next login tries"),
              std::string::npos);
    vesk::legacy::Logger::uninitialise();
}

}  // namespace
