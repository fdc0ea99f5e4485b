// The facade on the real policy store: a layer file edited on disk reaches a
// registered listener through the store's watcher thread.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
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
    static std::string layerText(const std::string& value) {
        return "<zel:component-data zel:name=\"live\"><node zel:name=\"a\"><prop "
               "zel:name=\"p\"><value>" +
               value + "</value></prop></node></zel:component-data>";
    }
    // Written beside and renamed into place, as editors do.
    void writeLayer(const std::string& value) {
        std::ofstream(mStore / "default" / ".tmp") << layerText(value);
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

    // A layer cut short or with a Latin-1 byte is a failed read too: one
    // error naming the layer and where it breaks, and the old tree stays.
    fs::remove(mLayer);
    for (const std::string& broken : {layerText("three").substr(0, 90), layerText("caf\xe9")}) {
        syslogseam::clear();
        std::ofstream(mStore / "default" / ".tmp") << broken;
        fs::rename(mStore / "default" / ".tmp", mLayer);
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        EXPECT_EQ(access.getStringValue("live/a/p"), "two");
        EXPECT_EQ(listener.take(), Lines());
        ASSERT_EQ(syslogseam::messages().size(), 1u) << syslogseam::text();
        EXPECT_NE(syslogseam::text().find("layer default "), std::string::npos);
        EXPECT_NE(syslogseam::text().find(", column "), std::string::npos);
    }

    // The next good edit is compared with the tree kept before.
    writeLayer("three");
    EXPECT_EQ(listener.take(2), (Lines{"changed live/a/p=three", "changed live/a=three"}));
    access.removeListener(NodePath("live", {"a"}), &listener);
}

// A process that starts while a layer cannot be read in full serves the copy
// kept by the last one that read it whole, and hears when the layer is mended.
TEST_F(LiveChangeTest, StartWithABrokenLayerServesTheKeptCopyUntilItIsMended) {
    setenv("HOLLIN_CACHE_DIR", (mStore / "cache").c_str(), 1);
    writeLayer("kept");
    EXPECT_TRUE(ConfigurationAccess().isComplete("live"));
    const struct {
        const char* name;
        std::function<void()> breakLayer;
    } cases[] = {
        {"truncated", [&] { std::ofstream(mLayer) << layerText("new").substr(0, 90); }},
        {"Latin-1 byte", [&] { std::ofstream(mLayer) << layerText("caf\xe9"); }},
        {"unreadable", [&] { fs::remove(mLayer), fs::create_directory(mLayer); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        c.breakLayer();
        syslogseam::clear();
        ConfigurationAccess access;
        EXPECT_EQ(access.getStringValue("live/a/p"), "kept");
        EXPECT_FALSE(access.isComplete("live"));
        EXPECT_NE(syslogseam::text().find("served from the copy in " + (mStore / "cache").string()),
                  std::string::npos)
            << syslogseam::text();
        Recorder listener(access, "live/a/p");
        access.addListener(NodePath("live", {"a"}), &listener);
        fs::remove_all(mLayer);
        writeLayer("mended");
        EXPECT_EQ(listener.take(2), (Lines{"changed live/a/p=mended", "changed live/a=mended"}));
        EXPECT_TRUE(access.isComplete("live"));
        access.removeListener(NodePath("live", {"a"}), &listener);
        writeLayer("kept");
        EXPECT_TRUE(ConfigurationAccess().isComplete("live"));
    }
    unsetenv("HOLLIN_CACHE_DIR");
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
