// Live change events of the file store that only files have: half-written
// files, scope folders that come and go, the inotify instance that cannot be
// had. What every backend does alike is in PolicyBehaviourTest.
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

using std::chrono::milliseconds;

const char kComponent[] = "com.orvek.ferrun.applications";
// Long enough for any event that is coming to have come (quiet 100 ms, cap 1 s).
const milliseconds kSettle(1500);

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
