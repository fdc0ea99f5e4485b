// SPDX-License-Identifier: LGPL-2.1-or-later
// The facade on the real policy store: a layer file edited on disk reaches a
// registered listener through the store's watcher thread.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <thread>

#include "Recorder.h"
#include "SyslogSeam.h"
#include "TestFiles.h"

namespace fs = std::filesystem;

namespace {

class LiveChangeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(mStore / "default");
        setenv("VESK_POLICY_STORE", mStore.c_str(), 1);
    }
    void TearDown() override {
        unsetenv("VESK_POLICY_STORE");
        setenv("HOLLIN_CACHE_DIR", "off", 1);
    }
    static std::string layerText(const std::string& value) {
        return "<zel:component-data zel:name=\"live\"><node zel:name=\"a\"><prop "
               "zel:name=\"p\"><value>" +
               value + "</value></prop></node></zel:component-data>";
    }
    // Made beside and renamed into place, as editors do.
    void placeLayer(const std::function<void(const fs::path&)>& make) {
        make(mStore / "default" / ".tmp");
        fs::rename(mStore / "default" / ".tmp", mLayer);
    }
    void writeLayer(const std::string& value) {
        placeLayer([&](const fs::path& path) { std::ofstream(path) << layerText(value); });
    }
    testsupport::TempDir mScratch{"hollin-live"};
    const fs::path mStore = mScratch.path, mLayer = mStore / "default" / "live.xml";
};

TEST_F(LiveChangeTest, EditReachesListenerAndBrokenLayerKeepsOldTree) {
    writeLayer("one");
    ConfigurationAccess access;
    EXPECT_EQ(access.getStringValue("live/a/p"), "one");
    Recorder listener(access, "live/a/p");
    access.addListener(NodePath("live", {"a"}), &listener);

    writeLayer("two");
    EXPECT_EQ(listener.take(2), (Lines{"changed live/a/p=two", "changed live/a=two"}));

    // A FIFO in the layer's place cannot be read; a layer cut short or with a
    // Latin-1 byte is a failed read too: the old tree stays, with one error
    // naming the layer and, for a broken one, where it breaks. Each is put in
    // place by a rename, so the layer is never missing meanwhile.
    const std::function<void(const fs::path&)> breakers[] = {
        [](const fs::path& path) { ASSERT_EQ(mkfifo(path.c_str(), 0644), 0); },
        [](const fs::path& path) { std::ofstream(path) << layerText("three").substr(0, 90); },
        [](const fs::path& path) { std::ofstream(path) << layerText("caf\xe9"); },
    };
    for (const auto& breakLayer : breakers) {
        syslogseam::clear();
        placeLayer(breakLayer);
        ASSERT_TRUE(testsupport::waitUntil([] { return !syslogseam::messages().empty(); }));
        EXPECT_EQ(access.getStringValue("live/a/p"), "two");
        EXPECT_EQ(listener.take(), Lines());
        ASSERT_EQ(syslogseam::messages().size(), 1u) << syslogseam::text();
        EXPECT_NE(syslogseam::text().find("Keeping the previous configuration of live"),
                  std::string::npos);
    }
    EXPECT_NE(syslogseam::text().find("layer default "), std::string::npos);
    EXPECT_NE(syslogseam::text().find(", column "), std::string::npos);

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
    // Mended to other policy, or to the policy of the copy: no node changes
    // then, and the listener still hears that the read is complete.
    const Lines mendedLines{"changed live/a/p=mended", "changed live/a=mended"};
    const struct {
        const char* name;
        std::function<void(const fs::path&)> breakLayer;
        const char* mended;
    } cases[] = {
        {"truncated",
         [](const fs::path& path) { std::ofstream(path) << layerText("new").substr(0, 90); },
         "mended"},
        {"Latin-1 byte", [](const fs::path& path) { std::ofstream(path) << layerText("caf\xe9"); },
         "kept"},
        {"unreadable", [](const fs::path& path) { ASSERT_EQ(mkfifo(path.c_str(), 0644), 0); },
         "kept"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        placeLayer(c.breakLayer);
        syslogseam::clear();
        ConfigurationAccess access;
        EXPECT_EQ(access.getStringValue("live/a/p"), "kept");
        EXPECT_FALSE(access.isComplete("live"));
        EXPECT_NE(syslogseam::text().find("served from the copy in " + (mStore / "cache").string()),
                  std::string::npos)
            << syslogseam::text();
        Recorder listener(access, "live/a/p");
        access.addListener(NodePath("live", {"a"}), &listener);
        writeLayer(c.mended);
        EXPECT_EQ(listener.completes(1), 1u);
        EXPECT_EQ(listener.outcomes(), Lines{"complete served"});
        EXPECT_EQ(listener.take(), c.mended == std::string("kept") ? Lines() : mendedLines);
        EXPECT_TRUE(access.isComplete("live"));
        access.removeListener(NodePath("live", {"a"}), &listener);
        writeLayer("kept");
        EXPECT_TRUE(ConfigurationAccess().isComplete("live"));
    }
}

// A store that is not there at the start: the kept copy is served, and the
// store's return reaches the listener without a new facade.
TEST_F(LiveChangeTest, StoreMissingAtStartServesTheKeptCopyUntilItReturns) {
    const fs::path cache = mStore.string() + ".cache", away = mStore.string() + ".away";
    setenv("HOLLIN_CACHE_DIR", cache.c_str(), 1);
    // The store comes back with other policy, or with the policy of the copy.
    for (const std::string returned : {"back", "kept"}) {
        SCOPED_TRACE(returned);
        writeLayer("kept");
        EXPECT_TRUE(ConfigurationAccess().isComplete("live"));
        writeLayer(returned);
        fs::rename(mStore, away);
        // libvesk opens a store that is not there yet.
        auto access = std::make_unique<ConfigurationAccess>();
        EXPECT_EQ(access->getStringValue("live/a/p"), "kept");
        EXPECT_FALSE(access->isComplete("live"));
        Recorder listener(*access, "live/a/p");
        access->addListener(NodePath("live", {"a"}), &listener);
        fs::rename(away, mStore);
        EXPECT_EQ(listener.completes(1), 1u);
        const Lines back{"changed live/a/p=back", "changed live/a=back"};
        EXPECT_EQ(listener.take(), returned == "kept" ? Lines() : back);
        EXPECT_TRUE(access->isComplete("live"));
        access->removeListener(NodePath("live", {"a"}), &listener);
        access.reset();  // the copy of the change is written by now
    }
    fs::remove_all(cache);
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
