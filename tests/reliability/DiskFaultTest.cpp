// SPDX-License-Identifier: LGPL-2.1-or-later
// Writers on a full file system: a tree file, session-manual (startlist) and a
// launcher (deskrunner with libvantor); the kiosk plug-in's own tests fill the
// disk under its configuration.
// In each case the old file stays byte for byte, the failure is logged, and the
// process goes on: it keeps running and writes by itself once there is room
// again, or ends normally. Runs under run-in-namespace.sh, which puts a 1 MiB tmpfs on
// /var/opt in a private mount namespace; outside it the tests skip.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "FullDisk.h"
#include "Program.h"
#include "SyslogSeam.h"
#include "TestFiles.h"
#include "access/TreeCache.h"
#include "model/PropertyNode.h"
#include "model/StructuralNode.h"
#include "model/Tree.h"

namespace fs = std::filesystem;
using namespace vesk::legacy;
using namespace std::chrono_literals;

namespace {

using testsupport::readFile;

void writeFile(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

class DiskFaultTest : public testing::Test {
  protected:
    void SetUp() override {
        if (getenv("HOLLIN_IN_NAMESPACE") == nullptr) {
            GTEST_SKIP() << "needs run-in-namespace.sh";
        }
        mVolume = "/var/opt";
        setenv("VESK_POLICY_STORE", (mDir / "store").c_str(), 1);
    }
    void TearDown() override { unsetenv("VESK_POLICY_STORE"); }

    void writeLayer(const std::string& scope, const std::string& component,
                    const std::string& body) {
        const fs::path file = mDir / "store" / scope / (component + ".xml");
        writeFile(file.string() + ".new", "<zel:component-data zel:name=\"" + component + "\">" +
                                              body + "</zel:component-data>");
        fs::rename(file.string() + ".new", file);
    }

    fs::path mVolume;
    // Outside the full volume: the store and the logs.
    const testsupport::TempDir mScratch{"hollin-disk-fault"};
    const fs::path mDir = mScratch.path;
};

TEST_F(DiskFaultTest, TreeFileKeepsItsOldContent) {
    const fs::path file = mVolume / "trees" / "applications.xml";
    fs::create_directories(file.parent_path());
    Tree tree;
    auto* root = new StructuralNode("applications");
    tree.setRoot(root);
    auto* property = new PropertyNode("command", TypeString);
    property->setStringValue("xclock", "default");
    root->adoptChild(*property);
    tree.serialize(file.string());
    const std::string old = readFile(file);
    ASSERT_NE(old.find("xclock"), std::string::npos);

    property->setStringValue(std::string(8192, 'y'), "default");
    {
        const testsupport::FullDisk full(mVolume / ".filler");
        ASSERT_TRUE(full.full());
        tree.serialize(file.string());
        EXPECT_EQ(readFile(file), old);
        EXPECT_NE(syslogseam::text().find("Cannot write tree file " + file.string()),
                  std::string::npos)
            << syslogseam::text();
        EXPECT_EQ(fs::directory_iterator(file.parent_path())->path(), file)
            << "a temporary file was left behind";
    }
    tree.serialize(file.string());
    EXPECT_NE(readFile(file).find(std::string(8192, 'y')), std::string::npos);
}

// A root process without a home keeps its copies in /var/cache/hollin, made
// open to pass through so that the users' folders an administrator keeps below
// it can be reached.
TEST_F(DiskFaultTest, SystemCopiesFolderIsOpenToPassThrough) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root";
    }
    ASSERT_EQ(mount("hollin-var-cache", "/var/cache", "tmpfs", 0, "size=1m,mode=0755"), 0);
    const std::string home = getenv("HOME") != nullptr ? getenv("HOME") : "";
    unsetenv("HOME");
    unsetenv("XDG_CACHE_HOME");
    unsetenv("HOLLIN_CACHE_DIR");
    const TreeCache cache("", TreeCache::defaultFolder());
    setenv("HOLLIN_CACHE_DIR", "off", 1);
    setenv("HOME", home.c_str(), 1);
    Tree tree;
    tree.setRoot(new StructuralNode("comp"));
    EXPECT_TRUE(cache.store("comp", tree, {"default 1"}, 1));
    struct stat status;
    ASSERT_EQ(stat("/var/cache/hollin", &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0755u);
    EXPECT_TRUE(cache.load("comp"));
    umount2("/var/cache", MNT_DETACH);
}

// startlist stays while it cannot save, and saves by itself once there is
// room, without a policy edit; then it exits normally.
TEST_F(DiskFaultTest, StartlistKeepsSessionManualAndSavesOnceThereIsRoom) {
    const auto startupLayer = [](const std::string& command) {
        return "<node zel:name=\"startup_list\"><node zel:name=\"clock\">"
               "<prop zel:name=\"command\"><value>" +
               command + "</value></prop></node></node>";
    };
    const fs::path home = mVolume / "home-startlist";
    const fs::path session = home / ".gnome2" / "session-manual";
    const fs::path autostart = home / ".config" / "autostart" / "MERXclock.desktop";
    const std::map<std::string, std::string> environment = {
        {"HOME", home.string()},
        {"XDG_CONFIG_HOME", (home / ".config").string()},
        {"VESKLEG_LOG", "1"},
        {"VESKLEG_LOG_LEVEL", "Warning"},
        {"HOLLIN_CACHE_DIR", (home / "cache").string()}};
    const std::string errors = (mDir / "startlist.err").string();
    fs::create_directories(home);
    writeLayer("default", "com.orvek.ferrun.applications", startupLayer("xclock -digital"));
    {
        Program startlist(binary("startlist"), environment, errors);
        EXPECT_EQ(startlist.wait(60s), 0) << readFile(errors);
    }
    const std::string old = readFile(session);
    ASSERT_NE(old.find("xclock -digital"), std::string::npos) << old;
    const std::string oldEntry = readFile(autostart);
    ASSERT_NE(oldEntry.find("Exec=xclock -digital\n"), std::string::npos) << oldEntry;

    writeLayer("default", "com.orvek.ferrun.applications", startupLayer("xeyes"));
    fs::remove_all(home / "cache");  // a first login on a full disk
    std::unique_ptr<Program> startlist;
    {
        const testsupport::FullDisk full(mVolume / ".filler");
        ASSERT_TRUE(full.full());
        startlist = std::make_unique<Program>(binary("startlist"), environment, errors);
        EXPECT_TRUE(testsupport::waitUntil([&] {
            return readFile(errors).find("session-manual") != std::string::npos;
        })) << readFile(errors);
        EXPECT_EQ(readFile(session), old);
        EXPECT_EQ(readFile(autostart), oldEntry);
        EXPECT_NE(readFile(errors).find("Could not save the autostart entry " + autostart.string()),
                  std::string::npos)
            << readFile(errors);
        EXPECT_TRUE(startlist->running());
    }
    EXPECT_EQ(startlist->wait(60s), 0) << readFile(errors);
    EXPECT_NE(readFile(session).find("xeyes"), std::string::npos) << readFile(session);
    EXPECT_NE(readFile(autostart).find("Exec=xeyes\n"), std::string::npos) << readFile(autostart);
    const fs::path copy = home / "cache" / "@com.orvek.ferrun.applications.xml";
    EXPECT_NE(readFile(copy).find("xeyes"), std::string::npos) << "the copy after the full disk";
}

TEST_F(DiskFaultTest, DeskrunnerKeepsTheOldLauncherAndRewritesByItselfOnceThereIsRoom) {
    const auto launcherLayer = [](const std::string& command) {
        return "<node zel:name=\"launcher_list\"><node zel:name=\"terminal\">"
               "<prop zel:name=\"Name\"><value>Terminal</value></prop>"
               "<prop zel:name=\"Exec\"><value>" +
               command + "</value></prop></node></node>";
    };
    writeLayer("default", "com.orvek.ferrun.applications", launcherLayer("xterm"));
    const fs::path home = mVolume / "home-deskrunner";
    const fs::path launcher = home / "Desktop" / "MERXterminal.desktop";
    const std::string old = "[Desktop Entry]\nType=Application\nName=Old\nExec=old-terminal\n";
    writeFile(launcher, old);
    const std::string errors = (mDir / "deskrunner.err").string();

    std::unique_ptr<Program> deskrunner;
    {
        const testsupport::FullDisk full(mVolume / ".filler");
        ASSERT_TRUE(full.full());
        deskrunner = std::make_unique<Program>(
            binary("deskrunner"),
            std::map<std::string, std::string>{
                {"HOME", home.string()}, {"VESKLEG_LOG", "1"}, {"VESKLEG_LOG_LEVEL", "Error"}},
            errors);
        EXPECT_TRUE(testsupport::waitUntil([&] {
            return readFile(errors).find("MERXterminal.desktop") != std::string::npos;
        })) << readFile(errors);
        EXPECT_EQ(readFile(launcher), old);
        EXPECT_TRUE(deskrunner->running());
    }
    // Room again: the launcher is written by itself, without a policy edit.
    EXPECT_TRUE(testsupport::waitUntil([&] {
        return readFile(launcher).find("Exec=xterm\n") != std::string::npos;
    })) << readFile(launcher);
    EXPECT_TRUE(deskrunner->running());
    deskrunner->signal(SIGTERM);
    EXPECT_EQ(deskrunner->wait(20s), 0) << readFile(errors);
}

}  // namespace
