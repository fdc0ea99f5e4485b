// SPDX-License-Identifier: LGPL-2.1-or-later
// The file store as the behaviour suite's store, and what only files can do
// wrong: a store that is missing, unreadable or vanishes, a layer that is a
// FIFO, a folder, a dangling symlink or too large, half-written files, scope
// folders that come and go, permissions, links and symlinks changing under a
// listener, names that cannot name a scope, an inotify instance that cannot
// be had, notices the kernel dropped, a process that exits while it listens.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <thread>

#include "GroupSeam.h"
#include "InotifySeam.h"
#include "StoreTestSupport.h"
#include "SyslogSeam.h"

namespace vesk::legacy::store::test {
namespace {

namespace fs = std::filesystem;

class FilePolicyStore : public TestPolicyStore {
  public:
    void open() override {
        mScratch = std::make_unique<testsupport::TempDir>("vesk-test");
        mTemp = mScratch->path;
        mRoot = mTemp + "/store";
        // A well-formed store without policy: a root holding no scope folder
        // at all reads as an unmounted store, and its first layer would then
        // come as the store's return and the layer's addition apart.
        fs::create_directories(mRoot + "/default");
        ASSERT_EQ(setenv("VESK_POLICY_STORE", mRoot.c_str(), 1), 0);
    }
    void close() override {
        unsetenv("VESK_POLICY_STORE");
        mScratch.reset();
    }
    void writeLayer(const std::string& scope, const std::string& component,
                    const std::string& data) override {
        writeFile(layer(scope, component), data);
    }
    void replaceLayer(const std::string& scope, const std::string& component,
                      const std::string& data) override {
        // Written outside the scope folder, so that only the rename is seen there.
        writeFile(mTemp + "/new", data);
        fs::create_directories(path(scope));
        fs::rename(mTemp + "/new", layer(scope, component));
    }
    void removeLayer(const std::string& scope, const std::string& component) override {
        ASSERT_TRUE(fs::remove(layer(scope, component)));
    }
    long long layerTime(const std::string& scope, const std::string& component) override {
        struct stat info;
        return stat(layer(scope, component).c_str(), &info) == 0 ? info.st_mtime : -1;
    }

    std::string path(const std::string& relative) const { return mRoot + "/" + relative; }
    std::string layer(const std::string& scope, const std::string& component) const {
        return path(scope + "/" + component + ".xml");
    }

    std::unique_ptr<testsupport::TempDir> mScratch;
    std::string mTemp;  // holds the store, so the store itself can vanish
    std::string mRoot;
};

std::unique_ptr<TestPolicyStore> makeFileStore() {
    return std::make_unique<FilePolicyStore>();
}

class FileStoreTest : public ::testing::Test {
  protected:
    void SetUp() override { mStore.open(); }
    void TearDown() override {
        groupseam::clear();
        mStore.close();
    }

