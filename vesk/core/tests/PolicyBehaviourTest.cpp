// SPDX-License-Identifier: LGPL-2.1-or-later
// What every backend does alike, one suite that each test binary runs on the
// store it offers: which scopes stack in which order, which names and handles
// are refused, which components are listed, and how changes reach the
// listeners (the first change at once, the rest of a burst in one more event,
// within a second, with their type).
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "GroupSeam.h"
#include "StoreTestSupport.h"

namespace vesk::legacy::store::test {
namespace {

class PolicyBehaviourTest : public ::testing::TestWithParam<TestPolicyStoreFactory> {
  protected:
    void SetUp() override {
        mStore = GetParam()();
        mStore->open();
    }
    void TearDown() override {
        groupseam::clear();
        mStore->close();
    }

    // A layer as describe() shows it: stamped with its scope and the time the store keeps.
    std::string layer(const std::string& scope, const std::string& data,
                      const char* component = kComponent) {
        return scope + " " + std::to_string(mStore->layerTime(scope, component)) + "=" + data;
    }

    std::unique_ptr<TestPolicyStore> mStore;
    const std::string mUserScope = "users/" + userName();
};

TEST_P(PolicyBehaviourTest, StacksRunFromDefaultToTheEntityOwnScopeWithExactBytes) {
    const std::string host = "hosts/" + hostName();
    ASSERT_FALSE(userName().empty());
    const std::string bytes("<user\0b\r\n\xff/>", 12);

    // Written in an order unlike the stacks, with decoys of other entities.
    mStore->writeLayer(mUserScope, kComponent, bytes);
    mStore->writeLayer("entities/kiosk.default", kComponent, "<kiosk/>");
    mStore->writeLayer(host, kComponent, "<host/>");
    mStore->writeLayer("default", kComponent, "<default/>");
    for (const char* decoy : {"users/someone-else", "hosts/other-host", "entities/other"}) {
        mStore->writeLayer(decoy, kComponent, "<other/>");
    }
    mStore->writeLayer("default", "empty", "");

    // The user's groups as the name services list them, and the order their
    // scopes stack in: by unsigned bytes, each once; a group without a name
    // ("") has no scope.
    const struct {
        std::vector<std::string> listed, stacked;
    } groupCases[] = {
        {{"staff"}, {"staff"}},
        {{"wheel", "audio", "Video", "_ops"}, {"Video", "_ops", "audio", "wheel"}},
        {{"users", "\xc3\xa9t\xc3\xa9", "", "dev-2", "adm", "users", "dev"},
         {"adm", "dev", "dev-2", "users", "\xc3\xa9t\xc3\xa9"}},
    };
    for (const auto& groups : groupCases) {
        SCOPED_TRACE(groups.stacked.back());
        for (auto group = groups.stacked.rbegin(); group != groups.stacked.rend(); ++group) {
            mStore->writeLayer("groups/" + *group, kComponent, "<" + *group + "/>");
        }
        groupseam::set(groups.listed);
        std::vector<std::string> userStack{layer("default", "<default/>")};
        for (const std::string& group : groups.stacked) {
            userStack.push_back(layer("groups/" + group, "<" + group + "/>"));
        }
        userStack.push_back(layer(host, "<host/>"));
        userStack.push_back(layer(mUserScope, bytes));
        const std::vector<std::string> kioskStack{layer("default", "<default/>"),
                                                  layer(host, "<host/>"),
                                                  layer("entities/kiosk.default", "<kiosk/>")};
        for (const char* connection : {static_cast<const char*>(nullptr), "", "kiosk.default"}) {
            SCOPED_TRACE(connection != nullptr ? connection : "null");
            PAPI* handle = openHandle(connection);
            PAPIStatus status = -1;
            const std::vector<std::string>& stack =
                connection != nullptr && connection[0] != '\0' ? kioskStack : userStack;
            EXPECT_EQ(describe(handle, kComponent, status), stack);
            EXPECT_EQ(status, PAPISuccess);
            // Handed to a sink: the same, and no more once the sink has enough.
            EXPECT_EQ(describeInto(handle, kComponent, status), stack);
            EXPECT_EQ(describeInto(handle, kComponent, status, 1),
                      std::vector<std::string>{stack.front()});
            EXPECT_EQ(status, PAPISuccess);
            // An empty layer is a layer; a component without layers is null with success.
            EXPECT_EQ(describe(handle, "empty", status),
                      std::vector<std::string>{layer("default", "", "empty")});
            EXPECT_TRUE(describe(handle, "absent", status).empty());
            EXPECT_EQ(status, PAPISuccess);
            closeHandle(handle);
        }
    }
}

TEST_P(PolicyBehaviourTest, NamesAndHandlesThatAreNotOursAreRefusedAndNeverUsed) {
    mStore->writeLayer("default", kComponent, "<secret/>");
    PAPIStatus status = -1;
    // A refused call returns nothing and gives status 5.
    const auto refused = [&status](const void* result) {
        const bool ok = result == nullptr && status == PAPIInvalidArg;
        status = -1;
        return ok;
    };
    for (const char* connection : {".", "..", "a/b", "../default", "/"}) {
        EXPECT_TRUE(refused(papiInitialise(connection, &status))) << connection;
    }
    PAPI* handle = openHandle("kiosk.default");
    const auto callback = [](const PAPIEvent*, void*) {};
    for (const char* component :
         {static_cast<const char*>(nullptr), "", ".", "..", "../default/x", "x/..", "/x"}) {
        SCOPED_TRACE(component != nullptr ? component : "null");
        EXPECT_TRUE(refused(papiReadComponentLayers(handle, component, &status)));
        EXPECT_TRUE(refused(describeInto(handle, component, status).empty() ? nullptr : handle));
        EXPECT_TRUE(refused(papiAddListener(handle, component, callback, nullptr, &status)));
    }
    papiReadComponentLayersInto(handle, kComponent, nullptr, nullptr, &status);
    EXPECT_TRUE(refused(nullptr)) << "no sink";
    EXPECT_TRUE(refused(papiAddListener(handle, kComponent, nullptr, nullptr, &status)));

    PAPI* stale = openHandle();
    closeHandle(stale);
    int local = 0;
    for (PAPI* other : {stale, reinterpret_cast<PAPI*>(&local), static_cast<PAPI*>(nullptr)}) {
        EXPECT_TRUE(refused(papiReadComponentLayers(other, kComponent, &status)));
        EXPECT_TRUE(refused(describeInto(other, kComponent, status).empty() ? nullptr : other));
        EXPECT_TRUE(refused(papiListComponentNames(other, "", &status)));
        EXPECT_TRUE(refused(papiAddListener(other, kComponent, callback, nullptr, &status)));
        papiDeinitialise(other, &status);
        EXPECT_TRUE(refused(nullptr));
    }

    // A listener id belongs to its handle, and goes with its removal.
    PAPIListenerId id = papiAddListener(handle, kComponent, callback, nullptr, &status);
    ASSERT_EQ(status, PAPISuccess);
    PAPI* other = openHandle();
    const std::vector<std::pair<PAPI*, PAPIListenerId>> removals{
        {other, id}, {stale, id}, {handle, nullptr}, {handle, id}, {handle, id}};
    for (size_t i = 0; i < removals.size(); ++i) {
        papiRemoveListener(removals[i].first, removals[i].second, &status);
        EXPECT_EQ(status, i == 3 ? PAPISuccess : PAPIInvalidArg) << i;
    }
    papiFreeLayerList(nullptr);
    papiFreeStringList(nullptr);
    closeHandle(other);
    closeHandle(handle);
}

TEST_P(PolicyBehaviourTest, ComponentNamesComeFromEveryScopeOfTheStackAscending) {
    for (const auto& [scope, component] :
         std::vector<std::pair<std::string, const char*>>{{"default", "org.b"},
                                                          {"default", "org.a"},
                                                          {"hosts/" + hostName(), "org.a"},
                                                          {mUserScope, "com.c"},
                                                          {"users/someone-else", "org.hidden"},
                                                          {"default", "notes"}}) {
        mStore->writeLayer(scope, component, "");
    }
    PAPI* handle = openHandle();
    const std::vector<std::string> all{"com.c", "notes", "org.a", "org.b"};
    const std::vector<std::pair<const char*, std::vector<std::string>>> cases{
        {"", all}, {nullptr, all}, {"org.", {"org.a", "org.b"}}, {"zzz", {}}};
    for (const auto& [selector, expected] : cases) {
        PAPIStatus status = -1;
        EXPECT_EQ(names(handle, selector, status), expected) << (selector ? selector : "null");
        EXPECT_EQ(status, PAPISuccess);
    }
    closeHandle(handle);
}

TEST_P(PolicyBehaviourTest, EachKindOfChangeArrivesWithItsType) {
    const struct {
        const char* what;
        std::function<void()> change;
        int type;
    } steps[] = {
        {"first layer appears", [this] { mStore->writeLayer("default", kComponent, "1"); },
         PAPIEventComponentAdded},
        {"layer rewritten in place", [this] { mStore->writeLayer("default", kComponent, "2"); },
         PAPIEventComponentModified},
        {"second layer replaced into place",
         [this] { mStore->replaceLayer(mUserScope, kComponent, "3"); }, PAPIEventComponentModified},
        {"one of two layers removed", [this] { mStore->removeLayer("default", kComponent); },
         PAPIEventComponentModified},
        {"last layer removed", [this] { mStore->removeLayer(mUserScope, kComponent); },
         PAPIEventComponentRemoved},
    };
    PAPI* handle = openHandle();
    Recorder recorder;
    listen(handle, recorder);
    size_t count = 0;
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        step.change();
        ASSERT_TRUE(recorder.waitFor(++count));
        const Recorder::Seen seen = recorder.seen()[count - 1];
        EXPECT_EQ(seen.type, step.type);
        EXPECT_EQ(seen.component, kComponent);
        EXPECT_TRUE(recorder.quietAfter(count, milliseconds(150)));  // one event per step
    }
    EXPECT_TRUE(recorder.quietAfter(count));
    closeHandle(handle);
}

// A burst gives each listener of a changed component its first change at
// once and the rest in one more event, and the last read of it sees the
// final layer; other components hear nothing. A steady stream of writes,
// never quiet, still gives an event at least about once a second.
TEST_P(PolicyBehaviourTest,
       BurstGivesAtMostTwoEventsEndingOnTheFinalLayerAndAStreamSomeEachSecond) {
    mStore->writeLayer("default", kComponent, "0");
    PAPI* handle = openHandle();
    Recorder first, second, other, unrelated, streamed;
    std::string lastRead;
    first.mThen = [&](const PAPIEvent*) {
        PAPIStatus status = -1;
        const std::vector<std::string> layers = describe(handle, kComponent, status, false);
        lastRead = layers.empty() ? "" : layers[0];
    };
    listen(handle, first);
    listen(handle, second);
    listen(handle, other, "org.other");
    listen(handle, unrelated, "org.unrelated");
    for (int i = 1; i <= 10; ++i) {
        mStore->writeLayer("default", kComponent, std::to_string(i));
        mStore->writeLayer("default", "org.other", std::to_string(i));
        // Paced like a program writing in a loop: the burst is what is tested.
        std::this_thread::sleep_for(milliseconds(5));
    }
    ASSERT_TRUE(first.waitFor(1));
    first.settle();
    for (Recorder* recorder : {&first, &second, &other}) {
        const std::vector<Recorder::Seen> seen = recorder->seen();
        ASSERT_GE(seen.size(), 1u);
        EXPECT_LE(seen.size(), 2u);
        for (size_t i = 0; i < seen.size(); ++i) {
            EXPECT_EQ(seen[i].type, recorder == &other && i == 0 ? PAPIEventComponentAdded
                                                                 : PAPIEventComponentModified);
            EXPECT_EQ(seen[i].component, recorder == &other ? "org.other" : kComponent);
        }
    }
    EXPECT_EQ(lastRead, "10");
    EXPECT_TRUE(unrelated.seen().empty());

    listen(handle, streamed);
    std::atomic<bool> writing{true};
    std::thread writer([&] {
        for (int i = 0; writing; ++i) {
            mStore->writeLayer("default", kComponent, std::to_string(i));
            // The pace of the stream, never quiet long enough for an event.
            std::this_thread::sleep_for(milliseconds(40));
        }
    });
    // The stream runs this long: events are counted over a fixed time.
    std::this_thread::sleep_for(std::chrono::seconds(5));
    const size_t during = streamed.seen().size();
    writing = false;
    writer.join();
    // One a second would be five; four leaves room for a slow machine.
    EXPECT_GE(during, 4u);
    closeHandle(handle);
}

// A callback reads the layers, removes itself, or closes the handle, with no
// deadlock; papiRemoveListener from elsewhere waits for a callback in progress.
TEST_P(PolicyBehaviourTest, CallbacksMayUseTheHandleAndRemovalWaitsForThem) {
    mStore->writeLayer("default", kComponent, "old");
    PAPI* handle = openHandle();
    Recorder slow;
    std::atomic<bool> finished{false};
    slow.mThen = [&](const PAPIEvent*) {
        // A slow listener by design: the removal must wait for it.
        std::this_thread::sleep_for(milliseconds(300));
        finished = true;
    };
    PAPIListenerId slowId = listen(handle, slow);
    mStore->writeLayer("default", kComponent, "x");
    ASSERT_TRUE(slow.waitEntered(1));
    PAPIStatus status = -1;
    papiRemoveListener(handle, slowId, &status);
    EXPECT_EQ(status, PAPISuccess);
    EXPECT_TRUE(finished);

    Recorder reader, remover, closer;
    std::string readInside;
    reader.mThen = [&](const PAPIEvent*) {
        PAPIStatus inside = -1;
        const std::vector<std::string> layers = describe(handle, kComponent, inside, false);
        readInside = layers.empty() ? "" : layers[0];
    };
    std::atomic<PAPIListenerId> removerId{nullptr};
    remover.mThen = [&](const PAPIEvent*) {
        PAPIStatus inside = -1;
        papiRemoveListener(handle, removerId, &inside);
        EXPECT_EQ(inside, PAPISuccess);
    };
    listen(handle, reader);
    removerId = listen(handle, remover);
    mStore->writeLayer("default", kComponent, "new");
    ASSERT_TRUE(remover.waitFor(1));
    ASSERT_TRUE(reader.waitFor(1));
    EXPECT_EQ(readInside, "new");

    // The handle closes from inside the callback; nothing arrives after it.
    closer.mThen = [&](const PAPIEvent*) { closeHandle(handle); };
    listen(handle, closer);
    mStore->writeLayer("default", kComponent, "newer");
    ASSERT_TRUE(closer.waitFor(1));
    mStore->writeLayer("default", kComponent, "newest");
    EXPECT_TRUE(closer.quietAfter(1));
    EXPECT_EQ(slow.seen().size(), 1u);
    EXPECT_EQ(remover.seen().size(), 1u);
    EXPECT_EQ(closer.seen().size(), 1u);
    EXPECT_LE(reader.seen().size(), 2u);
    papiReadComponentLayers(handle, kComponent, &status);
    EXPECT_EQ(status, PAPIInvalidArg);
}

INSTANTIATE_TEST_SUITE_P(Backend, PolicyBehaviourTest, ::testing::Values(kBackend),
                         [](const auto&) { return std::string(kBackendName); });

}  // namespace
}  // namespace vesk::legacy::store::test
