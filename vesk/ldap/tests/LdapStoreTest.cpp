// SPDX-License-Identifier: LGPL-2.1-or-later
// The private directory as the behaviour suite's store, and what only the
// directory backend does: reaching and signing in to the server, names that
// are DN or filter syntax or differ only in case, entries that are no proper
// layer, renamed layers, the server going away under a listening desktop; the
// programs on it: deskrunner and startlist following an edit made with
// ldapmodify; and a replicated fleet over TLS: consumers that stop, restart
// stale, or show a certificate the desktop's CA did not sign.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <thread>

#include "FakeLdapServer.h"
#include "LdapLocation.h"
#include "LdapSession.h"
#include "StoreTestSupport.h"
#include "TestDirectory.h"
#include "TestFleet.h"

namespace vesk::legacy::store::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Layers = std::vector<std::string>;

std::string hexPairs(const std::string& value) {
    std::string pairs;
    for (unsigned char c : value) {
        pairs += {'\\', "0123456789abcdef"[c >> 4], "0123456789abcdef"[c & 15]};
    }
    return pairs;
}

// The private directory of the test binary, started on first use and stopped at exit.
TestDirectory& sharedDirectory() {
    static TestDirectory directory(HOLLIN_SOURCE_DIR "/vesk/ldap/vesk.ldif");
    return directory;
}

class DirectoryPolicyStore : public TestPolicyStore {
  public:
    void open() override {
        static int sCount = 0;
        std::string error;
        ASSERT_TRUE(mDirectory.start(error)) << error;
        const std::string ou = "t" + std::to_string(++sCount);
        mBase = "ou=" + ou + "," + TestDirectory::kSuffix;
        ASSERT_EQ(
            mDirectory.addEntry(mBase, {{"objectClass", {"organizationalUnit"}}, {"ou", {ou}}}),
            LDAP_SUCCESS);
        ASSERT_EQ(setenv("VESK_POLICY_STORE", mDirectory.url(mBase).c_str(), 1), 0);
    }
    void close() override { unsetenv("VESK_POLICY_STORE"); }
    void writeLayer(const std::string& scope, const std::string& component,
                    const std::string& data) override {
        ensureScope(scope);
        const int added = mDirectory.addEntry(
            dn(scope, component),
            {{"objectClass", {"veskLayer"}}, {"cn", {component}}, {"veskLayerData", {data}}});
        ASSERT_EQ(added == LDAP_ALREADY_EXISTS
                      ? mDirectory.replaceValues(dn(scope, component), "veskLayerData", {data})
                      : added,
                  LDAP_SUCCESS)
            << component;
    }
    void removeLayer(const std::string& scope, const std::string& component) override {
        ASSERT_EQ(mDirectory.deleteEntry(dn(scope, component)), LDAP_SUCCESS);
    }
    long long layerTime(const std::string& scope, const std::string& component) override {
        return mDirectory.modifyTime(dn(scope, component));
    }

    // The DN of a scope ("users/alice"), or of a layer in it, with every value
    // written as hex pairs: it does not rest on the escaping under test.
    std::string dn(const std::string& scope, const std::string& component = "") const {
        const size_t slash = scope.find('/');
        std::string dn = "ou=" + scope.substr(0, slash) + "," + mBase;
        if (slash != std::string::npos) {
            dn = (scope.compare(0, slash, "users") == 0 ? "uid=" : "cn=") +
                 hexPairs(scope.substr(slash + 1)) + "," + dn;
        }
        return component.empty() ? dn : "cn=" + hexPairs(component) + "," + dn;
    }
    void ensureScope(const std::string& scope) {
        const size_t slash = scope.find('/');
        const std::string folder = scope.substr(0, slash);
        std::vector<int> added{
            mDirectory.addEntry("ou=" + folder + "," + mBase,
                                {{"objectClass", {"organizationalUnit"}}, {"ou", {folder}}})};
        if (slash != std::string::npos) {
            added.push_back(mDirectory.addEntry(
                dn(scope), {{"objectClass", {"veskScope"}},
                            {folder == "users" ? "uid" : "cn", {scope.substr(slash + 1)}}}));
        }
        for (const int code : added) {
            ASSERT_TRUE(code == LDAP_SUCCESS || code == LDAP_ALREADY_EXISTS)
                << scope << ": " << code;
        }
    }

