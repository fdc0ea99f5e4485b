// The kiosk writer on its real paths, inside the private mount namespace that
// run-in-namespace.sh sets up: tmpfs over /opt and /var/opt, recording fake
// tools, the policy in a file store under /opt. Messages are caught on
// standard error (the test initialises the logger with VESKLEG_LOG=1).
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "SystemFaults.h"
#include "VELAppsPlugin.h"
#include "VELAppsWriter.h"
#include "model/Logger.h"

namespace {

const std::string kConfig = kApplicationStorage;
const std::string kTemp = kTempApplicationStorage;
const std::string kBackup = kBackupApplicationStorage;
const std::string kKiosk = "/var/opt/MERXkx/kiosk";
const std::string kFake = "/opt/velapps-fake";
const std::string kStore = "/opt/velapps-store";
const std::string kLayer = kStore + "/entities/kiosk.default/com.orvek.Lumora.Apps.xml";

// Never run against the host's real /opt and /var/opt.
bool inTestNamespace() {
    struct statfs opt, varOpt;
    const char* flag = getenv("VELAPPS_IN_NAMESPACE");
    return flag && std::string(flag) == "1" && statfs("/opt", &opt) == 0 &&
           statfs("/var/opt", &varOpt) == 0 && opt.f_type == TMPFS_MAGIC &&
           varOpt.f_type == TMPFS_MAGIC;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return in ? text.str() : "<missing>";
}

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// "name: content" per entry, sorted, links and folders marked; "<missing>".
std::string snapshot(const std::string& dir) {
    DIR* handle = opendir(dir.c_str());
    if (!handle)
        return "<missing>";
    std::vector<std::string> names;
    while (dirent* entry = readdir(handle))
        names.push_back(entry->d_name);
    closedir(handle);
    std::sort(names.begin(), names.end());
    std::string out;
    for (const std::string& name : names) {
        struct stat st;
        lstat((dir + "/" + name).c_str(), &st);
        if (name == "." || name == "..")
            continue;
        if (S_ISLNK(st.st_mode))
            out += name + " -> link\n";
        else if (S_ISDIR(st.st_mode))
            out += name + "/ {" + snapshot(dir + "/" + name) + "}\n";
        else
            out += name + ": " + readFile(dir + "/" + name) + "\n";
    }
    return out;
}

// The snapshot entry of a settings file with only name and pathapp.
std::string plain(const std::string& name, const std::string& path = "/usr/bin/x") {
    return name + ": name=\"" + name + "\"\npathapp=\"" + path + "\"\n\n";
}

std::string xmlEscape(const std::string& text) {
    std::string out;
    for (char c : text) {
        const char* entity = c == '&'    ? "&amp;"
                             : c == '<'  ? "&lt;"
                             : c == '"'  ? "&quot;"
                             : c == '\t' ? "&#x9;"
                             : c == '\n' ? "&#xA;"
                             : c == '\r' ? "&#xD;"
                                         : nullptr;
        out += entity ? entity : std::string(1, c);
    }
    return out;
}

struct App {
    std::string name;
    std::vector<std::pair<std::string, std::string>> properties;
};

App app(const std::string& name, const std::string& path = "/usr/bin/x") {
    return {name, {{"pathapp", path}}};
}

// Replaces the kiosk policy layer in one rename, as an administrator's tool would.
void setPolicy(const std::string& inner) {
    writeFile(kLayer + ".new",
              "<?xml version=\"1.0\"?>\n<zel:component-data zel:name=\"com.orvek.Lumora.Apps\">\n" +
                  inner + "</zel:component-data>\n");
    ASSERT_EQ(rename((kLayer + ".new").c_str(), kLayer.c_str()), 0);
}

void setApps(const std::vector<App>& apps) {
    std::string body = " <node zel:name=\"Applications\" zel:op=\"replace\">\n";
    for (const App& app : apps) {
        body += "  <node zel:name=\"" + xmlEscape(app.name) + "\">\n";
        for (const auto& property : app.properties) {
            body += "   <prop zel:name=\"" + xmlEscape(property.first) +
                    "\" zel:type=\"xs:string\"><value>" + xmlEscape(property.second) +
                    "</value></prop>\n";
        }
        body += "  </node>\n";
    }
    setPolicy(body + " </node>\n");
}

// The fake tool fails with that exit status, or "signal".
void failTool(const std::string& tool, const std::string& how) {
    writeFile(kFake + "/fail-" + tool, how + "\n");
}

// One installation with a fresh writer, as after a change.
void install() {
    VELAppsWriter writer;
    writer.writeApps();
}

// The tool calls of an installation the kiosk accepts, with the configuration
// each tool saw ("a b " lists the files a and b).
std::string acceptedRound(const std::string& before, const std::string& after) {
    return "kxadmingid  [" + before + "]\nkxgentab  [" + after + "]\nkxkiosk -i kiosk [" + after +
           "]\n";
}

class KioskInstallTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        if (!inTestNamespace())
            return;
        setenv("VESKLEG_LOG", "1", 1);
        setenv("VESK_POLICY_STORE", kStore.c_str(), 1);
        vesk::legacy::Logger::initialise("velapps-test");
    }
    static void TearDownTestSuite() { vesk::legacy::Logger::uninitialise(); }

    void SetUp() override {
        if (!inTestNamespace()) {
            const char* require = getenv("HOLLIN_REQUIRE_NAMESPACES");
            if (require && std::string(require) == "1") {
                FAIL() << "not inside the test mount namespace; run through run-in-namespace.sh";
            }
            GTEST_SKIP() << "not inside the test mount namespace (ctest wraps it in "
                            "run-in-namespace.sh); the real kiosk paths stay untouched";
        }
        fflush(stderr);
        mSavedStderr = dup(2);
        int log = open((kFake + "/stderr.log").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        dup2(log, 2);
        close(log);
        reset();
    }

    void TearDown() override {
        clearFaults();
        if (mSavedStderr >= 0) {
            dup2(mSavedStderr, 2);
            close(mSavedStderr);
        }
    }

    // A clean kiosk, store and fake state; each case of a table starts here.
    void reset() {
        clearFaults();
        kStorageGroupId = 0;
        ASSERT_EQ(system(("rm -rf /var/opt/* " + kStore + " " + kFake + "/calls.log " + kFake +
                          "/fail-* " + kFake + "/gid")
                             .c_str()),
                  0);
        ASSERT_EQ(system(("mkdir -p " + kKiosk + " " + kStore + "/entities/kiosk.default").c_str()),
                  0);
        ASSERT_EQ(truncate((kFake + "/stderr.log").c_str(), 0), 0);
    }
    void heal() {
        clearFaults();
        ASSERT_EQ(system(("rm -f " + kFake + "/fail-* /var/opt/filler").c_str()), 0);
    }
    std::string messages() { return readFile(kFake + "/stderr.log"); }
    std::string calls() {
        std::string text = readFile(kFake + "/calls.log");
        unlink((kFake + "/calls.log").c_str());
        return text == "<missing>" ? "" : text;
    }

    int mSavedStderr = -1;
};

