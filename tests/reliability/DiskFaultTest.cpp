// Writers on a full file system: a tree file, session-manual (startlist), a
// launcher (deskrunner with libvantor) and the kiosk configuration (libvelapps).
// In each case the old file stays byte for byte, the failure is logged, and the
// process goes on: it keeps running and writes by itself once there is room
// again, or ends normally. Runs under run-on-full-disk.sh, which puts a 1 MiB tmpfs on
// /var/opt in a private mount namespace; outside it the tests skip.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Program.h"
#include "VELAppsPlugin.h"
#include "model/PropertyNode.h"
#include "model/StructuralNode.h"
#include "model/Tree.h"

namespace fs = std::filesystem;
using namespace vesk::legacy;
using namespace std::chrono_literals;

namespace {

std::mutex sLogMutex;
std::string sLog;  // what this process sent to the system log

std::string logged() {
    std::lock_guard<std::mutex> lock(sLogMutex);
    return sLog;
}

}  // namespace

// The library logs through vsyslog; this one keeps the text for the tests.
extern "C" void vsyslog(int, const char* format, va_list args) {
    char text[2048];
    std::vsnprintf(text, sizeof text, format, args);
    std::lock_guard<std::mutex> lock(sLogMutex);
    sLog += text;
}

namespace {

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Takes every free byte of the volume while it lives.
class FullDisk {
  public:
    explicit FullDisk(const fs::path& volume) : mFiller(volume / ".filler") {
        const int fd = ::open(mFiller.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        EXPECT_GE(fd, 0);
        const std::vector<char> block(65536, 'x');
        for (size_t size = block.size(); size > 0; size /= 2) {
            while (::write(fd, block.data(), size) == static_cast<ssize_t>(size)) {
            }
        }
        EXPECT_EQ(errno, ENOSPC);
        ::close(fd);
    }
    ~FullDisk() { fs::remove(mFiller); }

  private:
    fs::path mFiller;
};

bool eventually(const std::function<bool()>& condition, std::chrono::seconds timeout = 20s) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(50ms);
    }
    return true;
}

class DiskFaultTest : public testing::Test {
  protected:
    void SetUp() override {
        const char* volume = getenv("HOLLIN_FULL_DISK");
        if (volume == nullptr) {
            GTEST_SKIP() << "needs run-on-full-disk.sh";
        }
        mVolume = volume;
        char pattern[] = "/tmp/hollin-disk-fault-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        mScratch = pattern;  // outside the full volume: the store and the logs
        setenv("VESK_POLICY_STORE", (mScratch / "store").c_str(), 1);
    }
    void TearDown() override {
        unsetenv("VESK_POLICY_STORE");
        if (!mScratch.empty()) {
            fs::remove_all(mScratch);
        }
    }

    void writeLayer(const std::string& scope, const std::string& component,
                    const std::string& body) {
        const fs::path file = mScratch / "store" / scope / (component + ".xml");
        writeFile(file.string() + ".new", "<zel:component-data zel:name=\"" + component + "\">" +
                                              body + "</zel:component-data>");
        fs::rename(file.string() + ".new", file);
    }

    fs::path mVolume;
    fs::path mScratch;
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
        FullDisk full(mVolume);
        tree.serialize(file.string());
        EXPECT_EQ(readFile(file), old);
        EXPECT_NE(logged().find("Cannot write tree file " + file.string()), std::string::npos)
            << logged();
        EXPECT_EQ(fs::directory_iterator(file.parent_path())->path(), file)
            << "a temporary file was left behind";
    }
    tree.serialize(file.string());
    EXPECT_NE(readFile(file).find(std::string(8192, 'y')), std::string::npos);
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
        {"VESKLEG_LOG_LEVEL", "Warning"}};
    const std::string errors = (mScratch / "startlist.err").string();
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
    std::unique_ptr<Program> startlist;
    {
        FullDisk full(mVolume);
        startlist = std::make_unique<Program>(binary("startlist"), environment, errors);
        EXPECT_TRUE(eventually([&] {
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
    const std::string errors = (mScratch / "deskrunner.err").string();

    std::unique_ptr<Program> deskrunner;
    {
        FullDisk full(mVolume);
        deskrunner = std::make_unique<Program>(
            binary("deskrunner"),
            std::map<std::string, std::string>{
                {"HOME", home.string()}, {"VESKLEG_LOG", "1"}, {"VESKLEG_LOG_LEVEL", "Error"}},
            errors);
        EXPECT_TRUE(eventually([&] {
            return readFile(errors).find("MERXterminal.desktop") != std::string::npos;
        })) << readFile(errors);
        EXPECT_EQ(readFile(launcher), old);
        EXPECT_TRUE(deskrunner->running());
    }
    // Room again: the launcher is written by itself, without a policy edit.
    EXPECT_TRUE(eventually([&] {
        return readFile(launcher).find("Exec=xterm\n") != std::string::npos;
    })) << readFile(launcher);
    EXPECT_TRUE(deskrunner->running());
    deskrunner->signal(SIGTERM);
    EXPECT_EQ(deskrunner->wait(20s), 0) << readFile(errors);
}

TEST_F(DiskFaultTest, KioskConfigurationStaysAsItWas) {
    writeLayer("entities/kiosk.default", "com.orvek.Lumora.Apps",
               "<node zel:name=\"Applications\" zel:op=\"replace\">"
               "<node zel:name=\"terminal\">"
               "<prop zel:name=\"pathapp\"><value>/usr/bin/xterm</value></prop>"
               "<prop zel:name=\"label\"><value>" +
                   std::string(4096, 'T') + "</value></prop></node></node>");
    const fs::path config = mVolume / "MERXkx" / "kiosk" / "config";
    const std::string old =
        "label=\"Calculator\"\nname=\"calculator\"\npathapp=\"/usr/bin/xcalc\"\n";
    writeFile(config / "calculator", old);
    {
        FullDisk full(mVolume);
        void* writer = velAppsInitialise();
        velAppsExecute(writer);
        Uninitialise(writer);
        EXPECT_EQ(readFile(config / "calculator"), old);
        EXPECT_FALSE(fs::exists(config / "terminal"));
        EXPECT_NE(logged().find("No space left on device"), std::string::npos) << logged();
    }
    void* writer = velAppsInitialise();
    velAppsExecute(writer);
    Uninitialise(writer);
    EXPECT_NE(readFile(config / "terminal").find("/usr/bin/xterm"), std::string::npos);
    EXPECT_FALSE(fs::exists(config / "calculator"));
}

}  // namespace