    TestDirectory& mDirectory = sharedDirectory();
    std::string mBase;  // new and empty for each store
};

std::unique_ptr<TestPolicyStore> makeLdapStore() {
    return std::make_unique<DirectoryPolicyStore>();
}

const std::string kBin = HOLLIN_BINARY_DIR "/bin/";
const std::string kData = HOLLIN_SOURCE_DIR "/vesk/ldap/tests/data/";

// A program started for a test, killed at its end if it still runs then.
struct Program {
    ~Program() {
        if (mPid > 0 && finish(0ms) == -1) {
            kill(mPid, SIGKILL);
            waitpid(mPid, nullptr, 0);
        }
    }
    int finish(milliseconds timeout) {
        const int status = TestDirectory::finish(mPid, timeout);
        mPid = status == -1 ? mPid : 0;
        return status;
    }
    pid_t mPid;
};

class LdapStoreTest : public ::testing::Test {
  protected:
    void SetUp() override {
        mStore.open();
        fs::create_directories(scratch());
    }
    void TearDown() override {
        std::string error;
        EXPECT_TRUE(mDirectory.start(error)) << error;
        mStore.close();
        unsetenv("VESK_LDAP_BINDDN");
        unsetenv("VESK_LDAP_PASSWORD_FILE");
    }

    // A folder of this test's own, also the programs' HOME.
    std::string scratch() const {
        return mDirectory.folder() + "/" + mStore.mBase.substr(3, mStore.mBase.find(',') - 3);
    }
    Program run(const std::string& program) {
        return {TestDirectory::spawn(
            {kBin + program}, scratch() + "/" + program + ".log",
            {{"HOME", scratch()}, {"VESKLEG_LOG", "1"}, {"VESKLEG_LOG_LEVEL", "Info"}})};
    }
    // ldapmodify as the administrator; its exit status.
    int ldapmodify(const std::string& ldif) {
        return TestDirectory::runTool(
            {"/usr/bin/ldapmodify", "-x", "-H", mDirectory.url(""), "-D", TestDirectory::kAdminDn,
             "-w", TestDirectory::kAdminPassword, "-f", ldif},
            scratch() + "/ldap.log");
    }

    DirectoryPolicyStore mStore;
    TestDirectory& mDirectory = mStore.mDirectory;
};