    FilePolicyStore mStore;
};

// A store that is not there (yet), or an empty folder where it belongs, is a
// connection failure, never "no layers";
// a session that starts meanwhile keeps listening, and once the store is
// there each listened component hears once, whether it has layers or not.
TEST_F(FileStoreTest, StoreAwayIsConnectionFailureAndItsArrivalOneEventPerComponent) {
    const PermissionsApply permissions;
    const std::string later = mStore.mTemp + "/later";
    const auto storeAt = [](const std::string& path) {
        setenv("VESK_POLICY_STORE", path.c_str(), 1);
    };
    const struct {
        const char* what;
        std::function<void()> away, back;
        std::string reason;  // the end of papiGetFailureDetail's text
    } cases[] = {
        // Neither the store nor the folder holding it exists at first.
        {"missing", [&] { storeAt(later + "/store"); },
         [&] {
             const size_t placed = inotifyseam::watchesOn(later);
             fs::create_directories(later);
             ASSERT_TRUE(
                 testsupport::waitUntil([&] { return inotifyseam::watchesOn(later) > placed; }));
             fs::rename(mStore.mRoot, later + "/store");
         },
         later + "/store: No such file or directory"},
        {"unreadable", [&] { fs::permissions(mStore.mRoot, fs::perms::none); },
         [&] { fs::permissions(mStore.mRoot, fs::perms::owner_all); }, ": Permission denied"},
        {"a file", [&] { storeAt(mStore.layer("default", kComponent)); }, nullptr,
         kComponent + std::string(".xml: Not a directory")},
        // A mount point with nothing mounted: no policy would delete it all.
        // Back as a volume comes: folder and layer at once (made one after the
        // other, a loaded watcher may report the empty folder on its own).
        {"empty", [&] { fs::remove_all(mStore.path("default")); },
         [&] {
             writeFile(mStore.mTemp + "/mounted/" + kComponent + ".xml", "<default/>");
             fs::rename(mStore.mTemp + "/mounted", mStore.path("default"));
         },
         "/store: holds none of default/, groups/, hosts/, users/, entities/ (not mounted?)"},
    };
    for (const auto& step : cases) {
        SCOPED_TRACE(step.what);
        mStore.close();
        mStore.open();
        mStore.writeLayer("default", kComponent, "<default/>");
        step.away();
        PAPI* handle = openHandle();
        Recorder withLayers, without;
        listen(handle, withLayers);
        listen(handle, without, "org.none");
        PAPIStatus status = -1;
        EXPECT_TRUE(describe(handle, kComponent, status).empty());
        EXPECT_EQ(status, PAPIConnectionFailure);
        EXPECT_TRUE(names(handle, "", status).empty());
        EXPECT_EQ(status, PAPIConnectionFailure);
        const std::string detail = failureDetail(handle);
        EXPECT_EQ(detail.substr(detail.size() - std::min(detail.size(), step.reason.size())),
                  step.reason);
        if (step.back) {
            step.back();
            ASSERT_TRUE(withLayers.waitFor(1));
            ASSERT_TRUE(without.waitFor(1));
            EXPECT_TRUE(withLayers.quietAfter(1));
            EXPECT_EQ(withLayers.seen().size(), 1u);
            EXPECT_EQ(without.seen().size(), 1u);
            EXPECT_EQ(withLayers.seen()[0].type, PAPIEventComponentAdded);
            EXPECT_EQ(describe(handle, kComponent, status, false),
                      std::vector<std::string>{"<default/>"});
        }
        closeHandle(handle);
    }
}

// Any error but ENOENT (EACCES takes the same path as ENOTDIR here); files
// that are no layer are not listed.
TEST_F(FileStoreTest, LayerThatCannotBeReadIsDatabaseErrorAndOtherFilesAreNoLayers) {
    const std::string layer = mStore.layer("default", "c");
    struct Case {
        const char* what;
        std::function<void()> make;
        std::string detail;  // a part of what papiGetFailureDetail says
    };
    const Case cases[] = {
        {"fifo", [&] { ASSERT_EQ(mkfifo(layer.c_str(), 0644), 0); },
         layer + ": not a regular file"},
        // Not "no layer": that would read as all its policy removed.
        {"dangling symlink", [&] { fs::create_symlink(mStore.path("gone.xml"), layer); },
         layer + " (a link to nothing): No such file or directory"},
        {"directory", [&] { fs::create_directories(layer); }, layer + ": not a regular file"},
        // A layer in an earlier scope must not be returned on its own.
        {"scope path is a file",
         [&] {
             writeFile(layer, "<default/>");
             writeFile(mStore.path("hosts"), "");
         },
         ": Not a directory"},
        {"larger than 64 MiB",
         [&] {
             writeFile(layer, "");
             ASSERT_EQ(truncate(layer.c_str(), 64 * 1024 * 1024 + 1), 0);
         },
         layer + ": larger than 64 MiB"},
    };
    for (const auto& [what, make, detail] : cases) {
        SCOPED_TRACE(what);
        fs::remove_all(mStore.mRoot);
        fs::create_directories(mStore.path("default"));
        make();
        PAPI* handle = openHandle("kiosk.default");
        PAPIStatus status = -1;
        const auto start = Clock::now();
        EXPECT_EQ(papiReadComponentLayers(handle, "c", &status), nullptr);
        EXPECT_EQ(status, PAPILdbFailure);
        EXPECT_NE(failureDetail(handle).find(detail), std::string::npos) << failureDetail(handle);
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(1));
        closeHandle(handle);
    }

