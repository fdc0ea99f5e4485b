// SPDX-License-Identifier: LGPL-2.1-or-later
// The kiosk writer on its real paths, inside the private mount namespace that
// run-in-namespace.sh sets up: tmpfs over /opt and /var/opt, recording fake
// tools, the policy in a file store under /opt. The test initialises the
// logger with VESKLEG_LOG=1; the script sends standard error to a file.
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
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <thread>

#include "FullDisk.h"
#include "KioskSystem.h"
#include "TestFiles.h"
#include "VELAppsPlugin.h"
#include "VELAppsWriter.h"
#include "model/Logger.h"
#include "output/FileSystemCalls.h"

using vesk::legacy::FileSystemCalls;

// Failure injection: the binary links with -Wl,--wrap=kioskRename (and the
// other calls of KioskSystem.h), so each call passes through __wrap_kioskX and
// fails while a fault of that call and path is armed. The path is the first
// path argument ("from -> to" for rename; for close the file the descriptor
// is open on; for system the command); "" matches any. The settings files go
// through AtomicFile, whose open, write and close (FileSystemCalls) fail the
// same way, keyed by the file written rather than its temporary.
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

int openOrFail(const char* path, int flags, mode_t mode) {
    return failing("open", writtenFile(path)) ? -1 : ::open(path, flags, mode);
}

ssize_t writeOrFail(int fd, const void* data, size_t size) {
    return failing("write", writtenFile(openPath(fd))) ? -1 : ::write(fd, data, size);
}

// A failing close still releases the descriptor, as close(2) does.
int closeOrFail(int fd, int (*close)(int)) {
    const bool fail = failing("close", writtenFile(openPath(fd)));
    const int error = errno;
    const int result = close(fd);
    errno = fail ? error : errno;
    return fail ? -1 : result;
}

void armFault(const std::string& call, const std::string& path, int error) {
    std::lock_guard<std::mutex> lock(sMutex);
    sFaults.push_back({call, path, error});
}

void clearFaults() {
    std::lock_guard<std::mutex> lock(sMutex);
    sFaults.clear();
}

}  // namespace

// __wrap_kioskX fails as armed, else calls the real kioskX.
#define KIOSK_WRAP(type, name, call, key, params, args)      \
    type __real_##name params;                               \
    type __wrap_##name params {                              \
        return failing(call, key) ? -1 : __real_##name args; \
    }

extern "C" {
KIOSK_WRAP(int, kioskRename, "rename", std::string(from) + " -> " + to,
           (const char* from, const char* to), (from, to))
KIOSK_WRAP(int, kioskMkdir, "mkdir", path, (const char* path, mode_t mode), (path, mode))
KIOSK_WRAP(int, kioskChown, "chown", path, (const char* path, uid_t owner, gid_t group),
           (path, owner, group))
KIOSK_WRAP(int, kioskChmod, "chmod", path, (const char* path, mode_t mode), (path, mode))
KIOSK_WRAP(int, kioskOpenAt, "open", path, (int dirFd, const char* path, int flags, mode_t mode),
           (dirFd, path, flags, mode))
KIOSK_WRAP(int, kioskUnlinkAt, "unlink", path, (int dirFd, const char* path, int flags),
           (dirFd, path, flags))
KIOSK_WRAP(int, kioskSystem, "system", command, (const char* command), (command))

int __real_kioskClose(int fd);
int __wrap_kioskClose(int fd) {
    return closeOrFail(fd, __real_kioskClose);
}
}

namespace {

namespace fs = std::filesystem;
const std::string kConfig = kApplicationStorage, kTemp = kTempApplicationStorage,
                  kBackup = kBackupApplicationStorage, kKiosk = "/var/opt/MERXkx/kiosk",
                  kFake = "/opt/velapps-fake/", kStore = "/opt/velapps-store",
                  kLayer = kStore + "/entities/kiosk.default/com.orvek.Lumora.Apps.xml",
                  kData = HOLLIN_SOURCE_DIR "/plugins/velapps/tests/data/";

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

// Replaces the kiosk policy layer in one rename, as an administrator's tool would.
void setPolicy(const std::string& inner) {
    writeFile(kLayer + ".new", "<zel:component-data zel:name=\"com.orvek.Lumora.Apps\">" + inner +
                                   "</zel:component-data>\n");
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
void install() {
    VELAppsWriter().writeApps();
}

// The tool calls of an installation the kiosk accepts, with the configuration
// each tool saw ("a b " lists the files a and b).
std::string accepted(const std::string& before, const std::string& after) {
    return "kxadmingid  [" + before + "]\nkxgentab  [" + after + "]\nkxkiosk -i kiosk [" + after +
           "]\n";
}

class KioskInstallTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        setenv("VESKLEG_LOG", "1", 1);
        setenv("VESK_POLICY_STORE", kStore.c_str(), 1);
        vesk::legacy::Logger::initialise("velapps-test");
    }
    static void TearDownTestSuite() { vesk::legacy::Logger::uninitialise(); }

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
        reset();
        FileSystemCalls& calls = FileSystemCalls::sCurrent;
        calls.mOpen = openOrFail;
        calls.mWrite = writeOrFail;
        calls.mClose = [](int fd) { return closeOrFail(fd, ::close); };
    }
    void TearDown() override {
        clearFaults();
        FileSystemCalls::sCurrent = FileSystemCalls::kSystem;
    }

    // A clean kiosk, store and fake state; each case of a table starts here.
    void reset() {
        clearFaults();
        kStorageGroupId = 0;
        ASSERT_EQ(system(("rm -rf /var/opt/* " + kStore + " " + kFake + "calls.log " + kFake +
                          "fail-* " + kFake + "gid && mkdir -p " + kKiosk + " " + kStore +
                          "/entities/kiosk.default && : >" + kFake + "stderr.log")
                             .c_str()),
                  0);
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

    std::optional<testsupport::FullDisk> mFull;  // the /var/opt tmpfs, while a case wants it full
};