TEST_F(LdapStoreTest, SignInStatusesAndNothingPrintedLeastOfAllAPassword) {
    const std::string good = TestDirectory::kReaderPassword;
    const std::string here = mDirectory.url(mStore.mBase);
    // Passwords go over the local socket: over ldap:// they are refused.
    const std::string local = mDirectory.localUrl(mStore.mBase);
    const std::string passwordFile = scratch() + "/password";
    const testsupport::FakeLdapServer listening(testsupport::FakeLdapServer::Close);
    const char* reader = TestDirectory::kReaderDn;
    const struct {
        const char* what;
        std::string store;
        const char* bindDn;    // null: no simple bind
        std::string password;  // written to the password file unless empty
        mode_t mode;
        PAPIStatus status;
        PAPIStatus read;  // of a read on the handle, when it opens
    } cases[] = {
        {"anonymous", here, nullptr, "", 0, PAPISuccess, PAPISuccess},
        {"local socket, SASL EXTERNAL", mDirectory.localUrl(mStore.mBase), nullptr, "", 0,
         PAPISuccess, PAPISuccess},
        {"reader with its password file", local, reader, good + "\n", 0600, PAPISuccess,
         PAPISuccess},
        {"the first server down, the second ours", "ldap://127.0.0.1:1 " + here, nullptr, "", 0,
         PAPISuccess, PAPISuccess},
        {"no base DN", mDirectory.url(""), nullptr, "", 0, PAPIConnectionFailure, -1},
        {"base DN that is no DN", mDirectory.url("no%20dn"), nullptr, "", 0, PAPIConnectionFailure,
         -1},
        {"a query after the DN", here + "?cn?sub", nullptr, "", 0, PAPIConnectionFailure, -1},
        {"two servers with different base DNs", "ldap://127.0.0.1:1/dc=x " + here, nullptr, "", 0,
         PAPIConnectionFailure, -1},
        {"a list with something else in it", "ldap://127.0.0.1:1 /tmp " + here, nullptr, "", 0,
         PAPIConnectionFailure, -1},
        // Stores not there yet: the handle opens, its reads fail until they are.
        {"base entry missing", mDirectory.url(std::string("ou=absent,") + TestDirectory::kSuffix),
         nullptr, "", 0, PAPISuccess, PAPIConnectionFailure},
        {"nothing listening", "ldap://127.0.0.1:1/dc=x", nullptr, "", 0, PAPISuccess,
         PAPIConnectionFailure},
        {"wrong password", local, reader, "wr0ng-Pa55word-7d1c", 0600, PAPIAuthenticationFailure,
         -1},
        {"password file others may read", local, reader, good, 0640, PAPIAuthenticationFailure, -1},
        // An empty password would be an unauthenticated bind: anonymous in disguise.
        {"empty password file", local, reader, "\n", 0600, PAPIAuthenticationFailure, -1},
        {"bind DN without a password file", local, reader, "", 0, PAPIAuthenticationFailure, -1},
        // Refused before anything is sent, though the password is right.
        {"password over plain ldap://", listening.url("dc=x"), reader, good, 0600,
         PAPIAuthenticationFailure, -1},
        {"CA file that cannot be read", here, nullptr, "", 0, PAPIConnectionFailure, -1},
    };
    // Nothing may be printed, so no password can be (what is caught here also
    // holds the messages of any case that fails).
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        unsetenv("VESK_LDAP_BINDDN");
        unsetenv("VESK_LDAP_PASSWORD_FILE");
        setenv("VESK_POLICY_STORE", c.store.c_str(), 1);
        const bool noCa = std::string(c.what) == "CA file that cannot be read";
        setenv("VESK_LDAP_CACERT", noCa ? "/nonexistent/ca.pem" : "", 1);
        std::remove(passwordFile.c_str());
        if (c.bindDn != nullptr) {
            setenv("VESK_LDAP_BINDDN", c.bindDn, 1);
            setenv("VESK_LDAP_PASSWORD_FILE", passwordFile.c_str(), 1);
        }
        if (!c.password.empty()) {
            writeFile(passwordFile, c.password);
            EXPECT_EQ(chmod(passwordFile.c_str(), c.mode), 0);
        }
        PAPIStatus status = -1;
        PAPI* handle = papiInitialise("", &status);
        EXPECT_EQ(status, c.status);
        EXPECT_EQ(handle != nullptr, c.status == PAPISuccess);
        if (handle != nullptr) {
            describe(handle, "org.absent", status);
            EXPECT_EQ(status, c.read);
        }
        papiDeinitialise(handle, &status);
    }
    unsetenv("VESK_LDAP_CACERT");
    const std::string printed = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(printed + ::testing::internal::GetCapturedStderr(), "");
    EXPECT_FALSE(listening.bindArrived()) << "the password went out unencrypted";
    EXPECT_EQ(listening.connections(), 0);
}

// A server answering the bind with a length header of 2 GiB: the answer is
// refused at its header, not read into memory, and the reason is this
// connection's (not a later "Connection refused").
TEST_F(LdapStoreTest, HugeAnswerToTheBindIsRefusedAtItsHeader) {
    const testsupport::FakeLdapServer server(testsupport::FakeLdapServer::HugeAnswer, 200 << 20);
    struct rusage before;
    getrusage(RUSAGE_SELF, &before);
    LdapLocation location;
    ASSERT_EQ(LdapLocation::parse(server.url("dc=x"), location), PAPISuccess);
    LdapSession session(location);
    EXPECT_EQ(session.open(), PAPIConnectionFailure);
    struct rusage after;
    getrusage(RUSAGE_SELF, &after);
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 32 * 1024) << "KiB more at most";
    EXPECT_TRUE(server.bindArrived());
    EXPECT_NE(session.failure().find("larger than the limit of 65 MiB"), std::string::npos)
        << session.failure();
    EXPECT_EQ(session.failure().find("refused"), std::string::npos) << session.failure();
}