    // An empty default/ is a store without policy.
    fs::remove_all(mStore.mRoot);
    fs::create_directories(mStore.path("default"));
    PAPI* empty = openHandle();
    PAPIStatus read = -1;
    EXPECT_TRUE(describe(empty, kComponent, read).empty());
    EXPECT_EQ(read, PAPISuccess);
    closeHandle(empty);

    fs::remove_all(mStore.mRoot);
    for (const char* file : {"org.a.xml", "readme.txt", "..xml" /* ".." */, ".xml"}) {
        writeFile(mStore.path("default/") + file, "");
    }
    PAPI* handle = openHandle();
    PAPIStatus status = -1;
    EXPECT_EQ(names(handle, "", status), std::vector<std::string>{"org.a"});
    EXPECT_EQ(status, PAPISuccess);
    closeHandle(handle);
    papiGetFailureDetail(handle, nullptr, 0, &status);
    EXPECT_EQ(status, PAPIInvalidArg);

    // A failed papiInitialise, told per thread; cut to the buffer, always
    // terminated, with the whole length returned.
    EXPECT_EQ(papiInitialise("a/b", &status), nullptr);
    EXPECT_EQ(failureDetail(nullptr), "entity \"a/b\" cannot name a store folder");
    char small[5] = "xxxx";
    EXPECT_EQ(papiGetFailureDetail(nullptr, small, sizeof small, &status),
              static_cast<int>(failureDetail(nullptr).size()));
    EXPECT_EQ(status, PAPISuccess);
    EXPECT_EQ(std::string(small), "enti");
}

TEST_F(FileStoreTest, HalfWrittenFilesEndOnTheirCloseAndScopeFoldersThatComeAndGoAreWatched) {
    // Neither users/ nor the user's folder exists when the listener starts.
    const std::string userScope = "users/" + userName();
    fs::create_directories(mStore.path("default"));
    PAPI* handle = openHandle();
    Recorder recorder;
    listen(handle, recorder);
    // Programs a listener starts (the kiosk tools) must not inherit the watch.
    size_t watches = 0;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
        std::error_code gone;
        if (fs::read_symlink(entry.path(), gone).string() == "anon_inode:inotify") {
            ++watches;
            EXPECT_TRUE(fcntl(std::stoi(entry.path().filename()), F_GETFD) & FD_CLOEXEC);
        }
    }
    EXPECT_GT(watches, 0u);

    // Seen when it appears (a file linked into place is complete then); the
    // close brings the event whose read is the whole file.
    const int fd = ::open(mStore.layer("default", kComponent).c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, "<half", 5), 5);
    recorder.waitFor(1, milliseconds(400));  // the event of its appearance, if any
    const size_t beforeClose = recorder.seen().size();
    EXPECT_LE(beforeClose, 1u);
    ASSERT_EQ(write(fd, "/>", 2), 2);
    ASSERT_EQ(close(fd), 0);
    ASSERT_TRUE(recorder.waitFor(beforeClose + 1));
    EXPECT_EQ(recorder.seen()[0].type, PAPIEventComponentAdded);
    PAPIStatus status = -1;
    EXPECT_EQ(describe(handle, kComponent, status, false), std::vector<std::string>{"<half/>"});
    size_t count = recorder.settle();

    const size_t placed = inotifyseam::watchesOn(mStore.path(userScope));
    fs::create_directories(mStore.path(userScope));
    ASSERT_TRUE(testsupport::waitUntil(
        [&] { return inotifyseam::watchesOn(mStore.path(userScope)) > placed; }));
    Clock::time_point changed = Clock::now();
    mStore.writeLayer(userScope, kComponent, "<user/>");
    ASSERT_TRUE(recorder.waitFor(++count));
    EXPECT_EQ(recorder.seen()[count - 1].type, PAPIEventComponentModified);
    EXPECT_LT(recorder.seen()[count - 1].at - changed, milliseconds(1000));

    fs::remove_all(mStore.path("users"));
    ASSERT_TRUE(recorder.waitFor(++count));
    count = recorder.settle();
    // Folder and file in one go: the file may land before its folder is watched.
    mStore.writeLayer(userScope, kComponent, "<user again/>");
    ASSERT_TRUE(recorder.waitFor(++count));
    count = recorder.settle();

    // The whole store swapped for a new one, as a deployment would: nothing
    // while it is gone (readers would only get errors), one event once it is back.
    ASSERT_EQ(rename(mStore.mRoot.c_str(), (mStore.mTemp + "/old").c_str()), 0);
    EXPECT_TRUE(recorder.quietAfter(count, milliseconds(200)));
    writeFile(mStore.mTemp + "/next/default/" + kComponent + ".xml", "<new default/>");
    ASSERT_EQ(rename((mStore.mTemp + "/next").c_str(), mStore.mRoot.c_str()), 0);
    ASSERT_TRUE(recorder.waitFor(count + 1));
    ASSERT_TRUE(recorder.quietAfter(count + 1));
    EXPECT_EQ(recorder.seen()[count].type, PAPIEventComponentModified);
    closeHandle(handle);
}

