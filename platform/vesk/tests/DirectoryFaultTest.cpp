// The directory going away under a listening desktop: reads fail with a
// status (never "no layers"), and once the server is back the listener gets
// exactly the changes it missed, once each.
#include <gtest/gtest.h>
#include <ldap.h>
#include <stdlib.h>

#include <chrono>
#include <mutex>
#include <thread>

#include "DirectoryPolicyStore.h"
#include "TestSupport.h"

namespace vesk::legacy::store::test {
namespace {

using std::chrono::milliseconds;

// Long enough for any event that is coming to have come (quiet 100 ms, cap 1 s).
const milliseconds kSettle(1500);

struct StateRecorder {
    static void record(PAPIConnectionState state, void* data) {
        auto* self = static_cast<StateRecorder*>(data);
        std::lock_guard<std::mutex> lock(self->mMutex);
        self->mStates.push_back(state);
    }
    std::vector<PAPIConnectionState> states() {
        std::lock_guard<std::mutex> lock(mMutex);
        return mStates;
    }
    std::mutex mMutex;
    std::vector<PAPIConnectionState> mStates;
};

class DirectoryFaultTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        mDirectory = sharedDirectory(error);
        ASSERT_NE(mDirectory, nullptr) << error;
        ASSERT_TRUE(mDirectory->start(error)) << error;
        mBase = freshBase(*mDirectory);
        setenv("VESK_POLICY_STORE", mDirectory->url(mBase).c_str(), 1);
        for (const char* component : {"org.changed", "org.same"}) {
            ensureScope(*mDirectory, "default", mBase);
            ASSERT_EQ(mDirectory->addEntry(layerDnOf("default", component, mBase),
                                           {{"objectClass", {"veskLayer"}},
                                            {"cn", {component}},
                                            {"veskLayerData", {"<before/>"}}}),
                      LDAP_SUCCESS);
        }
    }

    void TearDown() override {
        std::string error;
        EXPECT_TRUE(mDirectory == nullptr || mDirectory->start(error)) << error;
        unsetenv("VESK_POLICY_STORE");
    }

    PAPIStatus read(PAPI* handle, const char* component, std::string& data) {
        PAPIStatus status = -1;
        PAPILayerEntry* layers = papiReadComponentLayers(handle, component, &status);
        data = layers != nullptr ? std::string(layers->data, static_cast<size_t>(layers->size))
                                 : std::string();
        papiFreeLayerList(layers);
        return status;
    }

    TestDirectory* mDirectory = nullptr;
    std::string mBase;
};

TEST_F(DirectoryFaultTest, RestartedServerDeliversExactlyTheChangeMadeWhileItWasDown) {
    StateRecorder states;
    PAPIStatus status = -1;
    PAPI* handle = papiInitialiseWithListener("", StateRecorder::record, &states, &status);
    ASSERT_EQ(status, PAPISuccess);
    Recorder changed;
    Recorder same;
    papiAddListener(handle, "org.changed", Recorder::record, &changed, &status);
    papiAddListener(handle, "org.same", Recorder::record, &same, &status);
    ASSERT_EQ(status, PAPISuccess);

    mDirectory->stop();
    std::string data;
    EXPECT_EQ(read(handle, "org.changed", data), PAPIConnectionFailure);
    std::string error;
    ASSERT_TRUE(mDirectory->modifyOffline("dn: " + layerDnOf("default", "org.changed", mBase) +
                                              "\nchangetype: modify\nreplace: veskLayerData\n"
                                              "veskLayerData: <after/>\n",
                                          error))
        << error;
    std::this_thread::sleep_for(milliseconds(500));
    ASSERT_TRUE(mDirectory->start(error)) << error;
    const Clock::time_point restarted = Clock::now();

    ASSERT_TRUE(changed.waitFor(1, milliseconds(10000)));
    EXPECT_LT(changed.seen()[0].at - restarted, milliseconds(4000));
    EXPECT_EQ(changed.seen()[0].type, PAPIEventComponentModified);
    EXPECT_EQ(read(handle, "org.changed", data), PAPISuccess);
    EXPECT_EQ(data, "<after/>");
    std::this_thread::sleep_for(kSettle);
    EXPECT_EQ(changed.seen().size(), 1u);
    EXPECT_TRUE(same.seen().empty());
    EXPECT_EQ(states.states(), (std::vector<PAPIConnectionState>{PAPIDisconnected, PAPIConnected}));

    // Live again: the next change comes as before.
    ASSERT_EQ(mDirectory->replaceValues(layerDnOf("default", "org.same", mBase), "veskLayerData",
                                        {"<live/>"}),
              LDAP_SUCCESS);
    ASSERT_TRUE(same.waitFor(1));
    EXPECT_EQ(changed.seen().size(), 1u);
    papiDeinitialise(handle, &status);
    EXPECT_EQ(status, PAPISuccess);
}

TEST_F(DirectoryFaultTest, ServerDownIsConnectionFailureForEveryCallAndPassesWhenItIsBack) {
    PAPIStatus status = -1;
    PAPI* handle = papiInitialise("", &status);
    ASSERT_EQ(status, PAPISuccess);
    mDirectory->stop();

    std::string data;
    EXPECT_EQ(read(handle, "org.same", data), PAPIConnectionFailure);
    EXPECT_EQ(papiListComponentNames(handle, "", &status), nullptr);
    EXPECT_EQ(status, PAPIConnectionFailure);
    Recorder recorder;
    EXPECT_EQ(papiAddListener(handle, "org.same", Recorder::record, &recorder, &status), nullptr);
    EXPECT_EQ(status, PAPIConnectionFailure);
    EXPECT_EQ(papiInitialise("", &status), nullptr);
    EXPECT_EQ(status, PAPIConnectionFailure);

    std::string error;
    ASSERT_TRUE(mDirectory->start(error)) << error;
    EXPECT_EQ(read(handle, "org.same", data), PAPISuccess);
    EXPECT_EQ(data, "<before/>");
    papiAddListener(handle, "org.same", Recorder::record, &recorder, &status);
    EXPECT_EQ(status, PAPISuccess);
    papiDeinitialise(handle, &status);
}

}  // namespace
}  // namespace vesk::legacy::store::test