TEST_F(LdapStoreTest, NamesWithDnOrFilterSyntaxOrAnotherCaseReadOnlyTheirOwnLayer) {
    const Layers components{
        "a,b",        "x+y=z",   "#lead",   "(paren)", " space ",  "back\\slash",         "star*",
        "semi;colon", "quote\"", "<angle>", "trail\\", "Org.Case", "caf\xc3\xa9.\xc3\xbc"};
    for (const std::string& component : components) {
        mStore.writeLayer("default", component, "<" + component + "/>");
    }
    mStore.writeLayer("entities/x", "org.e", "<entity x/>");
    mStore.writeLayer("entities/kiosk,cn=x", "org.e", "<entity kiosk,cn=x/>");
    // The directory matches cn and uid without regard to case; file names do not.
    std::string upper = userName();
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    ASSERT_NE(upper, userName());
    mStore.writeLayer("users/" + upper, "org.user", "<not ours/>");

    PAPI* handle = openHandle();
    PAPIStatus status = -1;
    for (const std::string& component : components) {
        EXPECT_EQ(describe(handle, component, status, false), Layers{"<" + component + "/>"})
            << component;
        EXPECT_EQ(status, PAPISuccess) << component;
    }
    for (const char* none : {"*", "a", "(cn=*)", "a\\2cb", "x)(cn=*", "org.case", "org.user"}) {
        EXPECT_TRUE(describe(handle, none, status).empty()) << none;
        EXPECT_EQ(status, PAPISuccess) << none;
    }
    Layers sorted = components;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(names(handle, "", status), sorted);
    const std::vector<std::pair<const char*, Layers>> selections{{"*", {}},
                                                                 {"org", {}},
                                                                 {"(", {"(paren)"}},
                                                                 {"star*", {"star*"}},
                                                                 {"back\\", {"back\\slash"}},
                                                                 {"caf\xc3", {components.back()}}};
    for (const auto& [selector, selected] : selections) {
        EXPECT_EQ(names(handle, selector, status), selected) << selector;
        EXPECT_EQ(status, PAPISuccess);
    }
    closeHandle(handle);

    handle = openHandle("kiosk,cn=x");
    EXPECT_EQ(describe(handle, "org.e", status, false), Layers{"<entity kiosk,cn=x/>"});
    closeHandle(handle);
}

TEST_F(LdapStoreTest, EntryThatIsNoProperLayerIsDatabaseError) {
    mStore.ensureScope("default");
    ASSERT_EQ(mDirectory.addEntry(mStore.dn("default", "role"),
                                  {{"objectClass", {"organizationalRole"}}, {"cn", {"role"}}}),
              LDAP_SUCCESS);
    mStore.writeLayer("default", "huge", std::string(64 * 1024 * 1024 + 1, 'x'));
    mStore.writeLayer("default", "fine", "<fine/>");
    PAPI* handle = openHandle("kiosk.default");
    PAPIStatus status = -1;
    for (const char* component : {"role", "huge"}) {
        const auto start = Clock::now();
        EXPECT_EQ(papiReadComponentLayers(handle, component, &status), nullptr) << component;
        EXPECT_EQ(status, PAPILdbFailure) << component;
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
    }
    // The connection is still good for the next read.
    EXPECT_EQ(describe(handle, "fine", status, false), Layers{"<fine/>"});
    closeHandle(handle);
}

