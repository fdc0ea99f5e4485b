// The record and the session list in memory, against a scratch HOME: what a
// run of the program cannot show from outside (a disk that fills up while the
// list is saved, keys that are read or left alone).
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "PluginCommands.h"
#include "SessionConfig.h"
#include "StartlistRun.h"
#include "StartupConstants.h"
#include "StartupPlugin.h"
#include "gnome2-io.h"
#include "gnome2/gnome-config.h"
#include "model/Logger.h"

namespace {

using namespace vesk::legacy::plugins::startup;
using startlist_test::fixture;
using startlist_test::readFile;
using startlist_test::writeFile;

class SessionListTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char name[] = "/tmp/startlist-unit-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        mHome = name;
        setenv("HOME", mHome.c_str(), 1);
        std::filesystem::create_directories(mHome + "/.gnome2");
        gnome_config_drop_all();
        gnome2_io_hooks_reset();
    }

    void TearDown() override {
        gnome2_io_hooks_reset();
        gnome_config_drop_all();
        std::filesystem::remove_all(mHome);
    }

    std::string sessionPath() const { return mHome + "/.gnome2/session-manual"; }

    static bool has(const std::string& path) {
        std::string ignored;
        return readConfigString(path, ignored);
    }

    std::string mHome;
};

TEST_F(SessionListTest, ReadingTheRecordTakesOnlyItsOwnKeys) {
    writeFile(sessionPath(),
              "[MERX]\nnum_items=3\n0,command=x \n2,command=y \n3,command=beyond the count\n"
              "01,command=not a number of ours\n1,other=z\n");
    PluginCommands record;
    record.readCommands(kMERX);
    EXPECT_TRUE(record.isCommand("x "));
    EXPECT_TRUE(record.isCommand("y "));
    EXPECT_FALSE(record.isCommand("beyond the count"));
    EXPECT_FALSE(record.isCommand("not a number of ours"));

    EXPECT_FALSE(has("session-manual/MERX/num_items"));
    EXPECT_FALSE(has("session-manual/MERX/0,command"));
    EXPECT_FALSE(has("session-manual/MERX/2,command"));
    EXPECT_TRUE(has("session-manual/MERX/3,command"));
    EXPECT_TRUE(has("session-manual/MERX/01,command"));
    EXPECT_TRUE(has("session-manual/MERX/1,other"));
}

TEST_F(SessionListTest, TheRecordIsWrittenInByteOrderOncePerOccurrence) {
    PluginCommands record;
    for (const char* command : {"b ", "a ", "b ", "B "}) {
        record.addCommand(command);
    }
    record.writeCommands(kMERX);
    ASSERT_TRUE(gnome_config_sync());
    EXPECT_EQ(readFile(sessionPath()),
              "[MERX]\n0,command=B \n1,command=a \n2,command=b \n3,command=b \nnum_items=4\n");

    // A record whose occurrences were all consumed writes nothing at all.
    gnome_config_drop_all();
    std::filesystem::remove(sessionPath());
    PluginCommands used;
    used.addCommand("a ");
    ASSERT_TRUE(used.isCommand("a "));
    used.writeCommands(kMERX);
    EXPECT_TRUE(gnome_config_sync());
    EXPECT_FALSE(std::filesystem::exists(sessionPath()));
}

TEST(SessionKeys, OnlyNumbersAsPercentDWritesThemBelongToAnEntry) {
    const struct {
        const char* key;
        bool ok;
        int number;
        const char* suffix;
    } cases[] = {
        {"0,RestartCommand", true, 0, ",RestartCommand"},
        {"12,Comment[de]", true, 12, ",Comment[de]"},
        {"2147483647,x", true, 2147483647, ",x"},
        {"2147483648,x", false, 0, ""},
        {"99999999999999999999,x", false, 0, ""},
        {"01,x", false, 0, ""},
        {"-1,x", false, 0, ""},
        {"+1,x", false, 0, ""},
        {"1x,y", false, 0, ""},
        {",x", false, 0, ""},
        {"1", false, 0, ""},
        {"num_clients", false, 0, ""},
    };
    for (const auto& c : cases) {
        int number = -5;
        std::string suffix;
        EXPECT_EQ(splitNumberedKey(c.key, number, suffix), c.ok) << c.key;
        if (c.ok) {
            EXPECT_EQ(number, c.number) << c.key;
            EXPECT_EQ(suffix, c.suffix) << c.key;
        }
    }
}

ssize_t diskFull(int, const void*, size_t) {
    errno = ENOSPC;
    return -1;
}

// The list is saved when the disk is full: the old file stays byte for byte,
// the failure is logged, and the changes stay unsaved rather than half written.
TEST_F(SessionListTest, AFullDiskLeavesTheOldFileAndIsLogged) {
    const std::string before = fixture("three-entries-one-ours");
    writeFile(sessionPath(), before);
    setenv("VESKLEG_LOG", "1", 1);
    vesk::legacy::Logger::initialise("startlist-test");
    gnome2_io_hooks.write = diskFull;

    StartupPlugin plugin(0, nullptr);
    plugin.readSessionEntries();
    testing::internal::CaptureStderr();
    plugin.writeSessionEntries();
    const std::string errors = testing::internal::GetCapturedStderr();

    vesk::legacy::Logger::uninitialise();
    unsetenv("VESKLEG_LOG");
    EXPECT_EQ(readFile(sessionPath()), before);
    EXPECT_NE(errors.find("The session list could not be saved"), std::string::npos) << errors;
    for (const auto& entry : std::filesystem::directory_iterator(mHome + "/.gnome2")) {
        EXPECT_EQ(entry.path().filename(), "session-manual") << "temporary file left";
    }
}

}  // namespace
