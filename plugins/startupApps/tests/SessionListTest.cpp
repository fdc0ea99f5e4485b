// The record and the session list in memory, in a scratch HOME: what a run of
// the program cannot show (a disk that fills up, which record keys are taken).
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>

#include "PluginCommands.h"
#include "SessionConfig.h"
#include "StartupConstants.h"
#include "StartupPlugin.h"
#include "TestFiles.h"
#include "gnome2-io.h"
#include "gnome2/gnome-config.h"
#include "model/Logger.h"

namespace {

using namespace vesk::legacy::plugins::startup;
namespace fs = std::filesystem;

class SessionListTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char name[] = "/tmp/startlist-unit-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        mHome = name;
        setenv("HOME", mHome.c_str(), 1);
        fs::create_directories(mHome + "/.gnome2");
        gnome_config_drop_all();
    }
    void TearDown() override {
        gnome2_io_hooks_reset();
        gnome_config_drop_all();
        fs::remove_all(mHome);
    }
    std::string session() const { return mHome + "/.gnome2/session-manual"; }

    std::string mHome;
};

TEST_F(SessionListTest, ReadingTheRecordTakesOnlyItsOwnKeys) {
    writeFile(session(),
              "[MERX]\nnum_items=3\n0,command=x \n2,command=y \n3,command=over\n"
              "01,command=not ours\n1,other=z\n");
    PluginCommands record;
    record.readCommands(kMERX);
    for (const char* command : {"x ", "y "}) {
        EXPECT_TRUE(record.isCommand(command)) << command;
    }
    for (const char* command : {"x ", "x", "over", "not ours"}) {
        EXPECT_FALSE(record.isCommand(command)) << command;
    }
    // Taken keys are removed; the others stay as they were.
    const std::pair<const char*, bool> keys[] = {{"num_items", false}, {"0,command", false},
                                                 {"2,command", false}, {"3,command", true},
                                                 {"01,command", true}, {"1,other", true}};
    for (const auto& [key, kept] : keys) {
        std::string value;
        EXPECT_EQ(readConfigString(kMERX + std::string(key), value), kept) << key;
    }
}

ssize_t diskFull(int, const void*, size_t) {
    errno = ENOSPC;
    return -1;
}

// Saving on a full disk leaves the old file byte for byte and no temporary
// file, and the failure is logged.
TEST_F(SessionListTest, AFullDiskLeavesTheOldFileAndIsLogged) {
    writeFile(session(), fixture("three-entries-one-ours"));
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

    EXPECT_EQ(readFile(session()), fixture("three-entries-one-ours"));
    EXPECT_NE(errors.find("The session list could not be saved"), std::string::npos) << errors;
    EXPECT_EQ(std::distance(fs::directory_iterator(mHome + "/.gnome2"), {}), 1);
}

}  // namespace