// Every way a layer or the folder holding it can change under a listener,
// one after the other: each brings an event, and the read after it shows the
// change. Permissions bind the test even as root.
TEST_F(FileStoreTest, EveryWayALayerOrItsFolderChangesIsAnEvent) {
    const PermissionsApply permissions;
    const std::string host = "hosts/" + hostName();
    const std::string user = "users/" + userName();
    const std::string target = mStore.mTemp + "/target.xml";
    mStore.writeLayer(host, kComponent, "<host/>");
    const std::string hardLink = mStore.mTemp + "/host-layer";
    fs::create_hard_link(mStore.layer(host, kComponent), hardLink);
    fs::create_directories(mStore.path(user));
    // Created unreadable: it cannot be watched until it is made readable.
    fs::permissions(mStore.path(host), fs::perms::none);
    const auto placed = [&](const std::string& staged, const std::string& layer) {
        ASSERT_EQ(rename(staged.c_str(), layer.c_str()), 0);
    };
    const struct {
        const char* what;
        std::function<void()> change;
        PAPIStatus status;
        std::vector<std::string> layers;
    } steps[] = {
        {"scope folder made readable",
         [&] { fs::permissions(mStore.path(host), fs::perms::owner_all); },
         PAPISuccess,
         {"<host/>"}},
        {"edit in the folder made readable",
         [&] { mStore.writeLayer(host, kComponent, "<host 2/>"); },
         PAPISuccess,
         {"<host 2/>"}},
        {"layer made unreadable",
         [&] { fs::permissions(mStore.layer(host, kComponent), fs::perms::none); },
         PAPILdbFailure,
         {}},
        {"layer made readable",
         [&] {
             fs::permissions(mStore.layer(host, kComponent),
                             fs::perms::owner_read | fs::perms::owner_write);
         },
         PAPISuccess,
         {"<host 2/>"}},
        {"unnamed file linked into place",
         [&] {
             const int fd = ::open(mStore.path(user).c_str(), O_TMPFILE | O_WRONLY, 0644);
             ASSERT_GE(fd, 0);
             ASSERT_EQ(write(fd, "<user/>", 7), 7);
             const std::string self = "/proc/self/fd/" + std::to_string(fd);
             ASSERT_EQ(linkat(AT_FDCWD, self.c_str(), AT_FDCWD,
                              mStore.layer(user, kComponent).c_str(), AT_SYMLINK_FOLLOW),
                       0);
             close(fd);
         },
         PAPISuccess,
         {"<host 2/>", "<user/>"}},
        {"file linked into place, then its other name removed",
         [&] {
             writeFile(mStore.mTemp + "/staged", "<default/>");
             fs::create_directories(mStore.path("default"));
             ASSERT_EQ(link((mStore.mTemp + "/staged").c_str(),
                            mStore.layer("default", kComponent).c_str()),
                       0);
             fs::remove(mStore.mTemp + "/staged");
         },
         PAPISuccess,
         {"<default/>", "<host 2/>", "<user/>"}},
        {"layer replaced by a symlink",
         [&] {
             writeFile(target, "<linked/>");
             fs::create_symlink(target, mStore.mTemp + "/link");
             placed(mStore.mTemp + "/link", mStore.layer(user, kComponent));
         },
         PAPISuccess,
         {"<default/>", "<host 2/>", "<linked/>"}},
        {"symlink's target edited",
         [&] { writeFile(target, "<linked 2/>"); },
         PAPISuccess,
         {"<default/>", "<host 2/>", "<linked 2/>"}},
        {"symlink's target replaced",
         [&] {
             writeFile(mStore.mTemp + "/new", "<linked 3/>");
             placed(mStore.mTemp + "/new", target);
         },
         PAPISuccess,
         {"<default/>", "<host 2/>", "<linked 3/>"}},
        {"notices lost: the kernel's queue overflowed (the folder's file is no layer)",
         [&] {
             inotifyseam::overflowNext();
             writeFile(mStore.path("default/notes.txt"), "lost");
         },
         PAPISuccess,
         {"<default/>", "<host 2/>", "<linked 3/>"}},
        {"symlink left dangling", [&] { fs::remove(target); }, PAPILdbFailure, {}},
        // Releases switched by a link: layer -> targets/current/u.xml, current -> rel1.
        {"layer linked through a symlinked folder",
         [&] {
             writeFile(mStore.mTemp + "/targets/rel1/u.xml", "<rel1/>");
             writeFile(mStore.mTemp + "/targets/rel2/u.xml", "<rel2/>");
             fs::create_directory_symlink("rel1", mStore.mTemp + "/targets/current");
             fs::create_symlink(mStore.mTemp + "/targets/current/u.xml", mStore.mTemp + "/link");
             placed(mStore.mTemp + "/link", mStore.layer(user, kComponent));
         },
         PAPISuccess,
         {"<default/>", "<host 2/>", "<rel1/>"}},
        {"folder link swapped (ln -s rel2 current.new && mv -T current.new current)",
         [&] {
             fs::create_directory_symlink("rel2", mStore.mTemp + "/targets/current.new");
             placed(mStore.mTemp + "/targets/current.new", mStore.mTemp + "/targets/current");
         },
         PAPISuccess,
         {"<default/>", "<host 2/>", "<rel2/>"}},
        {"target's folder moved away and made again",
         [&] {
             fs::rename(mStore.mTemp + "/targets/rel2", mStore.mTemp + "/old-rel2");
             writeFile(mStore.mTemp + "/next-rel2/u.xml", "<rel2 again/>");
             placed(mStore.mTemp + "/next-rel2", mStore.mTemp + "/targets/rel2");
         },
         PAPISuccess,
         {"<default/>", "<host 2/>", "<rel2 again/>"}},
        {"layer edited in place through a hard link outside the store",
         [&] { writeFile(hardLink, "<host 3/>"); },
         PAPISuccess,
         {"<default/>", "<host 3/>", "<rel2 again/>"}},
    };
    // Another listened component, its layer never changed.
    mStore.writeLayer("default", "org.other", "<other/>");
    PAPI* handle = openHandle();
    Recorder recorder, other;
    listen(handle, recorder);
    listen(handle, other, "org.other");
    PAPIStatus status = -1;
    EXPECT_TRUE(describe(handle, kComponent, status, false).empty());
    EXPECT_EQ(status, PAPILdbFailure);
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        const size_t before = recorder.seen().size();
        step.change();
        ASSERT_TRUE(recorder.waitFor(before + 1));
        recorder.settle(milliseconds(300));  // the rest of its burst
        EXPECT_EQ(describe(handle, kComponent, status, false), step.layers);
        EXPECT_EQ(status, step.status);
    }
    // Once when the store could be read again at the first step, and once for
    // the lost notices.
    const std::vector<Recorder::Seen> heard = other.seen();
    ASSERT_EQ(heard.size(), 2u);
    EXPECT_EQ(heard[1].type, PAPIEventComponentModified);
    closeHandle(handle);
}

