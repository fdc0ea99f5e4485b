// The file store as the behaviour suite's store, and what only files can do
// wrong: a store that is missing or vanishes, a layer that is a FIFO, a folder
// or too large, half-written files, scope folders that come and go, an inotify
// instance that cannot be had, a process that exits while it listens.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <thread>

#include "TestSupport.h"

namespace vesk::legacy::store::test {
namespace {

namespace fs = std::filesystem;

class FilePolicyStore : public TestPolicyStore {
  public:
    void open() override {
        char pattern[] = "/tmp/vesk-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        mTemp = pattern;
        mRoot = mTemp + "/store";
        fs::create_directories(mRoot);
        ASSERT_EQ(setenv("VESK_POLICY_STORE", mRoot.c_str(), 1), 0);
    }
    void close() override {
        unsetenv("VESK_POLICY_STORE");
        fs::remove_all(mTemp);
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

    std::string mTemp;  // holds the store, so the store itself can vanish
    std::string mRoot;
};

std::unique_ptr<TestPolicyStore> makeFileStore() {
    return std::make_unique<FilePolicyStore>();
}

class FileStoreTest : public ::testing::Test {
  protected:
    void SetUp() override { mStore.open(); }
    void TearDown() override { mStore.close(); }

    FilePolicyStore mStore;
};

TEST_F(FileStoreTest, MissingOrVanishedStoreIsConnectionFailureNeverEmpty) {
    PAPIStatus status = -1;
    mStore.writeLayer("default", kComponent, "<default/>");
    for (const auto& [store, reason] :
         {std::pair<std::string, std::string>{mStore.path("absent"), "No such file or directory"},
          {mStore.layer("default", kComponent), "Not a directory"}}) {
        setenv("VESK_POLICY_STORE", store.c_str(), 1);
        EXPECT_EQ(papiInitialise("", &status), nullptr) << store;
        EXPECT_EQ(status, PAPIConnectionFailure) << store;
        EXPECT_EQ(failureDetail(nullptr), store + ": " + reason);
    }
    // Cut to the buffer, always terminated, with the whole length returned.
    char small[5] = "xxxx";
    EXPECT_EQ(papiGetFailureDetail(nullptr, small, sizeof small, &status),
              static_cast<int>(failureDetail(nullptr).size()));
    EXPECT_EQ(status, PAPISuccess);
    EXPECT_EQ(std::string(small), failureDetail(nullptr).substr(0, 4));
    setenv("VESK_POLICY_STORE", mStore.mRoot.c_str(), 1);
    PAPI* handle = openHandle();
    fs::remove_all(mStore.mRoot);
    EXPECT_EQ(papiReadComponentLayers(handle, kComponent, &status), nullptr);
    EXPECT_EQ(status, PAPIConnectionFailure);
    EXPECT_TRUE(names(handle, "", status).empty());
    EXPECT_EQ(status, PAPIConnectionFailure);
    EXPECT_EQ(failureDetail(handle), mStore.mRoot + ": No such file or directory");
    closeHandle(handle);
    papiGetFailureDetail(handle, nullptr, 0, &status);
    EXPECT_EQ(status, PAPIInvalidArg);
}

// Any error but ENOENT (EACCES takes the same path as ENOTDIR here); files
// that are no layer are not listed.
TEST_F(FileStoreTest, LayerThatCannotBeReadIsDatabaseErrorAndOtherFilesAreNoLayers) {
    const std::string layer = mStore.layer("default", "c");
    struct Case {
        const char* what;
        std::function<void()> make;
        std::string detail;  // what papiGetFailureDetail says
    };
    const Case cases[] = {
        {"fifo", [&] { ASSERT_EQ(mkfifo(layer.c_str(), 0644), 0); },
         layer + ": not a regular file"},
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

    fs::remove_all(mStore.mRoot);
    for (const char* file : {"org.a.xml", "readme.txt", "..xml" /* ".." */, ".xml"}) {
        writeFile(mStore.path("default/") + file, "");
    }
    PAPI* handle = openHandle();
    PAPIStatus status = -1;
    EXPECT_EQ(names(handle, "", status), std::vector<std::string>{"org.a"});
    EXPECT_EQ(status, PAPISuccess);
    closeHandle(handle);
}

TEST_F(FileStoreTest, HalfWrittenFilesWaitAndScopeFoldersThatComeAndGoAreWatched) {
    // Neither users/ nor the user's folder exists when the listener starts.
    const std::string userScope = "users/" + userName();
    fs::create_directories(mStore.path("default"));
    PAPI* handle = openHandle();
    Recorder recorder;
    listen(handle, recorder);

    const int fd = ::open(mStore.layer("default", kComponent).c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, "<half", 5), 5);
    EXPECT_FALSE(recorder.waitFor(1, milliseconds(400))) << "reported before it was closed";
    ASSERT_EQ(write(fd, "/>", 2), 2);
    Clock::time_point changed = Clock::now();
    ASSERT_EQ(close(fd), 0);
    ASSERT_TRUE(recorder.waitFor(1));
    EXPECT_EQ(recorder.seen()[0].type, PAPIEventComponentAdded);
    EXPECT_LT(recorder.seen()[0].at - changed, milliseconds(1000));

    fs::create_directories(mStore.path(userScope));
    std::this_thread::sleep_for(milliseconds(200));
    changed = Clock::now();
    mStore.writeLayer(userScope, kComponent, "<user/>");
    ASSERT_TRUE(recorder.waitFor(2));
    EXPECT_EQ(recorder.seen()[1].type, PAPIEventComponentModified);
    EXPECT_LT(recorder.seen()[1].at - changed, milliseconds(1000));

    fs::remove_all(mStore.path("users"));
    ASSERT_TRUE(recorder.waitFor(3));
    std::this_thread::sleep_for(milliseconds(200));
    // Folder and file in one go: the file may land before its folder is watched.
    mStore.writeLayer(userScope, kComponent, "<user again/>");
    ASSERT_TRUE(recorder.waitFor(4));

    // The whole store swapped for a new one, as a deployment would: nothing
    // while it is gone (readers would only get errors), an event once it is back.
    ASSERT_EQ(rename(mStore.mRoot.c_str(), (mStore.mTemp + "/old").c_str()), 0);
    std::this_thread::sleep_for(milliseconds(200));
    mStore.writeLayer("default", kComponent, "<new default/>");
    ASSERT_TRUE(recorder.waitFor(5));
    std::this_thread::sleep_for(kSettle);
    ASSERT_EQ(recorder.seen().size(), 5u);
    EXPECT_EQ(recorder.seen()[4].type, PAPIEventComponentModified);
    closeHandle(handle);
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