TEST_F(KioskInstallTest, WhatIsInstalledFromEachApplication) {
    writeFile(kFake + "/gid", "4242\n");
    setApps({{"app1", {{"pathapp", "/usr/bin/x"}, {"label", "X"}}},
             {"renamed", {{"pathapp", "/bin/r"}, {"name", "Shown Name"}}},
             {"text", {{"pathapp", "/opt/t --kiosk"}, {"label", "It's <fine> & 100%"}}},
             {"nopath", {{"label", "L"}}},
             {"emptypath", {{"pathapp", ""}}}});
    install();
    EXPECT_EQ(readFile(kConfig + "/app1"),
              readFile(std::string(HOLLIN_SOURCE_DIR) + "/plugins/velapps/tests/golden/app1"));
    EXPECT_EQ(snapshot(kConfig), "app1: " + readFile(kConfig + "/app1") +
                                     "\nrenamed: name=\"Shown Name\"\npathapp=\"/bin/r\"\n\n"
                                     "text: label=\"It's <fine> & 100%\"\nname=\"text\"\n"
                                     "pathapp=\"/opt/t --kiosk\"\n\n");
    EXPECT_EQ(calls(), acceptedRound("", "app1 renamed text "));
    struct stat st;
    ASSERT_EQ(stat(kConfig.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0770u);
    EXPECT_EQ(st.st_uid, 0u);
    EXPECT_EQ(st.st_gid, 4242u);

    // Nothing installable: an empty configuration, and the tools still run. A
    // group tool that fails or prints no number leaves the last good group.
    writeFile(kFake + "/gid", "no number\n");
    setApps({{"nopath", {{"label", "L"}}}});
    install();
    EXPECT_EQ(snapshot(kConfig), "");
    EXPECT_EQ(calls(), acceptedRound("app1 renamed text ", ""));
    failTool("kxadmingid", "1");
    // Properties count as children too; structural children of an application are ignored.
    setPolicy(
        " <node zel:name=\"Applications\" zel:op=\"replace\">\n"
        "  <prop zel:name=\"stray\" zel:type=\"xs:string\"><value>v</value></prop>\n"
        "  <node zel:name=\"sub\"><node zel:name=\"deeper\"/></node>\n </node>\n");
    install();
    EXPECT_EQ(snapshot(kConfig), "");
    ASSERT_EQ(stat(kConfig.c_str(), &st), 0);
    EXPECT_EQ(st.st_gid, 4242u);
    EXPECT_EQ(messages(), "");
}

TEST_F(KioskInstallTest, NoApplicationListOrNoPolicyServiceChangesNothing) {
    setApps({app("kept")});
    install();
    const std::string before = snapshot(kKiosk);
    calls();
    for (const char* policy :
         {" <node zel:name=\"Applications\" zel:op=\"replace\"/>\n",
          " <node zel:name=\"Other\"><node zel:name=\"a\"/></node>\n",
          " <prop zel:name=\"Applications\" zel:type=\"xs:string\"><value>x</value></prop>\n"}) {
        setPolicy(policy);
        install();
        EXPECT_EQ(snapshot(kKiosk), before) << policy;
        EXPECT_EQ(calls(), "") << policy;
    }
    EXPECT_EQ(messages(), "");
    // Without the policy service the writer has no access and does nothing.
    ASSERT_EQ(system(("rm -rf " + kStore).c_str()), 0);
    void* handle = velAppsInitialise();
    ASSERT_NE(handle, nullptr);
    velAppsExecute(handle);
    Uninitialise(handle);
    EXPECT_EQ(messages(), "Init writer: Connection failure\n\n");
    EXPECT_EQ(calls(), "");
    EXPECT_EQ(snapshot(kKiosk), before);
}

TEST_F(KioskInstallTest, HostileNamesAndValuesSkipTheirApplication) {
    // In byte order of the names, which is the order of the messages.
    const std::vector<std::pair<App, std::string>> cases = {
        {app(""), "empty name"},
        {app("."), "name \".\" is not a file name"},
        {app(".."), "name \"..\" is not a file name"},
        {app("a/b"), "name contains \"/\""},
        {{"backq", {{"pathapp", "`reboot`"}}}, "value of setting pathapp contains a backquote"},
        {{"backsl", {{"pathapp", "/x"}, {"l", "a\\"}}}, "value of setting l contains a backslash"},
        {{"badkey", {{"pathapp", "/x"}, {"bad-key", "1"}}}, "invalid setting name \"bad-key\""},
        {{"badname", {{"pathapp", "/x"}, {"name", "x\"; reboot; \""}}},
         "value of setting name contains a double quote"},
        {{"cr", {{"pathapp", "/x"}, {"l", "a\rb"}}}, "value of setting l contains a line break"},
        {{"dollar", {{"pathapp", "$(reboot)"}}}, "value of setting pathapp contains \"$\""},
        {app("dollar$name"), "value of setting name contains \"$\""},
        {app("line\nbreak"), "name contains a line break"},
        {{"nl", {{"pathapp", "/x\nrm -rf /"}}}, "value of setting pathapp contains a line break"},
        {app("quo\"te"), "name contains a double quote"},
        {app("tab\tname"), "name contains a control character"},
        {{"tabvalue", {{"pathapp", "/x"}, {"l", "a\tb"}}},
         "value of setting l contains a control character"},
    };
    std::vector<App> apps{app("good1"), app("zgood2")};
    std::string expected;
    for (const auto& c : cases) {
        apps.push_back(c.first);
        std::string shown = c.first.name;
        for (auto [raw, escaped] : {std::pair{"\n", "\\x0a"}, {"\t", "\\x09"}}) {
            if (size_t at = shown.find(raw); at != std::string::npos)
                shown.replace(at, 1, escaped);
        }
        expected += "Skipping application " + shown + ": " + c.second + "\n";
    }
    setApps(apps);
    install();
    EXPECT_EQ(messages(), expected);
    EXPECT_EQ(snapshot(kKiosk), "config/ {" + plain("good1") + plain("zgood2") + "}\n");
}

TEST_F(KioskInstallTest, EveryLaterInstallationSucceedsToo) {
    for (const char* name : {"first", "second", "third"}) {
        setApps({app(name)});
        install();
        EXPECT_EQ(snapshot(kConfig), plain(name));
    }
    EXPECT_EQ(snapshot(kBackup), plain("second"));
    // An installation that stopped between moving the configuration aside and
    // putting the new one in place: the backup is the configuration.
    ASSERT_EQ(system(("rm -rf " + kBackup).c_str()), 0);
    ASSERT_EQ(rename(kConfig.c_str(), kBackup.c_str()), 0);
    setApps({app("fourth")});
    install();
    EXPECT_EQ(snapshot(kKiosk),
              "backup.config/ {" + plain("third") + "}\nconfig/ {" + plain("fourth") + "}\n");
    EXPECT_EQ(messages(), "");
}

TEST_F(KioskInstallTest, LinksPlantedInTheTemporaryDirectoryAreNotFollowed) {
    ASSERT_EQ(system("mkdir -p /var/opt/precious/tree && echo keep > /var/opt/precious/tree/f"), 0);
    const std::string precious = snapshot("/var/opt/precious");
    // Inside the group-writable temporary directory, then in its place.
    ASSERT_EQ(mkdir(kTemp.c_str(), 0770), 0);
    ASSERT_EQ(symlink("/var/opt/precious/tree", (kTemp + "/evil").c_str()), 0);
    ASSERT_EQ(symlink("/var/opt/precious/tree/f", (kTemp + "/app").c_str()), 0);
    setApps({app("app")});
    install();
    EXPECT_EQ(snapshot(kConfig), plain("app"));
    ASSERT_EQ(symlink("/var/opt/precious", kTemp.c_str()), 0);
    setApps({app("again")});
    install();
    EXPECT_EQ(snapshot(kConfig), plain("again"));
    EXPECT_EQ(snapshot("/var/opt/precious"), precious);
    EXPECT_EQ(messages(), "");
}

// Takes every byte of the /var/opt tmpfs.
void fillDisk() {
    int fd = open("/var/opt/filler", O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<char> block(65536, 'x');
    for (size_t size = block.size(); size > 0; size /= 2) {
        while (write(fd, block.data(), size) == static_cast<ssize_t>(size)) {
        }
    }
    close(fd);
}

TEST_F(KioskInstallTest, AFailedInstallationKeepsThePreviousConfiguration) {
    const std::string cfg = "Write apps: Error accessing " + kConfig + ": ";
    const std::string tmp = "Write apps: Error accessing " + kTemp;
    const std::string firstTool = cfg + "/opt/MERXkx/lib/kxgentab ";
    struct Case {
        const char* what;
        std::function<void()> inject;
        std::string message;
    } cases[] = {
        {"first tool fails", [] { failTool("kxgentab", "1"); }, firstTool + "exited with status 1"},
        {"first tool killed", [] { failTool("kxgentab", "signal"); },
         firstTool + "was killed by signal 9"},
        {"first tool cannot start", [] { armFault("system", kTableTool, EAGAIN); },
         firstTool + "could not be run: Resource temporarily unavailable"},
        {"import fails", [] { failTool("kxkiosk", "3"); },
         cfg + "/opt/MERXkx/sbin/kxkiosk -i kiosk exited with status 3"},
        {"configuration cannot move aside",
         [] { armFault("rename", kConfig + " -> " + kBackup, EXDEV); },
         cfg + "Invalid cross-device link"},
        {"new configuration cannot move in",
         [] { armFault("rename", kTemp + " -> " + kConfig, EACCES); }, cfg + "Permission denied"},
        {"old backup cannot be removed", [] { armFault("unlink", "", EPERM); },
         "Write apps: Error accessing " + kBackup + "/a0: Operation not permitted"},
        {"mkdir", [] { armFault("mkdir", kTemp, EROFS); }, tmp + ": Read-only file system"},
        {"chown", [] { armFault("chown", kTemp, EPERM); }, tmp + ": Operation not permitted"},
        {"chmod", [] { armFault("chmod", kTemp, EPERM); }, tmp + ": Operation not permitted"},
        {"open", [] { armFault("open", kTemp + "/b", EMFILE); }, tmp + "/b: Too many open files"},
        {"write", [] { armFault("write", kTemp + "/b", ENOSPC); },
         tmp + "/b: No space left on device"},
        {"close", [] { armFault("close", kTemp + "/b", EIO); }, tmp + "/b: Input/output error"},
        {"full tmpfs", fillDisk, tmp + "/b: No space left on device"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        reset();
        // Two installations first, so that a backup exists as in the field.
        for (const char* name : {"a0", "a"})
            setApps({app(name)}), install();
        const std::string previous = snapshot(kConfig);
        calls();
        setApps({app("b"), app("c")});
        c.inject();
        install();
        EXPECT_EQ(snapshot(kConfig), previous);
        EXPECT_EQ(messages(), c.message + "\n");
        std::string log = calls();
        if (std::string(c.what) == "import fails") {
            // Recovery runs after the restore, and only after a failed import.
            EXPECT_EQ(log, acceptedRound("a ", "b c ") + "kxgenout  [a ]\n");
        } else {
            EXPECT_EQ(log.find("kxgenout"), std::string::npos);
        }
        heal();
        install();
        EXPECT_EQ(snapshot(kConfig), plain("b") + plain("c"));
    }
}

TEST_F(KioskInstallTest, AFailedRestoreKeepsTheBackup) {
    // A first installation has nothing to restore: it leaves no configuration.
    setApps({app("a")});
    failTool("kxkiosk", "1");
    install();
    EXPECT_EQ(snapshot(kKiosk), "tmp.config/ {" + plain("a") + "}\n");
    EXPECT_EQ(calls(), acceptedRound("", "a ") + "kxgenout  []\n");
    const std::string stuck = "Restore apps: Error accessing ";
    const std::string tail = "Write apps: Error accessing " + kConfig +
                             ": /opt/MERXkx/lib/kxgentab exited with status 1\n";
    struct Case {
        std::string rename, message, config;  // config: what the failed restore leaves
    } cases[] = {
        {kConfig + " -> " + kTemp, stuck + kConfig + ": Device or resource busy\n", plain("b")},
        {kBackup + " -> " + kConfig, stuck + kBackup + ": Device or resource busy\n", "<missing>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rename);
        reset();
        setApps({app("a")});
        install();
        setApps({app("b")});
        failTool("kxgentab", "1");
        armFault("rename", c.rename, EBUSY);
        install();
        EXPECT_EQ(messages(), c.message + tail);
        EXPECT_EQ(snapshot(kBackup), plain("a"));
        EXPECT_EQ(snapshot(kConfig), c.config);
        // The next change installs, and the backup is not lost on the way.
        heal();
        setApps({app("c")});
        install();
        EXPECT_EQ(snapshot(kConfig), plain("c"));
    }
}

TEST_F(KioskInstallTest, TwoWritersInOneProcessTakeTurns) {
    setApps({app("a"), app("b")});
    VELAppsWriter first, second;
    std::thread other([&] {
        for (int i = 0; i < 5; ++i)
            second.writeApps();
    });
    for (int i = 0; i < 5; ++i)
        first.writeApps();
    other.join();
    EXPECT_EQ(messages(), "");
    EXPECT_EQ(snapshot(kConfig), plain("a") + plain("b"));
}

TEST_F(KioskInstallTest, APolicyChangeReinstallsWithinOneSecond) {
    setApps({app("a")});
    failTool("kxgentab", "1");  // the first installation fails, listening starts all the same
    void* handle = velAppsInitialise();
    velAppsExecute(handle);
    EXPECT_EQ(snapshot(kConfig), "<missing>");
    heal();
    // One edit notifies every ancestor of the change and so may install more
    // than once: wait for the final state.
    for (const std::vector<App>& apps :
         {std::vector<App>{app("b")}, std::vector<App>{app("c"), app("d", "/bin/d")}}) {
        std::string expected;
        for (const App& a : apps)
            expected += plain(a.name, a.properties[0].second);
        auto start = std::chrono::steady_clock::now();
        setApps(apps);
        while (snapshot(kConfig) != expected &&
               std::chrono::steady_clock::now() - start < std::chrono::seconds(1)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - start);
        EXPECT_EQ(snapshot(kConfig), expected) << "after " << took.count() << " ms";
        printf("reinstalled %lld ms after the edit\n", static_cast<long long>(took.count()));
    }
    Uninitialise(handle);
    EXPECT_EQ(messages(), "Write apps: Error accessing " + kConfig +
                              ": /opt/MERXkx/lib/kxgentab exited with status 1\n");
}

}  // namespace
