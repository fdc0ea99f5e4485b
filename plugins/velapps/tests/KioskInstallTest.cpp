// SPDX-License-Identifier: LGPL-2.1-or-later
// The kiosk writer with recording fake tools and the policy in a file store:
// in a scratch folder laid out like the system (KioskInstallTest), and on the
// real paths for what only they show -- the named constructor and entry
// points, the root-owned folder of the tool's group, a full disk -- inside the
// private mount namespace that run-in-namespace.sh sets up, tmpfs over /opt
// and /var/opt (KioskRealPathTest). Logs go to a file the test reads.
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <thread>

#include "FullDisk.h"
#include "TestFiles.h"
#include "VELAppsPlugin.h"
#include "VELAppsWriter.h"
#include "model/Logger.h"
#include "output/FileSystemCalls.h"

using vesk::legacy::FileSystemCalls;

// Failure injection through FileSystemCalls: each call fails while a fault of
// that call and path is armed. The path is the first path argument ("from ->
// to" for rename; for close the file the descriptor is open on; for system
// the command); "" matches any. Settings files are keyed by the file written
// rather than their AtomicFile temporary.
namespace {

struct Fault {
    std::string call, path;
    int error;
};

std::mutex sMutex;
std::vector<Fault> sFaults;

bool failing(const char* call, const std::string& path) {
    std::lock_guard<std::mutex> lock(sMutex);
    for (const Fault& fault : sFaults) {
        if (fault.call == call && (fault.path.empty() || fault.path == path)) {
            errno = fault.error;
            return true;
        }
    }
    return false;
}

std::string openPath(int fd) {
    char path[4096];
    const ssize_t length =
        readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), path, sizeof path);
    return length > 0 ? std::string(path, length) : std::string();
}

// The file an AtomicFile temporary "dir/.name.tmp<pid>.<n>" stands for.
std::string writtenFile(const std::string& path) {
    const size_t slash = path.rfind('/');
    const size_t mark = path.rfind(".tmp");
    if (slash == std::string::npos || mark == std::string::npos || mark < slash ||
        path.compare(slash + 1, 1, ".") != 0) {
        return path;
    }
    return path.substr(0, slash + 1) + path.substr(slash + 2, mark - slash - 2);
}

void armFault(const std::string& call, const std::string& path, int error) {
    std::lock_guard<std::mutex> lock(sMutex);
    sFaults.push_back({call, path, error});
}

void clearFaults() {
    std::lock_guard<std::mutex> lock(sMutex);
    sFaults.clear();
}

// Every call the writer makes, failing as armed.
void injectFaults() {
    FileSystemCalls& calls = FileSystemCalls::sCurrent;
    calls.mOpen = [](const char* path, int flags, mode_t mode) {
        return failing("open", writtenFile(path)) ? -1 : ::open(path, flags, mode);
    };
    calls.mWrite = [](int fd, const void* data, size_t size) -> ssize_t {
        return failing("write", writtenFile(openPath(fd))) ? -1 : ::write(fd, data, size);
    };
    // A failing close still releases the descriptor, as close(2) does.
    calls.mClose = [](int fd) {
        const bool fail = failing("close", writtenFile(openPath(fd)));
        const int error = errno;
        const int result = ::close(fd);
        errno = fail ? error : errno;
        return fail ? -1 : result;
    };
    calls.mRename = [](const char* from, const char* to) {
        return failing("rename", std::string(from) + " -> " + to) ? -1 : ::rename(from, to);
    };
    calls.mMkdir = [](const char* path, mode_t mode) {
        return failing("mkdir", path) ? -1 : ::mkdir(path, mode);
    };
    calls.mChown = [](const char* path, uid_t owner, gid_t group) {
        return failing("chown", path) ? -1 : ::chown(path, owner, group);
    };
    calls.mChmodPath = [](const char* path, mode_t mode) {
        return failing("chmod", path) ? -1 : ::chmod(path, mode);
    };
    calls.mOpenAt = [](int dirFd, const char* path, int flags, mode_t mode) {
        return failing("open", path) ? -1 : ::openat(dirFd, path, flags, mode);
    };
    calls.mUnlinkAt = [](int dirFd, const char* path, int flags) {
        return failing("unlink", path) ? -1 : ::unlinkat(dirFd, path, flags);
    };
    calls.mSystem = [](const char* command) {
        return failing("system", command) ? -1 : ::system(command);
    };
}

}  // namespace