// A group whose name cannot name a scope (directory-backed name services
// allow "/") costs that one scope only, with a warning naming it.
TEST_F(FileStoreTest, GroupThatCannotNameAScopeLeavesTheRestOfTheStack) {
    groupseam::set({"staff", "dept/team"});
    const std::string host = "hosts/" + hostName();
    mStore.writeLayer("default", kComponent, "<default/>");
    mStore.writeLayer("groups/staff", kComponent, "<staff/>");
    mStore.writeLayer(host, kComponent, "<host/>");
    mStore.writeLayer("users/" + userName(), kComponent, "<user/>");
    syslogseam::clear();
    PAPI* handle = openHandle();
    PAPIStatus status = -1;
    EXPECT_EQ(describe(handle, kComponent, status, false),
              (std::vector<std::string>{"<default/>", "<staff/>", "<host/>", "<user/>"}));
    EXPECT_EQ(status, PAPISuccess);
    const std::vector<syslogseam::Message> logged = syslogseam::messages();
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged[0].priority, LOG_WARNING);
    EXPECT_EQ(logged[0].text,
              "libvesk: group name cannot name a scope, its layers are left out: \"dept/team\"");
    closeHandle(handle);
}

// An editor saves by renaming the layer away and writing it back: the gap
// delivers nothing, so no listener applies the stack without the layer; a
// layer that stays away is removed after the settling time.
TEST_F(FileStoreTest, LayerRenamedAwayAndBackIsNoRemovalButOneGoneForGoodIs) {
    mStore.writeLayer("default", kComponent, "<default/>");
    mStore.writeLayer("users/" + userName(), kComponent, "<user/>");
    PAPI* handle = openHandle();
    Recorder recorder;
    std::atomic<int> withoutDefault{0};
    recorder.mThen = [&](const PAPIEvent*) {
        PAPIStatus status = -1;
        withoutDefault += describe(handle, kComponent, status, false).size() != 2;
    };
    listen(handle, recorder);
    const std::string layer = mStore.layer("default", kComponent);
    ASSERT_EQ(rename(layer.c_str(), (layer + "~").c_str()), 0);
    EXPECT_FALSE(recorder.waitFor(1, milliseconds(300)));
    writeFile(layer, "<default 2/>");
    ASSERT_TRUE(recorder.waitFor(1));
    EXPECT_EQ(withoutDefault, 0);
    EXPECT_EQ(recorder.seen()[0].type, PAPIEventComponentModified);

    const size_t before = recorder.settle();
    const Clock::time_point removed = Clock::now();
    mStore.removeLayer("default", kComponent);
    ASSERT_TRUE(recorder.waitFor(before + 1));
    EXPECT_GE(recorder.seen()[before].at - removed, milliseconds(2000));
    EXPECT_LT(recorder.seen()[before].at - removed, milliseconds(3000));
    closeHandle(handle);
}

