// Reading layers from the file store: which scopes stack in which order, and
// which statuses a broken store gives.
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

TEST_F(LayerStackTest, StacksRunFromDefaultToTheEntityOwnScope) {
    const std::string user = userName();
    const std::vector<std::string> groups = groupNames();
    const std::string host = hostName();
    ASSERT_FALSE(user.empty());
    ASSERT_FALSE(groups.empty());

    // Written in an order unlike the stacks, with decoys of other entities.
    writeLayer("users/" + user, kComponent, "<user/>");
    writeLayer("entities/kiosk.default", kComponent, "<kiosk/>");
    writeLayer("hosts/" + host, kComponent, "<host/>");
    for (auto group = groups.rbegin(); group != groups.rend(); ++group) {
        writeLayer("groups/" + *group, kComponent, "<group " + *group + "/>");
    }
    writeLayer("default", kComponent, "<default/>");
    for (const char* decoy : {"users/someone-else", "hosts/other-host", "entities/other"}) {
        writeLayer(decoy, kComponent, "<other/>");
    }

    std::vector<std::string> userStack{"default 1733500000=<default/>"};
    for (const std::string& group : groups) {
        userStack.push_back("groups/" + group + " 1733500000=<group " + group + "/>");
    }
    userStack.push_back("hosts/" + host + " 1733500000=<host/>");
    userStack.push_back("users/" + user + " 1733500000=<user/>");
    const std::vector<std::string> kioskStack{"default 1733500000=<default/>",
                                              "hosts/" + host + " 1733500000=<host/>",
                                              "entities/kiosk.default 1733500000=<kiosk/>"};

    for (const char* connection : {static_cast<const char*>(nullptr), "", "kiosk.default"}) {
        SCOPED_TRACE(connection != nullptr ? connection : "null");
        PAPIStatus status = -1;
        PAPI* handle = papiInitialise(connection, &status);
        ASSERT_EQ(status, PAPISuccess);
        EXPECT_EQ(describe(handle, kComponent, status),
                  connection != nullptr && connection[0] != '\0' ? kioskStack : userStack);
        EXPECT_EQ(status, PAPISuccess);
        papiDeinitialise(handle, &status);
        EXPECT_EQ(status, PAPISuccess);
    }
}

TEST_F(LayerStackTest, LayerHoldsExactBytesAndEmptyComponentIsNullWithSuccess) {
    const std::string binary("a\0b\r\n\xff", 6);
    writeLayer("default", "bytes", binary);
    writeLayer("default", "empty", "");
    PAPIStatus status = -1;
    PAPI* handle = papiInitialise("", &status);
    EXPECT_EQ(describe(handle, "bytes", status),
              std::vector<std::string>{"default 1733500000=" + binary});

    PAPILayerEntry* layers = papiReadComponentLayers(handle, "empty", &status);
    ASSERT_NE(layers, nullptr);
    EXPECT_EQ(layers->size, 0);
    EXPECT_NE(layers->data, nullptr);
    papiFreeLayerList(layers);

    status = -1;
    EXPECT_EQ(papiReadComponentLayers(handle, "absent", &status), nullptr);
    EXPECT_EQ(status, PAPISuccess);
    papiDeinitialise(handle, &status);
}

TEST_F(LayerStackTest, NamesThatCouldLeaveTheStoreAreRefused) {
    writeLayer("default", "x", "<secret/>");
    for (const char* connection : {".", "..", "a/b", "../default", "/"}) {
        PAPIStatus status = -1;
        EXPECT_EQ(papiInitialise(connection, &status), nullptr) << connection;
        EXPECT_EQ(status, PAPIInvalidArg) << connection;
    }
    PAPIStatus status = -1;
    PAPI* handle = papiInitialise("kiosk.default", &status);
    for (const char* component : {"", ".", "..", "../default/x", "x/..", "/x"}) {
        status = -1;
        EXPECT_EQ(papiReadComponentLayers(handle, component, &status), nullptr) << component;
        EXPECT_EQ(status, PAPIInvalidArg) << component;
    }
    EXPECT_EQ(papiReadComponentLayers(handle, nullptr, &status), nullptr);
    EXPECT_EQ(status, PAPIInvalidArg);
    papiDeinitialise(handle, &status);
}

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

