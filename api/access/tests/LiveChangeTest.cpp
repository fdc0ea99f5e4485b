// The facade on the real policy store: a layer file edited on disk reaches a
// registered listener through the store's watcher thread.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "access/ConfigurationAccess.h"
#include "change/INodeListener.h"
#include "model/NodePath.h"

using namespace vesk::legacy;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

std::string layer(const std::string& value) {
    return "<zel:component-data zel:name=\"live\"><node zel:name=\"a\">"
           "<prop zel:name=\"p\"><value>" +
           value + "</value></prop></node></zel:component-data>";
}

// Waits for notifications on the watcher thread; records paths and what the
// facade answered during each call.
class Waiter : public INodeListener {
  public:
    explicit Waiter(ConfigurationAccess& access) : mAccess(access) {}
    void onNodeAdded(const NodePath& path) override { record(path); }
    void onNodeRemoved(const NodePath& path) override { record(path); }
    void onNodeChanged(const NodePath& path) override { record(path); }

    // Waits until count calls arrived; returns false on timeout.
    bool waitFor(size_t count, std::chrono::seconds timeout = std::chrono::seconds(10)) {
        std::unique_lock<std::mutex> lock(mMutex);
        return mCond.wait_for(lock, timeout, [&] { return mPaths.size() >= count; });
    }
    std::vector<std::string> paths() {
        std::lock_guard<std::mutex> lock(mMutex);
        return mPaths;
    }
    std::vector<std::string> seen() {
        std::lock_guard<std::mutex> lock(mMutex);
        return mSeen;
    }
    void clear() {
        std::lock_guard<std::mutex> lock(mMutex);
        mPaths.clear();
        mSeen.clear();
    }

  private:
    void record(const NodePath& path) {
        std::string value = mAccess.getStringValue("live/a/p");
        std::lock_guard<std::mutex> lock(mMutex);
        mPaths.push_back(path.getComponent() + path.getPath());
        mSeen.push_back(value);
        mCond.notify_all();
    }
    ConfigurationAccess& mAccess;
    std::mutex mMutex;
    std::condition_variable mCond;
    std::vector<std::string> mPaths;
    std::vector<std::string> mSeen;
};

class LiveChangeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/hollin-live-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        mStore = pattern;
        fs::create_directories(mStore / "default");
        setenv("VESK_POLICY_STORE", mStore.c_str(), 1);
    }
    void TearDown() override {
        unsetenv("VESK_POLICY_STORE");
        fs::remove_all(mStore);
    }
    // Written beside and renamed into place, as editors do.
    void writeLayer(const std::string& text) {
        fs::path tmp = mStore / "default" / ".live.xml.tmp";
        std::ofstream(tmp) << text;
        fs::rename(tmp, layerFile());
    }
    fs::path layerFile() const { return mStore / "default" / "live.xml"; }
    fs::path mStore;
};

TEST_F(LiveChangeTest, EditReachesListenerWithinASecondAndBrokenLayerKeepsOldTree) {
    writeLayer(layer("one"));
    ConfigurationAccess access;
    EXPECT_EQ(access.getStringValue("live/a/p"), "one");
    Waiter waiter(access);
    NodePath path;
    path.setPath("live/a");
    access.addListener(path, &waiter);

    Clock::time_point start = Clock::now();
    writeLayer(layer("two"));
    ASSERT_TRUE(waiter.waitFor(2));
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(1));
    EXPECT_EQ(waiter.paths(), (std::vector<std::string>{"live/a/p", "live/a"}));
    EXPECT_EQ(waiter.seen(), (std::vector<std::string>{"two", "two"}));

    // A directory in the layer's place cannot be read: the old tree stays.
    waiter.clear();
    fs::remove(layerFile());
    fs::create_directory(layerFile());
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    EXPECT_EQ(access.getStringValue("live/a/p"), "two");
    EXPECT_TRUE(waiter.paths().empty());

    // The next good edit is compared with the tree kept before.
    fs::remove(layerFile());
    writeLayer(layer("three"));
    ASSERT_TRUE(waiter.waitFor(2));
    EXPECT_EQ(waiter.paths(), (std::vector<std::string>{"live/a/p", "live/a"}));
    EXPECT_EQ(access.getStringValue("live/a/p"), "three");
    access.removeListener(path, &waiter);
}

}  // namespace

namespace {

// The default facade lives in a static and releases its shared connection
// while the process exits; that must not touch anything already destroyed.
TEST_F(LiveChangeTest, ProcessUsingTheDefaultFacadeExitsCleanly) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    writeLayer(layer("one"));
    EXPECT_EXIT(
        {
            NodePath path;
            path.setPath("live/a");
            Waiter waiter(ConfigurationAccess::defaultInstance());
            ConfigurationAccess::defaultInstance().addListener(path, &waiter);
            bool ok = ConfigurationAccess::defaultInstance().getStringValue("live/a/p") == "one";
            ConfigurationAccess::defaultInstance().removeListener(path, &waiter);
            std::exit(ok ? 0 : 3);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