namespace {

namespace fs = std::filesystem;
const std::string kData = HOLLIN_SOURCE_DIR "/plugins/velapps/tests/data/";

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return in ? text.str() : "<missing>";
}

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// "name: content" per entry in name order, folders nested, links marked;
// "<missing>" when there is no folder.
std::string snapshot(const std::string& dir) {
    std::error_code error;
    if (!fs::is_directory(fs::symlink_status(dir, error))) {
        return "<missing>";
    }
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) {
        names.insert(entry.path().filename());
    }
    std::string out;
    for (const std::string& name : names) {
        const std::string path = dir + "/" + name;
        const fs::file_status status = fs::symlink_status(path);
        out += fs::is_symlink(status)     ? name + " -> link\n"
               : fs::is_directory(status) ? name + "/ {" + snapshot(path) + "}\n"
                                          : name + ": " + readFile(path) + "\n";
    }
    return out;
}

// The snapshot of settings files with only name and pathapp.
std::string plain(const std::vector<std::string>& names) {
    std::string out;
    for (const std::string& name : names) {
        out += name + ": name=\"" + name + "\"\npathapp=\"/usr/bin/x\"\n\n";
    }
    return out;
}

// The tool calls of an installation the kiosk accepts, with the configuration
// each tool saw ("a b " lists the files a and b).
std::string accepted(const std::string& before, const std::string& after) {
    return "kxadmingid  [" + before + "]\nkxgentab  [" + after + "]\nkxkiosk -i kiosk [" + after +
           "]\n";
}

size_t imports(const std::string& calls) {
    size_t count = 0;
    for (size_t at = calls.find("kxkiosk"); at != std::string::npos;
         at = calls.find("kxkiosk", at + 1)) {
        ++count;
    }
    return count;
}

// The kiosk, its tools, the store and the fake tools' state under a scratch
// folder laid out like the system; the writers are given its paths.
class KioskInstallTest : public ::testing::Test {
  protected:
    explicit KioskInstallTest(bool realPaths = false)
        : mRoot(realPaths ? std::string() : mScratch.path), mPaths(pathsUnder(mRoot)) {}

    // The system's paths under root; in a scratch folder the tester owns the
    // temporary directory.
    static KioskPaths pathsUnder(const std::string& root) {
        KioskPaths paths;
        for (std::string* path :
             {&paths.storage, &paths.tempStorage, &paths.backupStorage, &paths.groupIdTool,
              &paths.tableTool, &paths.importCommand, &paths.recoveryTool}) {
            *path = root + *path;
        }
        paths.storageUserId = root.empty() ? paths.storageUserId : getuid();
        return paths;
    }

    static void SetUpTestSuite() {
        setenv("VESKLEG_LOG", "1", 1);
        vesk::legacy::Logger::initialise("velapps-test");
    }
    static void TearDownTestSuite() { vesk::legacy::Logger::uninitialise(); }

