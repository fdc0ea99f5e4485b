// What only the directory backend does: reaching and signing in to the
// server, names that are DN or filter syntax, names that differ in case,
// entries that are no proper layer, and renamed layers.
#include <gtest/gtest.h>
#include <ldap.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>

#include "DirectoryPolicyStore.h"
#include "TestSupport.h"

namespace vesk::legacy::store::test {
namespace {

using std::chrono::milliseconds;

class DirectoryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        mDirectory = sharedDirectory(error);
        ASSERT_NE(mDirectory, nullptr) << error;
        ASSERT_TRUE(mDirectory->start(error)) << error;
        mBase = freshBase(*mDirectory);
        setenv("VESK_POLICY_STORE", mDirectory->url(mBase).c_str(), 1);
    }

    void TearDown() override {
        for (const char* name :
             {"VESK_POLICY_STORE", "VESK_LDAP_BINDDN", "VESK_LDAP_PASSWORD_FILE"}) {
            unsetenv(name);
        }
        std::remove(passwordFile().c_str());
    }

    void writeLayer(const std::string& scope, const std::string& component,
                    const std::string& data) {
        ensureScope(*mDirectory, scope, mBase);
        ASSERT_EQ(
            mDirectory->addEntry(
                layerDnOf(scope, component, mBase),
                {{"objectClass", {"veskLayer"}}, {"cn", {component}}, {"veskLayerData", {data}}}),
            LDAP_SUCCESS)
            << component;
    }

    std::vector<std::string> list(PAPI* handle, const char* selector, PAPIStatus& status) {
        std::vector<std::string> names;
        PAPINameEntry* head = papiListComponentNames(handle, selector, &status);
        for (const PAPINameEntry* entry = head; entry != nullptr; entry = entry->next) {
            names.push_back(entry->name);
        }
        papiFreeStringList(head);
        return names;
    }

    // The layers' data only, most general first.
    std::vector<std::string> data(PAPI* handle, const std::string& component, PAPIStatus& status) {
        std::vector<std::string> layers;
        PAPILayerEntry* head = papiReadComponentLayers(handle, component.c_str(), &status);
        for (const PAPILayerEntry* layer = head; layer != nullptr; layer = layer->next) {
            layers.emplace_back(layer->data, static_cast<size_t>(layer->size));
        }
        papiFreeLayerList(head);
        return layers;
    }

    std::string passwordFile() const { return mDirectory->folder() + "/password"; }

    void writePasswordFile(const std::string& text, mode_t mode) {
        std::remove(passwordFile().c_str());
        std::ofstream(passwordFile()) << text;
        ASSERT_EQ(chmod(passwordFile().c_str(), mode), 0);
    }

    TestDirectory* mDirectory = nullptr;
    std::string mBase;
};