TEST_F(LdapStoreTest, RenamedLayerGivesBothComponentsTheirEvent) {
    mStore.writeLayer("default", "org.old", "<layer/>");
    // The base as an administrator may write it: another case, a space after each comma.
    std::string base;
    for (const char c : mStore.mBase) {
        base += c == ',' ? std::string(",%20") : std::string(1, static_cast<char>(std::toupper(c)));
    }
    setenv("VESK_POLICY_STORE", mDirectory.url(base).c_str(), 1);
    PAPI* handle = openHandle();
    Recorder before, after;
    listen(handle, before, "org.old");
    listen(handle, after, "org.new");
    ASSERT_EQ(mDirectory.rename(mStore.dn("default", "org.old"), "cn=org.new"), LDAP_SUCCESS);
    ASSERT_TRUE(before.waitFor(1));
    ASSERT_TRUE(after.waitFor(1));
    EXPECT_EQ(before.seen()[0].type, PAPIEventComponentRemoved);
    EXPECT_EQ(after.seen()[0].type, PAPIEventComponentAdded);
    PAPIStatus status = -1;
    EXPECT_EQ(describe(handle, "org.new", status, false), Layers{"<layer/>"});
    closeHandle(handle);
}

// Connection states recorded as events of their value.
void recordState(PAPIConnectionState value, void* recorder) {
    const PAPIEvent event{value, "state"};
    Recorder::record(&event, recorder);
}

// Reads fail with a status while the server is down (never "no layers"), but
// handles open and listen all the same; once it is back, after an outage long
// enough for the reconnecting to slow down to its slowest, each listener gets
// what it missed, once, within 5 s: the change to a listener that had seen the
// layer, the layer itself to one that never could read it.
TEST_F(LdapStoreTest, ServerDownFailsEveryReadAndItsRestartDeliversExactlyWhatChanged) {
    for (const char* component : {"org.changed", "org.same"}) {
        mStore.writeLayer("default", component, "<before/>");
    }
    Recorder states, changed, same, later, lateStates, lateChanged;
    PAPIStatus status = -1;
    PAPI* listening = papiInitialiseWithListener("", recordState, &states, &status);
    ASSERT_EQ(status, PAPISuccess);
    listen(listening, changed, "org.changed");
    listen(listening, same, "org.same");
    PAPI* idle = openHandle();

    mDirectory.stop();
    const Clock::time_point stopped = Clock::now();
    // A desktop that starts during the outage.
    PAPI* late = papiInitialiseWithListener("", recordState, &lateStates, &status);
    ASSERT_EQ(status, PAPISuccess);
    for (PAPI* handle : {listening, idle, late}) {
        EXPECT_EQ(papiReadComponentLayers(handle, "org.changed", &status), nullptr);
        EXPECT_EQ(status, PAPIConnectionFailure);
        EXPECT_TRUE(names(handle, "", status).empty());
        EXPECT_EQ(status, PAPIConnectionFailure);
    }
    listen(idle, later, "org.same");
    listen(late, lateChanged, "org.changed");
    std::string error;
    ASSERT_TRUE(mDirectory.modifyOffline("dn: " + mStore.dn("default", "org.changed") +
                                             "\nchangetype: modify\nreplace: veskLayerData\n"
                                             "veskLayerData: <after/>\n",
                                         error))
        << error;
    std::this_thread::sleep_until(stopped + 25s);
    ASSERT_TRUE(mDirectory.start(error)) << error;
    const Clock::time_point restarted = Clock::now();

    ASSERT_TRUE(changed.waitFor(1, 10s));
    EXPECT_LT(changed.seen()[0].at - restarted, 5s);
    EXPECT_EQ(changed.seen()[0].type, PAPIEventComponentModified);
    ASSERT_TRUE(lateChanged.waitFor(1, 10s));
    EXPECT_LT(lateChanged.seen()[0].at - restarted, 5s);
    EXPECT_EQ(lateChanged.seen()[0].type, PAPIEventComponentAdded);
    ASSERT_TRUE(later.waitFor(1, 10s));
    EXPECT_EQ(describe(listening, "org.changed", status, false), Layers{"<after/>"});
    EXPECT_EQ(describe(idle, "org.same", status, false), Layers{"<before/>"});
    EXPECT_TRUE(changed.quietAfter(1));
    for (Recorder* once : {&changed, &lateChanged, &later}) {
        EXPECT_EQ(once->seen().size(), 1u);
    }
    EXPECT_TRUE(same.seen().empty());
    for (Recorder* recorder : {&states, &lateStates}) {
        ASSERT_EQ(recorder->seen().size(), 2u);
        EXPECT_EQ(recorder->seen()[0].type, PAPIDisconnected);
        EXPECT_EQ(recorder->seen()[1].type, PAPIConnected);
    }

    // Live again: the next change comes as before, to both handles.
    ASSERT_EQ(
        mDirectory.replaceValues(mStore.dn("default", "org.same"), "veskLayerData", {"<live/>"}),
        LDAP_SUCCESS);
    ASSERT_TRUE(same.waitFor(1));
    ASSERT_TRUE(later.waitFor(2));
    EXPECT_EQ(changed.seen().size(), 1u);
    for (PAPI* handle : {late, idle, listening}) {
        closeHandle(handle);
    }
}