// data/installed.xml against data/installed; three installations in a row,
// the second after one that stopped between moving the configuration aside
// and putting the new one in place; links planted in the group-writable
// temporary directory, or in its place, are removed, never followed.
TEST_F(KioskInstallTest, InstallationsInARow) {
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

TEST_F(KioskInstallTest, AFailedInstallationKeepsThePreviousConfiguration) {
    const std::string cfg = "Write apps: Error accessing " + kConfig + ": ";
    const std::string tmp = "Write apps: Error accessing " + kTemp;
    const std::string firstTool = cfg + "/opt/MERXkx/lib/kxgentab ";
    const std::string busy = ": Device or resource busy\n" + firstTool + "exited with status 1";
    struct Case {
        std::function<void()> inject;
        std::string message, config = plain({"a"});  // the configuration afterwards
    } cases[] = {
        {[] { failTool("kxgentab", "1"); }, firstTool + "exited with status 1"},
        {[] { failTool("kxgentab", "signal"); }, firstTool + "was killed by signal 9"},
        {[] { armFault("system", kTableTool, EAGAIN); },
         firstTool + "could not be run: Resource temporarily unavailable"},
        {[] { failTool("kxkiosk", "3"); },
         cfg + "/opt/MERXkx/sbin/kxkiosk -i kiosk exited with status 3"},
        {[] { armFault("rename", kConfig + " -> " + kBackup, EXDEV); },
         cfg + "Invalid cross-device link"},
        {[] { armFault("rename", kTemp + " -> " + kConfig, EACCES); }, cfg + "Permission denied"},
        {[] { armFault("unlink", "", EPERM); },  // the old backup cannot go
         "Write apps: Error accessing " + kBackup + "/a0: Operation not permitted"},
        {[] { armFault("mkdir", kTemp, EROFS); }, tmp + ": Read-only file system"},
        {[] { armFault("chown", kTemp, EPERM); }, tmp + ": Operation not permitted"},
        {[] { armFault("chmod", kTemp, EPERM); }, tmp + ": Operation not permitted"},
        {[] { armFault("open", kTemp + "/b", EMFILE); }, tmp + "/b: Too many open files"},
        {[] { armFault("close", kTemp + "/b", EIO); }, tmp + "/b: Input/output error"},
        {[this] { mFull.emplace("/var/opt/filler"); }, tmp + "/b: No space left on device"},
        // The restore fails too: logged, and the backup kept.
        {[] {
             failTool("kxgentab", "1");
             armFault("rename", kConfig + " -> " + kTemp, EBUSY);
         },
         "Restore apps: Error accessing " + kConfig + busy, plain({"b", "c"})},
        {[] {
             failTool("kxgentab", "1");
             armFault("rename", kBackup + " -> " + kConfig, EBUSY);
         },
         "Restore apps: Error accessing " + kBackup + busy, "<missing>"},
    };
    for (const Case& c : cases) {
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

TEST_F(KioskInstallTest, TwoWritersInOneProcessTakeTurns) {
    setApps({"a", "b"});
    VELAppsWriter first, second;
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

size_t imports(const std::string& calls) {
    size_t count = 0;
    for (size_t at = calls.find("kxkiosk"); at != std::string::npos;
         at = calls.find("kxkiosk", at + 1)) {
        ++count;
    }
    return count;
}

// Through the entry points, live: a failed installation is tried again by
// itself once the fault is gone, and one change, however many applications
// it touches, gives one installation.
TEST_F(KioskInstallTest, EachChangeInstallsOnceAndAFailureIsRetried) {
    // A first installation whose import fails has nothing to restore: it
    // leaves no configuration. Listening starts all the same.
    setApps({"a"});
    failTool("kxkiosk", "1");
    void* handle = velAppsInitialise();
    velAppsExecute(handle);
    EXPECT_EQ(snapshot(kKiosk), "tmp.config/ {" + plain({"a"}) + "}\n");
    EXPECT_EQ(calls(), accepted("", "a ") + "kxgenout  []\n");
    heal();
    const auto imported = [] {
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
        // Further installations of the same change would follow at once.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_EQ(imports(calls()), 1u) << apps.size();
        EXPECT_EQ(snapshot(kConfig), plain(apps));
    }
    Uninitialise(handle);
    EXPECT_EQ(messages(), "Write apps: Error accessing " + kConfig +
                              ": /opt/MERXkx/sbin/kxkiosk -i kiosk exited with status 1\n");
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
    void* handle = velAppsInitialise();
    velAppsExecute(handle);
    EXPECT_EQ(calls(), "");
    ASSERT_EQ(rename((kStore + ".away").c_str(), kStore.c_str()), 0);
    EXPECT_TRUE(testsupport::waitUntil([&] { return snapshot(kConfig) == plain({"a"}); }))
        << messages();
    Uninitialise(handle);
    setenv("HOLLIN_CACHE_DIR", "off", 1);
    ASSERT_EQ(system(("rm -rf " + kFake + "cache").c_str()), 0);
}

}  // namespace