TEST_F(DirectoryTest, StatusesOfReachingAndSigningIn) {
    const std::string good = TestDirectory::kReaderPassword;
    const std::string here = mDirectory->url(mBase);
    const char* reader = TestDirectory::kReaderDn;
    struct Case {
        const char* what;
        std::string store;
        const char* bindDn;    // null: no simple bind
        std::string password;  // written to the password file unless empty
        mode_t mode;
        PAPIStatus status;
    };
    const std::vector<Case> cases{
        {"anonymous", here, nullptr, "", 0, PAPISuccess},
        {"local socket, SASL EXTERNAL", mDirectory->localUrl(mBase), nullptr, "", 0, PAPISuccess},
        {"reader with its password file", here, reader, good + "\n", 0600, PAPISuccess},
        {"no base DN", mDirectory->url(""), nullptr, "", 0, PAPIConnectionFailure},
        {"base DN that is no DN", mDirectory->url("no%20dn"), nullptr, "", 0,
         PAPIConnectionFailure},
        {"a query after the DN", here + "?cn?sub", nullptr, "", 0, PAPIConnectionFailure},
        {"base entry missing", mDirectory->url(std::string("ou=absent,") + TestDirectory::kSuffix),
         nullptr, "", 0, PAPIConnectionFailure},
        {"nothing listening", "ldap://127.0.0.1:1/dc=x", nullptr, "", 0, PAPIConnectionFailure},
        {"wrong password", here, reader, "not-" + good, 0600, PAPIAuthenticationFailure},
        {"unknown bind DN", here, "cn=nobody,dc=vesk,dc=test", good, 0600,
         PAPIAuthenticationFailure},
        {"password file others may read", here, reader, good, 0640, PAPIAuthenticationFailure},
        // An empty password would be an unauthenticated bind: anonymous in disguise.
        {"empty password file", here, reader, "\n", 0600, PAPIAuthenticationFailure},
        {"bind DN without a password file", here, reader, "", 0, PAPIAuthenticationFailure},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TearDown();
        setenv("VESK_POLICY_STORE", c.store.c_str(), 1);
        if (c.bindDn != nullptr) {
            setenv("VESK_LDAP_BINDDN", c.bindDn, 1);
            setenv("VESK_LDAP_PASSWORD_FILE", passwordFile().c_str(), 1);
        }
        if (!c.password.empty()) {
            writePasswordFile(c.password, c.mode);
        }
        PAPIStatus status = -1;
        PAPI* handle = papiInitialise("", &status);
        EXPECT_EQ(status, c.status);
        EXPECT_EQ(handle != nullptr, c.status == PAPISuccess);
        papiDeinitialise(handle, &status);
    }
}

TEST_F(DirectoryTest, WrongPasswordAppearsNowhereInTheOutput) {
    const std::string wrong = "wr0ng-Pa55word-7d1c";
    writePasswordFile(wrong, 0600);
    setenv("VESK_LDAP_BINDDN", TestDirectory::kReaderDn, 1);
    setenv("VESK_LDAP_PASSWORD_FILE", passwordFile().c_str(), 1);
    const std::string output = mDirectory->folder() + "/child-output";
    std::remove(output.c_str());
    const int status = runInChild([&] {
        FILE* file = std::fopen(output.c_str(), "w");
        if (file == nullptr) {
            return 99;
        }
        dup2(fileno(file), 1);
        dup2(fileno(file), 2);
        PAPIStatus opened = -1;
        PAPI* handle = papiInitialise("", &opened);
        std::printf("status %d\n", opened);
        std::fflush(stdout);
        papiDeinitialise(handle, &opened);
        return 0;
    });
    ASSERT_EQ(status, 0);
    std::ifstream in(output);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, "status 2\n");
    EXPECT_EQ(text.find(wrong), std::string::npos);
}

TEST_F(DirectoryTest, NamesWithDnAndFilterSyntaxReadOnlyTheirOwnLayer) {
    const std::vector<std::string> components{
        "a,b",     "x+y=z",      "#lead",   " space ", "back\\slash", "star*",
        "(paren)", "semi;colon", "quote\"", "<angle>", "trail\\",     "caf\xc3\xa9.\xc3\xbc"};
    for (const std::string& component : components) {
        writeLayer("default", component, "<" + component + "/>");
    }
    writeLayer("entities/x", "org.e", "<entity x/>");
    writeLayer("entities/kiosk,cn=x", "org.e", "<entity kiosk,cn=x/>");

    PAPIStatus status = -1;
    PAPI* handle = papiInitialise("", &status);
    ASSERT_EQ(status, PAPISuccess);
    for (const std::string& component : components) {
        EXPECT_EQ(data(handle, component, status), std::vector<std::string>{"<" + component + "/>"})
            << component;
        EXPECT_EQ(status, PAPISuccess) << component;
    }
    for (const char* none : {"*", "a", "(cn=*)", "a\\2cb", "x)(cn=*"}) {
        EXPECT_TRUE(data(handle, none, status).empty()) << none;
        EXPECT_EQ(status, PAPISuccess) << none;
    }
    std::vector<std::string> sorted = components;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(list(handle, "", status), sorted);
    EXPECT_TRUE(list(handle, "*", status).empty());
    EXPECT_EQ(list(handle, "(", status), std::vector<std::string>{"(paren)"});
    EXPECT_EQ(list(handle, "star*", status), std::vector<std::string>{"star*"});
    EXPECT_EQ(list(handle, "caf\xc3", status), std::vector<std::string>{"caf\xc3\xa9.\xc3\xbc"});
    EXPECT_EQ(status, PAPISuccess);
    papiDeinitialise(handle, &status);

    handle = papiInitialise("kiosk,cn=x", &status);
    ASSERT_EQ(status, PAPISuccess);
    EXPECT_EQ(data(handle, "org.e", status), std::vector<std::string>{"<entity kiosk,cn=x/>"});
    papiDeinitialise(handle, &status);
}

