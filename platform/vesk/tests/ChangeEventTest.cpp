// Live change events: files written, replaced and removed in the store reach
// the listeners of their component, once per burst and within a second.
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "TestStore.h"

namespace vesk::legacy::store::test {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

const char kComponent[] = "com.orvek.ferrun.applications";
// Long enough for any event that is coming to have come (quiet 100 ms, cap 1 s).
const milliseconds kSettle(1500);

// Collects the events of one listener.
struct Recorder {
    struct Seen {
        int type;
        std::string component;
        Clock::time_point at;
    };

    // Counts the call on entry, runs mThen, and records the event when done.
    static void record(const PAPIEvent* event, void* data) {
        auto* self = static_cast<Recorder*>(data);
        const Clock::time_point at = Clock::now();
        ++self->mEntered;
        if (self->mThen) {
            self->mThen(event);
        }
        // Notified under the lock: the recorder may go as soon as a waiter sees it.
        std::lock_guard<std::mutex> lock(self->mMutex);
        self->mSeen.push_back(Seen{event->type, event->component, at});
        self->mChanged.notify_all();
    }

    bool waitEntered(int count) {
        for (int i = 0; i < 500 && mEntered < count; ++i) {
            std::this_thread::sleep_for(milliseconds(10));
        }
        return mEntered >= count;
    }

    bool waitFor(size_t count, milliseconds timeout = milliseconds(5000)) {
        std::unique_lock<std::mutex> lock(mMutex);
        return mChanged.wait_for(lock, timeout, [&] { return mSeen.size() >= count; });
    }

    std::vector<Seen> seen() {
        std::lock_guard<std::mutex> lock(mMutex);
        return mSeen;
    }

    std::function<void(const PAPIEvent*)> mThen;  // runs inside the callback
    std::atomic<int> mEntered{0};
    std::mutex mMutex;
    std::condition_variable mChanged;
    std::vector<Seen> mSeen;
};

class ChangeEventTest : public TestStore {
  protected:
    void SetUp() override {
        TestStore::SetUp();
        mUserScope = "users/" + userName();
    }

    PAPI* open() {
        PAPIStatus status = -1;
        PAPI* handle = papiInitialise("", &status);
        EXPECT_EQ(status, PAPISuccess);
        return handle;
    }

    PAPIListenerId listen(PAPI* handle, Recorder& recorder,
                          const std::string& component = kComponent) {
        PAPIStatus status = -1;
        PAPIListenerId id =
            papiAddListener(handle, component.c_str(), Recorder::record, &recorder, &status);
        EXPECT_EQ(status, PAPISuccess);
        EXPECT_NE(id, nullptr);
        return id;
    }

