// Reading layers from the file store: what only files can do wrong (a store
// that vanishes, a layer that is a FIFO or a folder, an unreadable file).
// What every backend does alike is in PolicyBehaviourTest.
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <functional>

#include "TestStore.h"

namespace vesk::legacy::store::test {
namespace {

const char kComponent[] = "com.orvek.ferrun.applications";

class LayerStackTest : public TestStore {};

TEST_F(LayerStackTest, MissingOrVanishedStoreIsConnectionFailureNeverEmpty) {
    PAPIStatus status = -1;
    setenv("VESK_POLICY_STORE", path("absent").c_str(), 1);
    EXPECT_EQ(papiInitialise("", &status), nullptr);
    EXPECT_EQ(status, PAPIConnectionFailure);

    writeLayer("not-a-folder", "x", "");
    setenv("VESK_POLICY_STORE", path("not-a-folder/x.xml").c_str(), 1);
    EXPECT_EQ(papiInitialise("", &status), nullptr);
    EXPECT_EQ(status, PAPIConnectionFailure);

    setenv("VESK_POLICY_STORE", mRoot.c_str(), 1);
    writeLayer("default", kComponent, "<default/>");
    PAPI* handle = papiInitialise("", &status);
    ASSERT_EQ(status, PAPISuccess);
    removeTree("");
    status = -1;
    EXPECT_EQ(papiReadComponentLayers(handle, kComponent, &status), nullptr);
    EXPECT_EQ(status, PAPIConnectionFailure);
    status = -1;
    EXPECT_EQ(papiListComponentNames(handle, "", &status), nullptr);
    EXPECT_EQ(status, PAPIConnectionFailure);
    papiDeinitialise(handle, &status);
}

TEST_F(LayerStackTest, LayerThatCannotBeReadIsDatabaseError) {
    struct Case {
        const char* what;
        std::function<void()> make;
    };
    const std::vector<Case> cases{
        {"fifo",
         [&] {
             makeFolder("default");
             ASSERT_EQ(mkfifo(path("default/c.xml").c_str(), 0644), 0);
         }},
        {"directory", [&] { makeFolder("default/c.xml"); }},
        // A layer in an earlier scope must not be returned on its own.
        {"scope path is a file",
         [&] {
             writeLayer("default", "c", "<default/>");
             writeStoreFile("hosts", "");
         }},
        {"larger than 64 MiB",
         [&] {
             writeLayer("default", "c", "");
             ASSERT_EQ(truncate(path("default/c.xml").c_str(), 64 * 1024 * 1024 + 1), 0);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        removeTree("");
        makeFolder("");
        c.make();
        PAPIStatus status = -1;
        PAPI* handle = papiInitialise("kiosk.default", &status);
        ASSERT_EQ(status, PAPISuccess);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(papiReadComponentLayers(handle, "c", &status), nullptr);
        EXPECT_EQ(status, PAPILdbFailure);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
        papiDeinitialise(handle, &status);
    }
}

TEST_F(LayerStackTest, UnreadableLayerIsDatabaseError) {
    // Root reads any file, so a child drops to an unprivileged user first.
    if (getuid() != 0) {
        GTEST_SKIP() << "needs root to drop privileges";
    }
    ASSERT_EQ(chmod(mTemp.c_str(), 0755), 0);
    writeLayer("default", "open", "<open/>");
    writeLayer("default", "locked", "<locked/>");
    ASSERT_EQ(chmod(path("default/locked.xml").c_str(), 0), 0);
    const int result = runInChild([] {
        const gid_t nobody = 65534;
        if (setgroups(0, nullptr) != 0 || setgid(nobody) != 0 || setuid(nobody) != 0) {
            return 99;
        }
        PAPIStatus status = -1;
        PAPI* handle = papiInitialise("kiosk.default", &status);
        PAPIStatus open = -1;
        PAPIStatus locked = -1;
        papiFreeLayerList(papiReadComponentLayers(handle, "open", &open));
        papiFreeLayerList(papiReadComponentLayers(handle, "locked", &locked));
        papiDeinitialise(handle, &status);
        return status == PAPISuccess && open == PAPISuccess ? locked : 97;
    });
    EXPECT_EQ(result, PAPILdbFailure);
}

TEST_F(LayerStackTest, FilesThatAreNotLayersAreNotListed) {
    writeLayer("default", "org.a", "");
    writeStoreFile("default/readme.txt", "");
    writeStoreFile("default/..xml", "");  // would be the component ".."
    writeStoreFile("default/.xml", "");
    PAPIStatus status = -1;
    PAPI* handle = papiInitialise("", &status);
    PAPINameEntry* head = papiListComponentNames(handle, "", &status);
    EXPECT_EQ(status, PAPISuccess);
    ASSERT_NE(head, nullptr);
    EXPECT_STREQ(head->name, "org.a");
    EXPECT_EQ(head->next, nullptr);
    papiFreeStringList(head);
    papiDeinitialise(handle, &status);
}

TEST_F(LayerStackTest, SampleStoreServesTheDemoComponents) {
    setenv("VESK_POLICY_STORE", HOLLIN_SOURCE_DIR "/examples/store", 1);
    struct Case {
        const char* connection;
        const char* component;
        std::vector<std::string> scopes;
    };
    const std::vector<Case> cases{
        {"", "com.orvek.ferrun.applications", {"default"}},
        {"", "com.orvek.Lumora.Apps", {}},
        {"kiosk.default", "com.orvek.Lumora.Apps", {"entities/kiosk.default"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.component);
        PAPIStatus status = -1;
        PAPI* handle = papiInitialise(c.connection, &status);
        ASSERT_EQ(status, PAPISuccess);
        std::vector<std::string> scopes;
        for (const std::string& layer : describe(handle, c.component, status)) {
            EXPECT_NE(layer.find("=<?xml"), std::string::npos);
            EXPECT_NE(layer.find("<zel:component-data"), std::string::npos);
            scopes.push_back(layer.substr(0, layer.find(' ')));
        }
        EXPECT_EQ(status, PAPISuccess);
        EXPECT_EQ(scopes, c.scopes);
        papiDeinitialise(handle, &status);
    }
}

}  // namespace
}  // namespace vesk::legacy::store::test