TEST_F(DirectoryTest, NamesThatDifferOnlyInCaseAreOtherLayers) {
    // The directory matches cn and uid without regard to case; file names do not.
    writeLayer("default", "Org.Case", "<default/>");
    std::string upper = userName();
    for (char& c : upper) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    ASSERT_NE(upper, userName());
    writeLayer("users/" + upper, "org.user", "<not ours/>");

    PAPIStatus status = -1;
    PAPI* handle = papiInitialise("", &status);
    EXPECT_TRUE(data(handle, "org.case", status).empty());
    EXPECT_EQ(status, PAPISuccess);
    EXPECT_EQ(data(handle, "Org.Case", status), std::vector<std::string>{"<default/>"});
    EXPECT_TRUE(data(handle, "org.user", status).empty());
    EXPECT_TRUE(list(handle, "org", status).empty());
    EXPECT_EQ(list(handle, "", status), std::vector<std::string>{"Org.Case"});
    papiDeinitialise(handle, &status);
}

TEST_F(DirectoryTest, EntryThatIsNoProperLayerIsDatabaseError) {
    ensureScope(*mDirectory, "default", mBase);
    ASSERT_EQ(mDirectory->addEntry(layerDnOf("default", "role", mBase),
                                   {{"objectClass", {"organizationalRole"}}, {"cn", {"role"}}}),
              LDAP_SUCCESS);
    writeLayer("default", "huge", std::string(64 * 1024 * 1024 + 1, 'x'));
    writeLayer("default", "fine", "<fine/>");
    PAPIStatus status = -1;
    PAPI* handle = papiInitialise("kiosk.default", &status);
    for (const char* component : {"role", "huge"}) {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(papiReadComponentLayers(handle, component, &status), nullptr) << component;
        EXPECT_EQ(status, PAPILdbFailure) << component;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    }
    // The connection is still good for the next read.
    EXPECT_EQ(data(handle, "fine", status), std::vector<std::string>{"<fine/>"});
    papiDeinitialise(handle, &status);
}

TEST_F(DirectoryTest, RenamedLayerGivesBothComponentsTheirEvent) {
    writeLayer("default", "org.old", "<layer/>");
    PAPIStatus status = -1;
    PAPI* handle = papiInitialise("", &status);
    Recorder before;
    Recorder after;
    papiAddListener(handle, "org.old", Recorder::record, &before, &status);
    papiAddListener(handle, "org.new", Recorder::record, &after, &status);
    ASSERT_EQ(status, PAPISuccess);
    ASSERT_EQ(mDirectory->rename(layerDnOf("default", "org.old", mBase), "cn=org.new"),
              LDAP_SUCCESS);
    ASSERT_TRUE(before.waitFor(1));
    ASSERT_TRUE(after.waitFor(1));
    EXPECT_EQ(before.seen()[0].type, PAPIEventComponentRemoved);
    EXPECT_EQ(after.seen()[0].type, PAPIEventComponentAdded);
    EXPECT_EQ(data(handle, "org.new", status), std::vector<std::string>{"<layer/>"});
    papiDeinitialise(handle, &status);
}

}  // namespace
}  // namespace vesk::legacy::store::test
