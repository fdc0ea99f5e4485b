// What every backend does alike: which scopes stack in which order, which
// names are refused, which components are listed, and how changes reach the
// listeners (once per burst, within a second, with their type).
#include "PolicyBehaviourTest.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

namespace vesk::legacy::store::test {

using std::chrono::milliseconds;

namespace {

const char kComponent[] = "com.orvek.ferrun.applications";
// Long enough for any event that is coming to have come (quiet 100 ms, cap 1 s).
const milliseconds kSettle(1500);

}  // namespace

void PolicyBehaviourTest::SetUp() {
    mStore = GetParam()();
    mStore->open();
    mUserScope = "users/" + userName();
}

void PolicyBehaviourTest::TearDown() {
    mStore->close();
}

PAPI* PolicyBehaviourTest::open(const char* connection) {
    PAPIStatus status = -1;
    PAPI* handle = papiInitialise(connection, &status);
    EXPECT_EQ(status, PAPISuccess);
    return handle;
}

PAPIListenerId PolicyBehaviourTest::listen(PAPI* handle, Recorder& recorder,
                                           const std::string& component) {
    PAPIStatus status = -1;
    PAPIListenerId id =
        papiAddListener(handle, component.c_str(), Recorder::record, &recorder, &status);
    EXPECT_EQ(status, PAPISuccess);
    EXPECT_NE(id, nullptr);
    return id;
}

std::string PolicyBehaviourTest::stamp(const std::string& scope, const std::string& component) {
    return scope + " " + std::to_string(mStore->layerTime(scope, component));
}

TEST_P(PolicyBehaviourTest, StacksRunFromDefaultToTheEntityOwnScope) {
    const std::string user = userName();
    const std::vector<std::string> groups = groupNames();
    const std::string host = hostName();
    ASSERT_FALSE(user.empty());
    ASSERT_FALSE(groups.empty());

    // Written in an order unlike the stacks, with decoys of other entities.
    mStore->writeLayer("users/" + user, kComponent, "<user/>");
    mStore->writeLayer("entities/kiosk.default", kComponent, "<kiosk/>");
    mStore->writeLayer("hosts/" + host, kComponent, "<host/>");
    for (auto group = groups.rbegin(); group != groups.rend(); ++group) {
        mStore->writeLayer("groups/" + *group, kComponent, "<group " + *group + "/>");
    }
    mStore->writeLayer("default", kComponent, "<default/>");
    for (const char* decoy : {"users/someone-else", "hosts/other-host", "entities/other"}) {
        mStore->writeLayer(decoy, kComponent, "<other/>");
    }

    std::vector<std::string> userStack{stamp("default", kComponent) + "=<default/>"};
    for (const std::string& group : groups) {
        userStack.push_back(stamp("groups/" + group, kComponent) + "=<group " + group + "/>");
    }
    userStack.push_back(stamp("hosts/" + host, kComponent) + "=<host/>");
    userStack.push_back(stamp("users/" + user, kComponent) + "=<user/>");
    const std::vector<std::string> kioskStack{
        stamp("default", kComponent) + "=<default/>",
        stamp("hosts/" + host, kComponent) + "=<host/>",
        stamp("entities/kiosk.default", kComponent) + "=<kiosk/>"};

    for (const char* connection : {static_cast<const char*>(nullptr), "", "kiosk.default"}) {
        SCOPED_TRACE(connection != nullptr ? connection : "null");
        PAPIStatus status = -1;
        PAPI* handle = papiInitialise(connection, &status);
        ASSERT_EQ(status, PAPISuccess);
        EXPECT_EQ(describe(handle, kComponent, status),
                  connection != nullptr && connection[0] != '\0' ? kioskStack : userStack);
        EXPECT_EQ(status, PAPISuccess);
        papiDeinitialise(handle, &status);
        EXPECT_EQ(status, PAPISuccess);
    }
}

TEST_P(PolicyBehaviourTest, LayerHoldsExactBytesAndEmptyComponentIsNullWithSuccess) {
    const std::string binary("a\0b\r\n\xff", 6);
    mStore->writeLayer("default", "bytes", binary);
    mStore->writeLayer("default", "empty", "");
    PAPI* handle = open();
    PAPIStatus status = -1;
    EXPECT_EQ(describe(handle, "bytes", status),
              std::vector<std::string>{stamp("default", "bytes") + "=" + binary});

    PAPILayerEntry* layers = papiReadComponentLayers(handle, "empty", &status);
    ASSERT_NE(layers, nullptr);
    EXPECT_EQ(layers->size, 0);
    EXPECT_NE(layers->data, nullptr);
    papiFreeLayerList(layers);

    status = -1;
    EXPECT_EQ(papiReadComponentLayers(handle, "absent", &status), nullptr);
    EXPECT_EQ(status, PAPISuccess);
    papiDeinitialise(handle, &status);
}

TEST_P(PolicyBehaviourTest, NamesThatCouldLeaveTheStoreAreRefused) {
    mStore->writeLayer("default", "x", "<secret/>");
    for (const char* connection : {".", "..", "a/b", "../default", "/"}) {
        PAPIStatus status = -1;
        EXPECT_EQ(papiInitialise(connection, &status), nullptr) << connection;
        EXPECT_EQ(status, PAPIInvalidArg) << connection;
    }
    PAPI* handle = open("kiosk.default");
    for (const char* component : {"", ".", "..", "../default/x", "x/..", "/x"}) {
        PAPIStatus status = -1;
        EXPECT_EQ(papiReadComponentLayers(handle, component, &status), nullptr) << component;
        EXPECT_EQ(status, PAPIInvalidArg) << component;
    }
    PAPIStatus status = -1;
    EXPECT_EQ(papiReadComponentLayers(handle, nullptr, &status), nullptr);
    EXPECT_EQ(status, PAPIInvalidArg);
    papiDeinitialise(handle, &status);
}

TEST_P(PolicyBehaviourTest, ComponentNamesComeFromEveryScopeOfTheStackAscending) {
    mStore->writeLayer("default", "org.b", "");
    mStore->writeLayer("default", "org.a", "");
    mStore->writeLayer("hosts/" + hostName(), "org.a", "");
    mStore->writeLayer(mUserScope, "com.c", "");
    mStore->writeLayer("users/someone-else", "org.hidden", "");
    mStore->writeLayer("default", "notes", "");

    PAPI* handle = open();
    PAPIStatus status = -1;
    const auto list = [&](const char* selector) {
        std::vector<std::string> names;
        PAPINameEntry* head = papiListComponentNames(handle, selector, &status);
        for (const PAPINameEntry* entry = head; entry != nullptr; entry = entry->next) {
            names.push_back(entry->name);
        }
        papiFreeStringList(head);
        return names;
    };
    EXPECT_EQ(list(""), (std::vector<std::string>{"com.c", "notes", "org.a", "org.b"}));
    EXPECT_EQ(status, PAPISuccess);
    EXPECT_EQ(list(nullptr), list(""));
    EXPECT_EQ(list("org."), (std::vector<std::string>{"org.a", "org.b"}));
    EXPECT_TRUE(list("zzz").empty());
    EXPECT_EQ(status, PAPISuccess);
    papiDeinitialise(handle, &status);
}

TEST_P(PolicyBehaviourTest, StaleForeignAndNullHandlesAreInvalidAndNeverUsed) {
    mStore->writeLayer("default", kComponent, "<default/>");
    PAPIStatus status = -1;
    PAPI* stale = papiInitialise("", &status);
    PAPI* other = papiInitialise("kiosk.default", &status);
    papiDeinitialise(stale, &status);
    ASSERT_EQ(status, PAPISuccess);
    int local = 0;
    PAPI* foreign = reinterpret_cast<PAPI*>(&local);

    const auto callback = [](const PAPIEvent*, void*) {};
    for (PAPI* handle : {stale, foreign, static_cast<PAPI*>(nullptr)}) {
        status = -1;
        EXPECT_EQ(papiReadComponentLayers(handle, kComponent, &status), nullptr);
        EXPECT_EQ(status, PAPIInvalidArg);
        status = -1;
        EXPECT_EQ(papiListComponentNames(handle, "", &status), nullptr);
        EXPECT_EQ(status, PAPIInvalidArg);
        status = -1;
        EXPECT_EQ(papiAddListener(handle, kComponent, callback, nullptr, &status), nullptr);
        EXPECT_EQ(status, PAPIInvalidArg);
        status = -1;
        papiDeinitialise(handle, &status);
        EXPECT_EQ(status, PAPIInvalidArg);
    }

    // A listener id belongs to its handle, and goes with its removal.
    PAPIListenerId id = papiAddListener(other, kComponent, callback, nullptr, &status);
    ASSERT_EQ(status, PAPISuccess);
    PAPI* third = papiInitialise("", &status);
    const std::vector<std::pair<PAPI*, PAPIListenerId>> removals{
        {third, id}, {stale, id}, {other, nullptr}, {other, id}, {other, id}};
    for (size_t i = 0; i < removals.size(); ++i) {
        papiRemoveListener(removals[i].first, removals[i].second, &status);
        EXPECT_EQ(status, i == 3 ? PAPISuccess : PAPIInvalidArg) << i;
    }
    EXPECT_EQ(papiAddListener(other, kComponent, nullptr, nullptr, &status), nullptr);
    EXPECT_EQ(status, PAPIInvalidArg);
    EXPECT_EQ(papiAddListener(other, "../x", callback, nullptr, &status), nullptr);
    EXPECT_EQ(status, PAPIInvalidArg);

    papiFreeLayerList(nullptr);
    papiFreeStringList(nullptr);
    papiDeinitialise(third, &status);
    papiDeinitialise(other, &status);
    EXPECT_EQ(status, PAPISuccess);
}

TEST_P(PolicyBehaviourTest, EachKindOfChangeArrivesWithinASecondWithItsType) {
    struct Step {
        const char* what;
        std::function<void()> change;
        int type;
    };
    const std::vector<Step> steps{
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
    PAPI* handle = open();
    Recorder recorder;
    listen(handle, recorder, kComponent);
    for (size_t i = 0; i < steps.size(); ++i) {
        SCOPED_TRACE(steps[i].what);
        const Clock::time_point changed = Clock::now();
        steps[i].change();
        ASSERT_TRUE(recorder.waitFor(i + 1));
        const Recorder::Seen seen = recorder.seen()[i];
        EXPECT_EQ(seen.type, steps[i].type);
        EXPECT_EQ(seen.component, kComponent);
        EXPECT_LT(seen.at - changed, milliseconds(1000));
        std::this_thread::sleep_for(milliseconds(150));  // one event per step
    }
    std::this_thread::sleep_for(kSettle);
    EXPECT_EQ(recorder.seen().size(), steps.size());
    PAPIStatus status = -1;
    papiDeinitialise(handle, &status);
    EXPECT_EQ(status, PAPISuccess);
}

TEST_P(PolicyBehaviourTest, BurstGivesOneEventPerComponentAndOnlyToItsListeners) {
    mStore->writeLayer("default", kComponent, "0");
    PAPI* handle = open();
    Recorder first;
    Recorder second;
    Recorder other;
    Recorder unrelated;
    listen(handle, first, kComponent);
    listen(handle, second, kComponent);
    listen(handle, other, "org.other");
    listen(handle, unrelated, "org.unrelated");
    for (int i = 1; i <= 10; ++i) {
        mStore->writeLayer("default", kComponent, std::to_string(i));
        mStore->writeLayer("default", "org.other", std::to_string(i));
        std::this_thread::sleep_for(milliseconds(5));
    }
    ASSERT_TRUE(first.waitFor(1));
    std::this_thread::sleep_for(kSettle);
    for (Recorder* recorder : {&first, &second}) {
        ASSERT_EQ(recorder->seen().size(), 1u);
        EXPECT_EQ(recorder->seen()[0].type, PAPIEventComponentModified);
    }
    ASSERT_EQ(other.seen().size(), 1u);
    EXPECT_EQ(other.seen()[0].type, PAPIEventComponentAdded);
    EXPECT_EQ(other.seen()[0].component, "org.other");
    EXPECT_TRUE(unrelated.seen().empty());
    PAPIStatus status = -1;
    papiDeinitialise(handle, &status);
}

TEST_P(PolicyBehaviourTest, SteadyStreamOfWritesStillGetsAnEventWithinASecond) {
    PAPI* handle = open();
    Recorder recorder;
    listen(handle, recorder, kComponent);
    const Clock::time_point start = Clock::now();
    std::atomic<bool> writing{true};
    std::thread writer([&] {
        for (int i = 0; writing && i < 100; ++i) {
            mStore->writeLayer("default", kComponent, std::to_string(i));
            std::this_thread::sleep_for(milliseconds(40));
        }
    });
    const bool arrived = recorder.waitFor(1, milliseconds(3000));
    writing = false;
    writer.join();
    ASSERT_TRUE(arrived);
    EXPECT_LT(recorder.seen()[0].at - start, milliseconds(1200));
    PAPIStatus status = -1;
    papiDeinitialise(handle, &status);
}

TEST_P(PolicyBehaviourTest, CallbackMayReadRemoveItselfAndCloseTheHandle) {
    mStore->writeLayer("default", kComponent, "old");
    PAPI* handle = open();
    Recorder reader;
    Recorder remover;
    Recorder closer;
    std::string readInside;
    reader.mThen = [&](const PAPIEvent*) {
        PAPIStatus status = -1;
        PAPILayerEntry* layers = papiReadComponentLayers(handle, kComponent, &status);
        if (layers != nullptr) {
            readInside.assign(layers->data, static_cast<size_t>(layers->size));
        }
        papiFreeLayerList(layers);
    };
    std::atomic<PAPIListenerId> removerId{nullptr};
    remover.mThen = [&](const PAPIEvent*) {
        PAPIStatus status = -1;
        papiRemoveListener(handle, removerId, &status);
        EXPECT_EQ(status, PAPISuccess);
    };
    listen(handle, reader, kComponent);
    removerId = listen(handle, remover, kComponent);

    mStore->writeLayer("default", kComponent, "new");
    ASSERT_TRUE(remover.waitFor(1));
    ASSERT_TRUE(reader.waitFor(1));
    EXPECT_EQ(readInside, "new");

    // The handle closes from inside the callback; nothing arrives after it.
    closer.mThen = [&](const PAPIEvent*) {
        PAPIStatus status = -1;
        papiDeinitialise(handle, &status);
        EXPECT_EQ(status, PAPISuccess);
    };
    listen(handle, closer, kComponent);
    mStore->writeLayer("default", kComponent, "newer");
    ASSERT_TRUE(closer.waitFor(1));
    mStore->writeLayer("default", kComponent, "newest");
    std::this_thread::sleep_for(kSettle);
    EXPECT_EQ(remover.seen().size(), 1u);
    EXPECT_EQ(closer.seen().size(), 1u);
    EXPECT_LE(reader.seen().size(), 2u);
    PAPIStatus status = -1;
    papiReadComponentLayers(handle, kComponent, &status);
    EXPECT_EQ(status, PAPIInvalidArg);
}

TEST_P(PolicyBehaviourTest, RemoveListenerWaitsForItsCallbackInProgress) {
    PAPI* handle = open();
    Recorder recorder;
    std::atomic<bool> finished{false};
    recorder.mThen = [&](const PAPIEvent*) {
        std::this_thread::sleep_for(milliseconds(300));
        finished = true;
    };
    PAPIListenerId id = listen(handle, recorder, kComponent);
    mStore->writeLayer("default", kComponent, "x");
    ASSERT_TRUE(recorder.waitEntered(1));
    PAPIStatus status = -1;
    papiRemoveListener(handle, id, &status);
    EXPECT_EQ(status, PAPISuccess);
    EXPECT_TRUE(finished);
    papiDeinitialise(handle, &status);
    EXPECT_EQ(status, PAPISuccess);
}

}  // namespace vesk::legacy::store::test
