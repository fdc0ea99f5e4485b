// The facade on the real policy store: a layer file edited on disk reaches a
// registered listener through the store's watcher thread.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "Recorder.h"
#include "SyslogSeam.h"

namespace fs = std::filesystem;

namespace {

class LiveChangeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/hollin-live-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        mStore = pattern;
        mLayer = mStore / "default" / "live.xml";
        fs::create_directories(mStore / "default");
        setenv("VESK_POLICY_STORE", mStore.c_str(), 1);
    }
    void TearDown() override {
        unsetenv("VESK_POLICY_STORE");
        fs::remove_all(mStore);
    }
    // Written beside and renamed into place, as editors do.
    void writeLayer(const std::string& value) {
        std::ofstream(mStore / "default" / ".tmp")
            << "<zel:component-data zel:name=\"live\"><node zel:name=\"a\"><prop zel:name=\"p\">"
               "<value>"
            << value << "</value></prop></node></zel:component-data>";
        fs::rename(mStore / "default" / ".tmp", mLayer);
    }
    fs::path mStore, mLayer;
};

TEST_F(LiveChangeTest, EditReachesListenerWithinASecondAndBrokenLayerKeepsOldTree) {
    writeLayer("one");
    ConfigurationAccess access;
    EXPECT_EQ(access.getStringValue("live/a/p"), "one");
    Recorder listener(access, "live/a/p");
    access.addListener(NodePath("live", {"a"}), &listener);

    const auto start = std::chrono::steady_clock::now();
    writeLayer("two");
    EXPECT_EQ(listener.take(2), (Lines{"changed live/a/p=two", "changed live/a=two"}));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));

    // A directory in the layer's place cannot be read: the old tree stays.
    syslogseam::clear();
    fs::remove(mLayer);
    fs::create_directory(mLayer);
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    EXPECT_EQ(access.getStringValue("live/a/p"), "two");
    EXPECT_EQ(listener.take(), Lines());
    EXPECT_EQ(syslogseam::messages().size(), 1u) << syslogseam::text();

    // The next good edit is compared with the tree kept before.
    fs::remove(mLayer);
    writeLayer("three");
    EXPECT_EQ(listener.take(2), (Lines{"changed live/a/p=three", "changed live/a=three"}));
    access.removeListener(NodePath("live", {"a"}), &listener);
}

// The default facade lives in a static and releases its shared connection
// while the process exits; that must not touch anything already destroyed.
TEST_F(LiveChangeTest, ProcessUsingTheDefaultFacadeExitsCleanly) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    writeLayer("one");
    EXPECT_EXIT(
        {
            ConfigurationAccess& access = ConfigurationAccess::defaultInstance();
            Recorder listener(access, "live/a/p");
            access.addListener(NodePath("live", {"a"}), &listener);
            const bool ok = access.getStringValue("live/a/p") == "one";
            access.removeListener(NodePath("live", {"a"}), &listener);
            std::exit(ok ? 0 : 3);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