// Without an inotify instance, or with no watch left for a scope folder made
// later, the stack is checked every 2 s, with one warning naming the limit;
// once watches can be had again, edits are told at once.
TEST_F(FileStoreTest, NoInotifyLeftMeansCheckingEveryTwoSecondsUntilItCanWatchAgain) {
    const std::string user = "users/" + userName();
    const struct {
        const char* what;
        int instanceError, watchError;
        const char* sysctl;
    } cases[] = {
        {"instances used up", EMFILE, 0, "fs.inotify.max_user_instances"},
        {"watches used up", 0, ENOSPC, "fs.inotify.max_user_watches"},
    };
    for (const auto& limit : cases) {
        SCOPED_TRACE(limit.what);
        fs::remove_all(mStore.mRoot);
        mStore.writeLayer("default", kComponent, "<default/>");
        syslogseam::clear();
        inotifyseam::refuse(limit.instanceError, 0);
        PAPI* handle = openHandle();
        Recorder recorder;
        listen(handle, recorder);
        inotifyseam::refuse(limit.instanceError, limit.watchError);
        for (int edit = 1; edit <= 2; ++edit) {
            const Clock::time_point changed = Clock::now();
            mStore.writeLayer(user, kComponent, "<user " + std::to_string(edit) + "/>");
            ASSERT_TRUE(recorder.waitFor(edit));
            EXPECT_LT(recorder.seen()[edit - 1].at - changed, milliseconds(3000));
        }
        const std::vector<syslogseam::Message> logged = syslogseam::messages();
        ASSERT_EQ(logged.size(), 1u) << syslogseam::text();
        EXPECT_NE(logged[0].text.find(limit.sysctl), std::string::npos) << logged[0].text;
        EXPECT_NE(logged[0].text.find("every 2 s"), std::string::npos) << logged[0].text;

        const size_t placed = inotifyseam::watchesOn(mStore.path(user));
        inotifyseam::refuse(0, 0);
        // The next check places the watches.
        ASSERT_TRUE(testsupport::waitUntil(
            [&] { return inotifyseam::watchesOn(mStore.path(user)) > placed; }));
        const Clock::time_point changed = Clock::now();
        mStore.writeLayer(user, kComponent, "<user 3/>");
        ASSERT_TRUE(recorder.waitFor(3));
        EXPECT_LT(recorder.seen()[2].at - changed, milliseconds(500));
        closeHandle(handle);
    }
}