TEST_F(LayerStackTest, ComponentNamesComeFromEveryScopeOfTheStackAscending) {
    writeLayer("default", "org.b", "");
    writeLayer("default", "org.a", "");
    writeLayer("hosts/" + hostName(), "org.a", "");
    writeLayer("users/" + userName(), "com.c", "");
    writeLayer("users/someone-else", "org.hidden", "");
    writeLayer("default", "notes", "");
    writeStoreFile("default/readme.txt", "");
    writeStoreFile("default/..xml", "");  // would be the component ".."
    writeStoreFile("default/.xml", "");

    PAPIStatus status = -1;
    PAPI* handle = papiInitialise("", &status);
    const auto list = [&](const char* selector) {
        std::vector<std::string> names;
        PAPINameEntry* head = papiListComponentNames(handle, selector, &status);
        for (const PAPINameEntry* entry = head; entry != nullptr; entry = entry->next) {
            names.push_back(entry->name);
        }
        papiFreeStringList(head);
        return names;
    };
    EXPECT_EQ(list(""), (std::vector<std::string>{"com.c", "notes", "org.a", "org.b"}));
    EXPECT_EQ(status, PAPISuccess);
    EXPECT_EQ(list(nullptr), list(""));
    EXPECT_EQ(list("org."), (std::vector<std::string>{"org.a", "org.b"}));
    EXPECT_TRUE(list("zzz").empty());
    EXPECT_EQ(status, PAPISuccess);
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

TEST_F(LayerStackTest, StaleForeignAndNullHandlesAreInvalidAndNeverUsed) {
    writeLayer("default", kComponent, "<default/>");
    PAPIStatus status = -1;
    PAPI* stale = papiInitialise("", &status);
    PAPI* other = papiInitialise("kiosk.default", &status);
    papiDeinitialise(stale, &status);
    ASSERT_EQ(status, PAPISuccess);
    int local = 0;
    PAPI* foreign = reinterpret_cast<PAPI*>(&local);

    const auto callback = [](const PAPIEvent*, void*) {};
    for (PAPI* handle : {stale, foreign, static_cast<PAPI*>(nullptr)}) {
        status = -1;
        EXPECT_EQ(papiReadComponentLayers(handle, kComponent, &status), nullptr);
        EXPECT_EQ(status, PAPIInvalidArg);
        status = -1;
        EXPECT_EQ(papiListComponentNames(handle, "", &status), nullptr);
        EXPECT_EQ(status, PAPIInvalidArg);
        status = -1;
        EXPECT_EQ(papiAddListener(handle, kComponent, callback, nullptr, &status), nullptr);
        EXPECT_EQ(status, PAPIInvalidArg);
        status = -1;
        papiDeinitialise(handle, &status);
        EXPECT_EQ(status, PAPIInvalidArg);
    }

    // A listener id belongs to its handle, and goes with its removal.
    PAPIListenerId id = papiAddListener(other, kComponent, callback, nullptr, &status);
    ASSERT_EQ(status, PAPISuccess);
    PAPI* third = papiInitialise("", &status);
    const std::vector<std::pair<PAPI*, PAPIListenerId>> removals{
        {third, id}, {stale, id}, {other, nullptr}, {other, id}, {other, id}};
    for (size_t i = 0; i < removals.size(); ++i) {
        papiRemoveListener(removals[i].first, removals[i].second, &status);
        EXPECT_EQ(status, i == 3 ? PAPISuccess : PAPIInvalidArg) << i;
    }
    EXPECT_EQ(papiAddListener(other, kComponent, nullptr, nullptr, &status), nullptr);
    EXPECT_EQ(status, PAPIInvalidArg);
    EXPECT_EQ(papiAddListener(other, "../x", callback, nullptr, &status), nullptr);
    EXPECT_EQ(status, PAPIInvalidArg);

    papiFreeLayerList(nullptr);
    papiFreeStringList(nullptr);
    papiDeinitialise(third, &status);
    papiDeinitialise(other, &status);
    EXPECT_EQ(status, PAPISuccess);
}

}  // namespace
}  // namespace vesk::legacy::store::test