    void SetUp() override {
        setenv("VESK_POLICY_STORE", kStore.c_str(), 1);
        if (!mRoot.empty()) {
            for (const char* tool :
                 {"lib/kxadmingid", "lib/kxgentab", "lib/kxgenout", "sbin/kxkiosk"}) {
                const std::string path = mRoot + "/opt/MERXkx/" + tool;
                fs::create_directories(fs::path(path).parent_path());
                fs::copy_file(HOLLIN_SOURCE_DIR "/plugins/velapps/tests/fake-kiosk-tool.sh", path);
                fs::permissions(path, fs::perms::owner_all);
            }
        }
        fs::create_directories(kFake);
        // The writer logs to standard error; the test reads it from a file.
        mSavedStderr = dup(STDERR_FILENO);
        const int log = open((kFake + "stderr.log").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        ASSERT_GE(log, 0);
        dup2(log, STDERR_FILENO);
        close(log);
        reset();
        injectFaults();
    }
    void TearDown() override {
        clearFaults();
        FileSystemCalls::sCurrent = FileSystemCalls::kSystem;
        if (mSavedStderr >= 0) {
            dup2(mSavedStderr, STDERR_FILENO);
            close(mSavedStderr);
        }
        if (HasFailure()) {
            std::cout << "Logged:\n" << messages();
        }
    }

    // A clean kiosk, store and fake state; each case of a table starts here.
    // In the scratch folder the group tool names the tester's own group, which
    // a tester who is not root may give the folder.
    void reset() {
        clearFaults();
        setStorageGroupId(0);
        ASSERT_EQ(system(("rm -rf " + mRoot + "/var/opt/* " + kStore + " " + kFake + "calls.log " +
                          kFake + "fail-* " + kFake + "gid && mkdir -p " + kKiosk + " " + kStore +
                          "/entities/kiosk.default && : >" + kFake + "stderr.log")
                             .c_str()),
                  0);
        if (!mRoot.empty()) {
            writeFile(kFake + "gid", std::to_string(getgid()) + "\n");
        }
    }
    void heal() {
        clearFaults();
        mFull.reset();
        ASSERT_EQ(system(("rm -f " + kFake + "fail-*").c_str()), 0);
    }
    std::string messages() { return readFile(kFake + "stderr.log"); }
    // The tool calls since the last call of calls().
    std::string calls() {
        std::string text = readFile(kFake + "calls.log");
        unlink((kFake + "calls.log").c_str());
        return text == "<missing>" ? "" : text;
    }

    // Replaces the kiosk policy layer in one rename, as an administrator's tool would.
    void setPolicy(const std::string& inner) {
        writeFile(kLayer + ".new", "<zel:component-data zel:name=\"com.orvek.Lumora.Apps\">" +
                                       inner + "</zel:component-data>\n");
        fs::rename(kLayer + ".new", kLayer);
    }

    // Applications with only a pathapp.
    void setApps(const std::vector<std::string>& names) {
        std::string list;
        for (const std::string& name : names) {
            list += "<node zel:name=\"" + name +
                    "\"><prop zel:name=\"pathapp\"><value>/usr/bin/x</value></prop></node>";
        }
        setPolicy("<node zel:name=\"Applications\" zel:op=\"replace\">" + list + "</node>");
    }

    // The fake tool fails with that exit status, or "signal".
    void failTool(const std::string& tool, const std::string& how) {
        writeFile(kFake + "fail-" + tool, how + "\n");
    }

    // One installation with a fresh writer, as after a change.
    void install() { VELAppsWriter(mPaths).writeApps(); }

    void failedInstallations(bool onRealPaths);

    const testsupport::TempDir mScratch{"velapps-test"};
    const std::string mRoot;
    const KioskPaths mPaths;
    const std::string kConfig = mPaths.storage, kTemp = mPaths.tempStorage,
                      kBackup = mPaths.backupStorage, kKiosk = mRoot + "/var/opt/MERXkx/kiosk",
                      kFake = mRoot + "/opt/velapps-fake/", kStore = mRoot + "/opt/velapps-store",
                      kLayer = kStore + "/entities/kiosk.default/com.orvek.Lumora.Apps.xml";
    std::optional<testsupport::FullDisk> mFull;  // the /var/opt tmpfs, while a case wants it full
    int mSavedStderr = -1;
};

// On the real paths, inside the test mount namespace only.
class KioskRealPathTest : public KioskInstallTest {
  protected:
    KioskRealPathTest() : KioskInstallTest(true) {}