// A store on a volume: an empty mount point is no store, and a volume mounted
// over it, or over a scope folder, is seen. In a private mount namespace.
TEST_F(FileStoreTest, VolumeMountedOverTheStoreOrAScopeFolderIsSeen) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const auto mounted = [this] {
        if (unshare(CLONE_NEWNS) != 0 ||
            mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
            std::exit(77);
        }
        const std::string host = mStore.path("hosts/" + hostName());
        fs::remove(mStore.path("default"));  // the folder a volume is mounted on
        PAPI* handle = openHandle();
        Recorder recorder;
        listen(handle, recorder);
        PAPIStatus status = -1;
        describe(handle, kComponent, status);
        bool ok = status == PAPIConnectionFailure && !recorder.waitFor(1, milliseconds(300));
        // The volume comes with its policy.
        ok = ok && mount("store", mStore.mRoot.c_str(), "tmpfs", 0, "size=1m") == 0;
        writeFile(mStore.layer("default", kComponent), "<volume/>");
        fs::create_directories(host);
        ok = ok && recorder.waitFor(1, milliseconds(5000));
        // A scope folder that is a mount point of its own.
        ok = ok && mount("host", host.c_str(), "tmpfs", 0, "size=1m") == 0;
        writeFile(host + "/" + kComponent + ".xml", "<host/>");
        ok = ok && recorder.waitFor(2, milliseconds(5000)) &&
             describe(handle, kComponent, status, false) ==
                 std::vector<std::string>{"<volume/>", "<host/>"};
        closeHandle(handle);
        umount2(host.c_str(), MNT_DETACH);
        umount2(mStore.mRoot.c_str(), MNT_DETACH);
        TearDown();
        std::exit(ok ? 0 : 1);
    };
    EXPECT_EXIT(mounted(), ::testing::ExitedWithCode(0), "");
}

// Each in a child process of its own (that removes its own store).
TEST_F(FileStoreTest, UnwatchableListenerFailsAndExitWithHandlesOpenNeitherCrashesNorHangs) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const auto withoutDescriptors = [this] {
        PAPI* handle = openHandle();
        struct rlimit saved;
        getrlimit(RLIMIT_NOFILE, &saved);
        const int next = dup(0);
        close(next);
        struct rlimit none = saved;
        none.rlim_cur = static_cast<rlim_t>(next);
        setrlimit(RLIMIT_NOFILE, &none);  // none left for the inotify instance
        Recorder recorder;
        PAPIStatus failed = -1, retried = -1, closed = -1;
        PAPIListenerId id =
            papiAddListener(handle, kComponent, Recorder::record, &recorder, &failed);
        setrlimit(RLIMIT_NOFILE, &saved);
        // Nothing was left half set up: the next try works.
        papiAddListener(handle, kComponent, Recorder::record, &recorder, &retried);
        papiDeinitialise(handle, &closed);
        TearDown();
        std::exit(id == nullptr && retried == PAPISuccess && closed == PAPISuccess ? failed : 97);
    };
    EXPECT_EXIT(withoutDescriptors(), ::testing::ExitedWithCode(PAPIUnknownFailure), "");

    const auto exitWhile = [this](bool inCallback) {
        PAPI* handle = openHandle();
        Recorder recorder;
        recorder.mThen = [&](const PAPIEvent*) {
            // A slow listener by design: the exit must not wait for it.
            std::this_thread::sleep_for(milliseconds(inCallback ? 200 : 0));
        };
        listen(handle, recorder);
        mStore.writeLayer("default", kComponent, "x");
        recorder.waitEntered(1);
        TearDown();
        std::exit(0);
    };
    const Clock::time_point start = Clock::now();
    EXPECT_EXIT(exitWhile(false), ::testing::ExitedWithCode(0), "");
    EXPECT_EXIT(exitWhile(true), ::testing::ExitedWithCode(0), "");
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
}

}  // namespace

const TestPolicyStoreFactory kBackend = &makeFileStore;
const char kBackendName[] = "file";

}  // namespace vesk::legacy::store::test