std::vector<std::string> listDir(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

using testsupport::waitUntil;

TEST_F(LdapStoreTest, DeskrunnerAndStartlistFollowTheDirectoryAndAnLdapmodifyEdit) {
    for (const char* program : {"deskrunner", "startlist"}) {
        if (!fs::exists(kBin + program)) {
            GTEST_SKIP() << program << " is not built";
        }
    }
    const std::string desktop = scratch() + "/Desktop";
    const std::string log = scratch() + "/deskrunner.log";
    fs::create_directories(desktop);
    // Launchers a and b (Exec a1), and a clock to start.
    mStore.writeLayer("default", kComponent, readFile(kData + "launchers-a-b.xml"));
    ASSERT_EQ(run("startlist").finish(10s), 0);
    const std::string session = readFile(scratch() + "/.gnome2/session-manual");
    EXPECT_NE(session.find("RestartCommand=xclock -digital"), std::string::npos) << session;
    EXPECT_NE(session.find("Priority=20"), std::string::npos) << session;

    Program runner = run("deskrunner");
    ASSERT_TRUE(waitUntil(
        [&] { return readFile(log).find("menu plug-in started") != std::string::npos; }, 10s))
        << readFile(log);
    EXPECT_EQ(listDir(desktop), (std::vector<std::string>{"MERXa.desktop", "MERXb.desktop"}));

    // The administrator's edit, as a site makes it: launchers a (Exec a2) and c.
    writeFile(scratch() + "/edit.ldif", "dn: " + mStore.dn("default", kComponent) +
                                            "\nchangetype: modify\nreplace: veskLayerData\n"
                                            "veskLayerData:< file://" +
                                            kData + "launchers-a-c.xml\n");
    ASSERT_EQ(ldapmodify(scratch() + "/edit.ldif"), 0) << readFile(scratch() + "/ldap.log");
    ASSERT_TRUE(waitUntil(
        [&] {
            return listDir(desktop) == std::vector<std::string>{"MERXa.desktop", "MERXc.desktop"} &&
                   readFile(desktop + "/MERXa.desktop").find("Exec=a2") != std::string::npos;
        },
        5s))
        << readFile(log);

    kill(runner.mPid, SIGTERM);
    EXPECT_EQ(runner.finish(5s), 0);
    EXPECT_NE(readFile(log).find("finished listening for changes to launcher definitions"),
              std::string::npos)
        << readFile(log);
}

// The replicated fleet of the test binary, started on first use.
TestFleet& sharedFleet() {
    static TestFleet fleet(HOLLIN_SOURCE_DIR "/vesk/ldap/vesk.ldif");
    return fleet;
}

// Each test has a base of its own, made on the provider and replicated; the
// desktops' store and TLS settings are taken at papiInitialise.
class FleetTest : public ::testing::Test {
  protected:
    void SetUp() override {
        static int sCount = 0;
        std::string error;
        ASSERT_TRUE(mFleet.start(error)) << error;
        const std::string ou = "f" + std::to_string(++sCount);
        mBase = "ou=" + ou + "," + TestDirectory::kSuffix;
        for (const auto& [dn, attributes] :
             std::vector<std::pair<std::string, std::vector<TestDirectory::Attribute>>>{
                 {mBase, {{"objectClass", {"organizationalUnit"}}, {"ou", {ou}}}},
                 {layerDn().substr(layerDn().find(',') + 1),
                  {{"objectClass", {"organizationalUnit"}}, {"ou", {"default"}}}},
                 {layerDn(),
                  {{"objectClass", {"veskLayer"}},
                   {"cn", {kComponent}},
                   {"veskLayerData", {"<0/>"}}}}}) {
            ASSERT_EQ(mFleet.provider().addEntry(dn, attributes), LDAP_SUCCESS) << dn;
        }
        ASSERT_TRUE(mFleet.replicated(layerDn(), "veskLayerData", "<0/>", 20s));
    }
    void TearDown() override {
        std::string error;
        EXPECT_TRUE(mFleet.start(error)) << error;
        for (const char* name : {"VESK_POLICY_STORE", "VESK_LDAP_CACERT", "VESK_LDAP_STARTTLS"}) {
            unsetenv(name);
        }
    }

    std::string layerDn() const { return std::string("cn=") + kComponent + ",ou=default," + mBase; }
    // A desktop on these servers in this order ("" for the URL without the base).
    PAPI* desktop(const std::vector<std::string>& servers, Recorder* states, const std::string& ca,
                  bool startTls = false) {
        std::string store;
        for (const std::string& server : servers) {
            store += (store.empty() ? "" : " ") + server;
        }
        setenv("VESK_POLICY_STORE", (store + mBase).c_str(), 1);
        setenv("VESK_LDAP_CACERT", ca.c_str(), 1);
        setenv("VESK_LDAP_STARTTLS", startTls ? "1" : "0", 1);
        PAPIStatus status = -1;
        PAPI* handle = papiInitialiseWithListener("", states != nullptr ? recordState : nullptr,
                                                  states, &status);
        EXPECT_EQ(status, PAPISuccess);
        return handle;
    }
    void edit(const std::string& data) {
        ASSERT_EQ(mFleet.provider().replaceValues(layerDn(), "veskLayerData", {data}),
                  LDAP_SUCCESS);
    }

    TestFleet& mFleet = sharedFleet();
    std::string mBase;
};

TEST_F(FleetTest, EditOnTheProviderReachesDesktopsOnEitherConsumerOverTls) {
    TestDirectory& first = mFleet.consumer(0);
    TestDirectory& second = mFleet.consumer(1);
    // ldaps:// to one consumer, StartTLS to the other.
    Recorder onFirst, onSecond;
    PAPI* a = desktop({first.tlsUrl(""), second.tlsUrl("")}, nullptr, mFleet.caFile());
    PAPI* b = desktop({second.url(""), first.url("")}, nullptr, mFleet.caFile(), true);
    listen(a, onFirst);
    listen(b, onSecond);
    edit("<1/>");
    for (auto [handle, recorder] : {std::pair{a, &onFirst}, std::pair{b, &onSecond}}) {
        ASSERT_TRUE(recorder->waitFor(1, 10s));
        PAPIStatus status = -1;
        EXPECT_EQ(describe(handle, kComponent, status, false), Layers{"<1/>"});
    }
    EXPECT_TRUE(onFirst.quietAfter(1));
    EXPECT_EQ(onSecond.seen().size(), 1u);
    closeHandle(a);
    closeHandle(b);
}

// A server whose certificate the CA did not sign is no server: nothing is
// read from it, the status is 1 and the reason is kept for the administrator.
TEST_F(FleetTest, CertificateOfAnotherCaIsRefusedWithItsReason) {
    TestDirectory& consumer = mFleet.consumer(0);
    const struct {
        const char* what;
        std::string server;
        std::string ca;
        bool startTls;
    } cases[] = {
        {"ldaps://, another CA", consumer.tlsUrl(""), mFleet.otherCaFile(), false},
        {"StartTLS, another CA", consumer.url(""), mFleet.otherCaFile(), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        PAPI* handle = desktop({c.server}, nullptr, c.ca, c.startTls);
        PAPIStatus status = -1;
        EXPECT_TRUE(describe(handle, kComponent, status).empty());
        EXPECT_EQ(status, PAPIConnectionFailure);
        closeHandle(handle);

        LdapLocation location;
        ASSERT_EQ(LdapLocation::parse(c.server + mBase, location), PAPISuccess);
        LdapSession session(location);
        EXPECT_EQ(session.open(), PAPIConnectionFailure);
        const std::string failure = session.failure();
        EXPECT_EQ(failure.rfind(c.server.substr(0, c.server.size() - 1) + ": TLS refused: ", 0), 0u)
            << failure;
        EXPECT_NE(failure.find(c.ca), std::string::npos) << failure;
    }
}

// A CA file that is not there is an error, never a fall back to the CA that
// ./ldaprc names (anyone who can write the current folder can put one there).
TEST_F(FleetTest, MissingCaFileIsAnErrorAndLdaprcInTheCurrentFolderChoosesNoCa) {
    const testsupport::TempDir folder("hollin-ldaprc");
    writeFile(folder.path + "/ldaprc", "TLS_CACERT " + mFleet.caFile() + "\n");
    const std::string output = folder.path + "/get.log";
    const std::string store = mFleet.consumer(0).tlsUrl("") + mBase;
    for (const std::string ca : {"/nonexistent/ca.pem", ""}) {
        SCOPED_TRACE(ca);
        const int status = TestDirectory::runTool(
            {"/bin/sh", "-c",
             "cd \"$1\" && VESK_POLICY_STORE=\"$2\" VESK_LDAP_CACERT=\"$3\" exec \"$4\" layers " +
                 std::string(kComponent),
             "sh", folder.path, store, ca, kBin + "hollinctl"},
            output);
        EXPECT_EQ(status, 3) << readFile(output);
        EXPECT_NE(readFile(output).find(ca.empty() ? "TLS refused"
                                                   : "VESK_LDAP_CACERT " + ca +
                                                         ": No such file or directory"),
                  std::string::npos)
            << readFile(output);
    }
}

TEST_F(FleetTest, DesktopMovesToTheOtherConsumerWhenItsOwnStopsAndGetsTheChangeOfTheMoveOnce) {
    Recorder states, changes;
    PAPI* handle = desktop({mFleet.consumer(0).tlsUrl(""), mFleet.consumer(1).tlsUrl("")}, &states,
                           mFleet.caFile());
    listen(handle, changes);
    mFleet.consumer(0).stop();
    const Clock::time_point stopped = Clock::now();
    edit("<moved/>");
    ASSERT_TRUE(changes.waitFor(1, 10s));
    EXPECT_LT(changes.seen()[0].at - stopped, 5s);
    PAPIStatus status = -1;
    EXPECT_EQ(describe(handle, kComponent, status, false), Layers{"<moved/>"});
    EXPECT_TRUE(changes.quietAfter(1));
    ASSERT_EQ(states.seen().size(), 2u);
    EXPECT_EQ(states.seen()[0].type, PAPIDisconnected);
    EXPECT_EQ(states.seen()[1].type, PAPIConnected);
    // The first consumer back does not take the desktop away from the second.
    std::string error;
    ASSERT_TRUE(mFleet.start(error)) << error;
    edit("<stays/>");
    ASSERT_TRUE(changes.waitFor(2, 10s));
    EXPECT_TRUE(changes.quietAfter(2));
    EXPECT_EQ(states.seen().size(), 2u);
    closeHandle(handle);
}

TEST_F(FleetTest, ConsumerRestartedWithAStaleDatabaseCatchesUpAndItsDesktopsGetTheChangeOnce) {
    TestDirectory& consumer = mFleet.consumer(0);
    Recorder states, changes;
    PAPI* handle = desktop({consumer.tlsUrl("")}, &states, mFleet.caFile());
    listen(handle, changes);
    consumer.stop();
    edit("<missed/>");
    std::string error;
    ASSERT_TRUE(consumer.start(error)) << error;
    ASSERT_TRUE(changes.waitFor(1, 15s));
    PAPIStatus status = -1;
    EXPECT_EQ(describe(handle, kComponent, status, false), Layers{"<missed/>"});
    EXPECT_TRUE(changes.quietAfter(1));
    EXPECT_EQ(changes.seen()[0].type, PAPIEventComponentModified);
    closeHandle(handle);
}

}  // namespace

const TestPolicyStoreFactory kBackend = &makeLdapStore;
const char kBackendName[] = "slapd";

}  // namespace vesk::legacy::store::test