    void SetUp() override {
        // Never run against the host's real /opt and /var/opt. The script fails
        // instead of skipping when HOLLIN_REQUIRE_NAMESPACES=1.
        struct statfs opt, varOpt;
        if (getenv("HOLLIN_IN_NAMESPACE") == nullptr || statfs("/opt", &opt) != 0 ||
            statfs("/var/opt", &varOpt) != 0 || opt.f_type != TMPFS_MAGIC ||
            varOpt.f_type != TMPFS_MAGIC) {
            GTEST_SKIP() << "not inside the test mount namespace (ctest wraps it in "
                            "run-in-namespace.sh); the real kiosk paths stay untouched";
        }
        KioskInstallTest::SetUp();
    }
};

// data/installed.xml against data/installed; three installations in a row,
// the second after one that stopped between moving the configuration aside
// and putting the new one in place; links planted in the group-writable
// temporary directory, or in its place, are removed, never followed.
TEST_F(KioskRealPathTest, InstallationsInARow) {
    ASSERT_EQ(system("mkdir -p /var/opt/precious/tree && echo keep > /var/opt/precious/tree/f"), 0);
    ASSERT_EQ(mkdir(kTemp.c_str(), 0770), 0);
    ASSERT_EQ(symlink("/var/opt/precious/tree", (kTemp + "/evil").c_str()), 0);
    ASSERT_EQ(symlink("/var/opt/precious/tree/f", (kTemp + "/app1").c_str()), 0);
    writeFile(kFake + "gid", "4242\n");
    fs::copy_file(kData + "installed.xml", kLayer);
    install();
    const std::string first = snapshot(kConfig);
    EXPECT_EQ(first, snapshot(kData + "installed"));
    EXPECT_EQ(calls(), accepted("", "app1 renamed text "));
    struct stat st;
    ASSERT_EQ(stat(kConfig.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0770u);
    EXPECT_EQ(st.st_uid, 0u);
    EXPECT_EQ(st.st_gid, 4242u);

    // Nothing installable: an empty configuration, and the tools still run. A
    // group tool that prints no number, or fails, leaves the last good group.
    ASSERT_EQ(rename(kConfig.c_str(), kBackup.c_str()), 0);
    ASSERT_EQ(symlink("/var/opt/precious", kTemp.c_str()), 0);
    writeFile(kFake + "gid", "no number\n");
    setPolicy(
        "<node zel:name=\"Applications\"><node zel:name=\"nopath\"><prop zel:name=\"label\">"
        "<value>L</value></prop></node></node>");
    install();
    EXPECT_EQ(snapshot(kKiosk), "backup.config/ {" + first + "}\nconfig/ {}\n");
    EXPECT_EQ(calls(), accepted("", ""));  // the group tool ran before the restore
    // Properties count as children too.
    failTool("kxadmingid", "1");
    setPolicy(
        "<node zel:name=\"Applications\" zel:op=\"replace\">"
        "<prop zel:name=\"stray\"><value>v</value></prop></node>");
    install();
    EXPECT_EQ(snapshot(kKiosk), "backup.config/ {}\nconfig/ {}\n");
    ASSERT_EQ(stat(kConfig.c_str(), &st), 0);
    EXPECT_EQ(st.st_gid, 4242u);
    EXPECT_EQ(snapshot("/var/opt/precious"), "tree/ {f: keep\n\n}\n");

    // An empty or missing list changes nothing and starts no tool; neither
    // does a writer whose policy service is not there yet.
    const std::string before = snapshot(kKiosk);
    calls();
    for (const char* policy : {"<node zel:name=\"Applications\" zel:op=\"replace\"/>",
                               "<node zel:name=\"Other\"><node zel:name=\"a\"/></node>",
                               "<prop zel:name=\"Applications\"><value>x</value></prop>"}) {
        setPolicy(policy);
        install();
        EXPECT_EQ(snapshot(kKiosk), before) << policy;
        EXPECT_EQ(calls(), "") << policy;
    }
    EXPECT_EQ(messages(), "");
    ASSERT_EQ(system(("rm -rf " + kStore).c_str()), 0);
    void* handle = velAppsInitialise();
    ASSERT_NE(handle, nullptr);
    velAppsExecute(handle);
    Uninitialise(handle);
    // Without a store the writer still listens, and installs nothing.
    EXPECT_EQ(messages(),
              "No configuration for com.orvek.Lumora.Apps: the policy service could not read "
              "its layers (Connection failure), and no copy was kept\n");
    EXPECT_EQ(calls(), "");
    EXPECT_EQ(snapshot(kKiosk), before);

    // A list cut short, with no kept copy to fall back on, is never installed.
    ASSERT_EQ(system(("mkdir -p " + kStore + "/entities/kiosk.default").c_str()), 0);
    const char* kept = getenv("HOLLIN_CACHE_DIR");
    const std::string previous = kept != nullptr ? kept : "";
    setenv("HOLLIN_CACHE_DIR", "off", 1);
    setPolicy(
        "<node zel:name=\"Applications\" zel:op=\"replace\"><node zel:name=\"x\">"
        "<prop zel:name=\"pathapp\"><value>/usr/bin/x</value></prop></node>");
    install();
    kept != nullptr ? setenv("HOLLIN_CACHE_DIR", previous.c_str(), 1)
                    : unsetenv("HOLLIN_CACHE_DIR");
    EXPECT_EQ(calls(), "");
    EXPECT_EQ(snapshot(kKiosk), before);
}

// data/hostile.xml names the reason for each application skipped.
TEST_F(KioskInstallTest, HostileNamesAndValuesSkipTheirApplication) {
    fs::copy_file(kData + "hostile.xml", kLayer);
    install();
    EXPECT_EQ(messages(), readFile(kData + "hostile.log"));
    EXPECT_EQ(snapshot(kKiosk), "config/ {" + plain({"good1", "zgood2"}) + "}\n");
}

// The cases that need a small volume of their own run on the real paths.
void KioskInstallTest::failedInstallations(bool onRealPaths) {
    const std::string cfg = "Write apps: Error accessing " + kConfig + ": ";
    const std::string tmp = "Write apps: Error accessing " + kTemp;
    const std::string firstTool = cfg + mPaths.tableTool + " ";
    const std::string busy = ": Device or resource busy\n" + firstTool + "exited with status 1";
    struct Case {
        std::function<void()> inject;
        std::string message, config = plain({"a"});  // the configuration afterwards
        bool realPaths = false;
    } cases[] = {
        {[this] { failTool("kxgentab", "1"); }, firstTool + "exited with status 1"},
        {[this] { failTool("kxgentab", "signal"); }, firstTool + "was killed by signal 9"},
        {[this] { armFault("system", mPaths.tableTool, EAGAIN); },
         firstTool + "could not be run: Resource temporarily unavailable"},
        {[this] { failTool("kxkiosk", "3"); },
         cfg + mPaths.importCommand + " exited with status 3"},
        {[this] { armFault("rename", kConfig + " -> " + kBackup, EXDEV); },
         cfg + "Invalid cross-device link"},
        {[this] { armFault("rename", kTemp + " -> " + kConfig, EACCES); },
         cfg + "Permission denied"},
        {[] { armFault("unlink", "", EPERM); },  // the old backup cannot go
         "Write apps: Error accessing " + kBackup + "/a0: Operation not permitted"},
        {[this] { armFault("mkdir", kTemp, EROFS); }, tmp + ": Read-only file system"},
        {[this] { armFault("chown", kTemp, EPERM); }, tmp + ": Operation not permitted"},
        {[this] { armFault("chmod", kTemp, EPERM); }, tmp + ": Operation not permitted"},
        {[this] { armFault("open", kTemp + "/b", EMFILE); }, tmp + "/b: Too many open files"},
        {[this] { armFault("close", kTemp + "/b", EIO); }, tmp + "/b: Input/output error"},
        {[this] { mFull.emplace("/var/opt/filler"); }, tmp + "/b: No space left on device",
         plain({"a"}), true},
        // The restore fails too: logged, and the backup kept.
        {[this] {
             failTool("kxgentab", "1");
             armFault("rename", kConfig + " -> " + kTemp, EBUSY);
         },
         "Restore apps: Error accessing " + kConfig + busy, plain({"b", "c"})},
        {[this] {
             failTool("kxgentab", "1");
             armFault("rename", kBackup + " -> " + kConfig, EBUSY);
         },
         "Restore apps: Error accessing " + kBackup + busy, "<missing>"},
    };
    for (const Case& c : cases) {
        if (c.realPaths != onRealPaths) {
            continue;
        }
        SCOPED_TRACE(c.message);
        reset();
        // Two installations first, so that a backup exists as in the field.
        for (const char* name : {"a0", "a"}) {
            setApps({name});
            install();
        }
        calls();
        setApps({"b", "c"});
        c.inject();
        install();
        EXPECT_EQ(snapshot(kConfig), c.config);
        if (c.config != plain({"a"})) {
            EXPECT_EQ(snapshot(kBackup), plain({"a"}));
        }
        EXPECT_EQ(messages(), c.message + "\n");
        // The recovery tool runs after the restore, and only after a failed import.
        if (c.message.find("kxkiosk") != std::string::npos) {
            EXPECT_EQ(calls(), accepted("a ", "b c ") + "kxgenout  [a ]\n");
        } else {
            EXPECT_EQ(calls().find("kxgenout"), std::string::npos);
        }
        heal();
        install();
        EXPECT_EQ(snapshot(kConfig), plain({"b", "c"}));
    }
}

TEST_F(KioskInstallTest, AFailedInstallationKeepsThePreviousConfiguration) {
    failedInstallations(false);
}

TEST_F(KioskRealPathTest, AFailedInstallationKeepsThePreviousConfiguration) {
    failedInstallations(true);
}

TEST_F(KioskInstallTest, TwoWritersInOneProcessTakeTurns) {
    setApps({"a", "b"});
    VELAppsWriter first(mPaths), second(mPaths);
    std::thread other([&] {
        for (int i = 0; i < 5; ++i) {
            second.writeApps();
        }
    });
    for (int i = 0; i < 5; ++i) {
        first.writeApps();
    }
    other.join();
    EXPECT_EQ(messages(), "");
    EXPECT_EQ(snapshot(kConfig), plain({"a", "b"}));
}

// Through the entry points, live: a failed installation is tried again by
// itself once the fault is gone, and one change, however many applications
// it touches, gives one installation.
TEST_F(KioskRealPathTest, EachChangeInstallsOnceAndAFailureIsRetried) {
    // A first installation whose import fails has nothing to restore: it
    // leaves no configuration. Listening starts all the same.
    setApps({"a"});
    failTool("kxkiosk", "1");
    void* handle = velAppsInitialise();
    velAppsExecute(handle);
    EXPECT_EQ(snapshot(kKiosk), "tmp.config/ {" + plain({"a"}) + "}\n");
    EXPECT_EQ(calls(), accepted("", "a ") + "kxgenout  []\n");
    heal();
    const auto imported = [this] {
        return readFile(kFake + "calls.log").find("kxkiosk") != std::string::npos;
    };
    EXPECT_TRUE(testsupport::waitUntil(imported));
    EXPECT_EQ(calls(), accepted("", "a "));
    EXPECT_EQ(snapshot(kConfig), plain({"a"}));
    std::vector<std::string> many;
    for (int n = 10; n < 30; ++n) {
        many.push_back("app" + std::to_string(n));
    }
    for (const std::vector<std::string>& apps : {std::vector<std::string>{"b"}, many, {"c", "d"}}) {
        setApps(apps);
        EXPECT_TRUE(testsupport::waitUntil(imported));
        // Further installations of the same change would follow at once: a
        // bounded wait for one that must not come.
        EXPECT_FALSE(
            testsupport::waitUntil([this] { return imports(readFile(kFake + "calls.log")) > 1; },
                                   std::chrono::milliseconds(300)));
        EXPECT_EQ(imports(calls()), 1u) << apps.size();
        EXPECT_EQ(snapshot(kConfig), plain(apps));
    }
    Uninitialise(handle);
    EXPECT_EQ(messages(), "Write apps: Error accessing " + kConfig + ": " + mPaths.importCommand +
                              " exited with status 1\n");
}

// Started while the store is away, the kiosk serves the kept copy and installs
// nothing from it; the store's return installs, also when it brings the very
// policy of the copy (no node changed, the read became complete).
TEST_F(KioskInstallTest, StoreBackWithThePolicyOfTheCopyInstalls) {
    setenv("HOLLIN_CACHE_DIR", (kFake + "cache").c_str(), 1);
    setApps({"a"});
    install();
    ASSERT_EQ(snapshot(kConfig), plain({"a"}));
    ASSERT_EQ(system(("rm -rf " + kConfig + " && mv " + kStore + " " + kStore + ".away").c_str()),
              0);
    calls();
    {
        VELAppsWriter writer(mPaths);
        writer.startListening();
        writer.writeApps();
        EXPECT_EQ(calls(), "");
        ASSERT_EQ(rename((kStore + ".away").c_str(), kStore.c_str()), 0);
        EXPECT_TRUE(testsupport::waitUntil([&] { return snapshot(kConfig) == plain({"a"}); }))
            << messages();
    }
    setenv("HOLLIN_CACHE_DIR", "off", 1);
    ASSERT_EQ(system(("rm -rf " + kFake + "cache").c_str()), 0);
}

}  // namespace