    std::string mUserScope;
};

TEST_F(ChangeEventTest, EachKindOfChangeArrivesWithinASecondWithItsType) {
    struct Step {
        const char* what;
        std::function<void()> change;
        int type;
    };
    const std::vector<Step> steps{
        {"first layer appears", [this] { writeLayer("default", kComponent, "1"); },
         PAPIEventComponentAdded},
        {"layer rewritten in place", [this] { writeLayer("default", kComponent, "2", -1); },
         PAPIEventComponentModified},
        {"second layer renamed into place", [this] { replaceLayer(mUserScope, kComponent, "3"); },
         PAPIEventComponentModified},
        {"one of two layers removed", [this] { removeLayer("default", kComponent); },
         PAPIEventComponentModified},
        {"last layer removed", [this] { removeLayer(mUserScope, kComponent); },
         PAPIEventComponentRemoved},
    };
    PAPI* handle = open();
    Recorder recorder;
    listen(handle, recorder);
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

TEST_F(ChangeEventTest, BurstGivesOneEventPerComponentAndOnlyToItsListeners) {
    writeLayer("default", kComponent, "0");
    PAPI* handle = open();
    Recorder first;
    Recorder second;
    Recorder other;
    Recorder unrelated;
    listen(handle, first);
    listen(handle, second);
    listen(handle, other, "org.other");
    listen(handle, unrelated, "org.unrelated");
    for (int i = 1; i <= 10; ++i) {
        writeLayer("default", kComponent, std::to_string(i), -1);
        writeLayer("default", "org.other", std::to_string(i), -1);
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

TEST_F(ChangeEventTest, SteadyStreamOfWritesStillGetsAnEventWithinASecond) {
    PAPI* handle = open();
    Recorder recorder;
    listen(handle, recorder);
    const Clock::time_point start = Clock::now();
    std::atomic<bool> writing{true};
    std::thread writer([&] {
        for (int i = 0; writing && i < 100; ++i) {
            writeLayer("default", kComponent, std::to_string(i), -1);
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

TEST_F(ChangeEventTest, HalfWrittenFileIsNotReportedBeforeItIsClosed) {
    makeFolder("default");
    PAPI* handle = open();
    Recorder recorder;
    listen(handle, recorder);
    const int fd = ::open(path(std::string("default/") + kComponent + ".xml").c_str(),
                          O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, "<half", 5), 5);
    EXPECT_FALSE(recorder.waitFor(1, milliseconds(400)));
    ASSERT_EQ(write(fd, "/>", 2), 2);
    const Clock::time_point closed = Clock::now();
    ASSERT_EQ(close(fd), 0);
    ASSERT_TRUE(recorder.waitFor(1));
    EXPECT_EQ(recorder.seen()[0].type, PAPIEventComponentAdded);
    EXPECT_LT(recorder.seen()[0].at - closed, milliseconds(1000));
    PAPIStatus status = -1;
    papiDeinitialise(handle, &status);
}

TEST_F(ChangeEventTest, ScopeFoldersCreatedDeletedAndRecreatedLaterAreWatched) {
    // Neither users/ nor the user's folder exists when the listener starts.
    writeLayer("default", kComponent, "<default/>");
    PAPI* handle = open();
    Recorder recorder;
    listen(handle, recorder);

    makeFolder(mUserScope);
    std::this_thread::sleep_for(milliseconds(200));
    const Clock::time_point written = Clock::now();
    writeLayer(mUserScope, kComponent, "<user/>");
    ASSERT_TRUE(recorder.waitFor(1));
    EXPECT_EQ(recorder.seen()[0].type, PAPIEventComponentModified);
    EXPECT_LT(recorder.seen()[0].at - written, milliseconds(1000));

    removeTree("users");
    ASSERT_TRUE(recorder.waitFor(2));
    std::this_thread::sleep_for(milliseconds(200));
    // Folder and file in one go: the file may land before its folder is watched.
    writeLayer(mUserScope, kComponent, "<user again/>");
    ASSERT_TRUE(recorder.waitFor(3));

    // The whole store swapped for a new one, as a deployment would: nothing
    // while it is gone (readers would only get errors), an event once it is back.
    ASSERT_EQ(rename(mRoot.c_str(), (mTemp + "/old").c_str()), 0);
    std::this_thread::sleep_for(milliseconds(200));
    writeLayer("default", kComponent, "<new default/>");
    ASSERT_TRUE(recorder.waitFor(4));
    std::this_thread::sleep_for(kSettle);
    const std::vector<Recorder::Seen> seen = recorder.seen();
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[3].type, PAPIEventComponentModified);
    PAPIStatus status = -1;
    papiDeinitialise(handle, &status);
}

TEST_F(ChangeEventTest, CallbackMayReadRemoveItselfAndCloseTheHandle) {
    writeLayer("default", kComponent, "old");
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
    listen(handle, reader);
    removerId = listen(handle, remover);

    writeLayer("default", kComponent, "new", -1);
    ASSERT_TRUE(remover.waitFor(1));
    ASSERT_TRUE(reader.waitFor(1));
    EXPECT_EQ(readInside, "new");

    // The handle closes from inside the callback; nothing arrives after it.
    closer.mThen = [&](const PAPIEvent*) {
        PAPIStatus status = -1;
        papiDeinitialise(handle, &status);
        EXPECT_EQ(status, PAPISuccess);
    };
    listen(handle, closer);
    writeLayer("default", kComponent, "newer", -1);
    ASSERT_TRUE(closer.waitFor(1));
    writeLayer("default", kComponent, "newest", -1);
    std::this_thread::sleep_for(kSettle);
    EXPECT_EQ(remover.seen().size(), 1u);
    EXPECT_EQ(closer.seen().size(), 1u);
    EXPECT_LE(reader.seen().size(), 2u);
    PAPIStatus status = -1;
    papiReadComponentLayers(handle, kComponent, &status);
    EXPECT_EQ(status, PAPIInvalidArg);
}

TEST_F(ChangeEventTest, RemoveListenerWaitsForItsCallbackInProgress) {
    PAPI* handle = open();
    Recorder recorder;
    std::atomic<bool> finished{false};
    recorder.mThen = [&](const PAPIEvent*) {
        std::this_thread::sleep_for(milliseconds(300));
        finished = true;
    };
    PAPIListenerId id = listen(handle, recorder);
    writeLayer("default", kComponent, "x");
    ASSERT_TRUE(recorder.waitEntered(1));
    PAPIStatus status = -1;
    papiRemoveListener(handle, id, &status);
    EXPECT_EQ(status, PAPISuccess);
    EXPECT_TRUE(finished);
    papiDeinitialise(handle, &status);
    EXPECT_EQ(status, PAPISuccess);
}

TEST_F(ChangeEventTest, ListenerThatCannotBeWatchedFailsWithAStatus) {
    const int result = runInChild([this] {
        PAPI* handle = open();
        // No descriptor left for the inotify instance.
        struct rlimit saved;
        getrlimit(RLIMIT_NOFILE, &saved);
        const int next = dup(0);
        close(next);
        struct rlimit none = saved;
        none.rlim_cur = static_cast<rlim_t>(next);
        setrlimit(RLIMIT_NOFILE, &none);
        Recorder recorder;
        PAPIStatus failed = -1;
        PAPIListenerId id =
            papiAddListener(handle, kComponent, Recorder::record, &recorder, &failed);
        setrlimit(RLIMIT_NOFILE, &saved);
        if (id != nullptr) {
            return 98;
        }
        // Nothing was left half set up: the next try works.
        PAPIStatus retried = -1;
        id = papiAddListener(handle, kComponent, Recorder::record, &recorder, &retried);
        PAPIStatus closed = -1;
        papiDeinitialise(handle, &closed);
        return retried == PAPISuccess && closed == PAPISuccess ? failed : 97;
    });
    EXPECT_EQ(result, PAPIUnknownFailure);
}

TEST_F(ChangeEventTest, ProcessExitingWithOpenHandlesNeitherCrashesNorHangs) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const auto exitWhile = [this](bool inCallback) {
        PAPI* handle = open();
        Recorder recorder;
        recorder.mThen = [&](const PAPIEvent*) {
            if (inCallback) {
                std::this_thread::sleep_for(milliseconds(200));
            }
        };
        listen(handle, recorder);
        writeLayer("default", kComponent, "x");
        recorder.waitEntered(1);
        TearDown();  // the store of this child; exit skips the fixture's own
        std::exit(0);
    };
    const Clock::time_point start = Clock::now();
    EXPECT_EXIT(exitWhile(false), ::testing::ExitedWithCode(0), "");
    EXPECT_EXIT(exitWhile(true), ::testing::ExitedWithCode(0), "");
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
}

}  // namespace
}  // namespace vesk::legacy::store::test
