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

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "SystemFaults.h"
#include "VELAppsPlugin.h"
#include "VELAppsWriter.h"
#include "model/Logger.h"

namespace {

const std::string kConfig = kApplicationStorage;
const std::string kTemp = kTempApplicationStorage;
const std::string kBackup = kBackupApplicationStorage;
const std::string kFake = "/opt/velapps-fake";
const std::string kStore = "/opt/velapps-store";
const std::string kLayer = kStore + "/entities/kiosk.default/com.orvek.Lumora.Apps.xml";

bool onTmpfs(const char* path) {
    struct statfs fs;
    return statfs(path, &fs) == 0 && fs.f_type == TMPFS_MAGIC;
}

// Never run against the host's real /opt and /var/opt.
bool inTestNamespace() {
    const char* flag = getenv("VELAPPS_IN_NAMESPACE");
    return flag && std::string(flag) == "1" && onTmpfs("/opt") && onTmpfs("/var/opt");
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return "<missing>";
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// "name: content" lines for every entry of a directory, sorted; links and
// subdirectories marked. "<missing>" for no directory.
std::string snapshot(const std::string& dir) {
    DIR* handle = opendir(dir.c_str());
    if (!handle)
        return "<missing>";
    std::vector<std::string> names;
    while (dirent* entry = readdir(handle)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    closedir(handle);
    std::sort(names.begin(), names.end());
    std::string out;
    for (const std::string& name : names) {
        struct stat st;
        lstat((dir + "/" + name).c_str(), &st);
        if (S_ISLNK(st.st_mode)) {
            out += name + " -> link\n";
        } else if (S_ISDIR(st.st_mode)) {
            out += name + "/ {" + snapshot(dir + "/" + name) + "}\n";
        } else {
            out += name + ": " + readFile(dir + "/" + name) + "\n";
        }
    }
    return out;
}

std::string xmlEscape(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\t':
                out += "&#x9;";
                break;
            case '\n':
                out += "&#xA;";
                break;
            case '\r':
                out += "&#xD;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

struct App {
    std::string name;
    std::vector<std::pair<std::string, std::string>> properties;
};

std::string appsLayer(const std::vector<App>& apps) {
    std::string body;
    for (const App& app : apps) {
        body += "  <node zel:name=\"" + xmlEscape(app.name) + "\">\n";
        for (const auto& property : app.properties) {
            body += "   <prop zel:name=\"" + xmlEscape(property.first) +
                    "\" zel:type=\"xs:string\"><value>" + xmlEscape(property.second) +
                    "</value></prop>\n";
        }
        body += "  </node>\n";
    }
    return " <node zel:name=\"Applications\" zel:op=\"replace\">\n" + body + " </node>\n";
}

// Replaces the kiosk policy layer in one rename, as an administrator's tool would.
void setPolicy(const std::string& inner) {
    std::string text =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<zel:component-data zel:name=\"com.orvek.Lumora.Apps\" "
        "xmlns:zel=\"http://www.orvek.com/zel\">\n" +
        inner + "</zel:component-data>\n";
    writeFile(kLayer + ".new", text);
    ASSERT_EQ(rename((kLayer + ".new").c_str(), kLayer.c_str()), 0);
}

void setApps(const std::vector<App>& apps) {
    setPolicy(appsLayer(apps));
}

App app(const std::string& name, const std::string& path = "/usr/bin/x") {
    return {name, {{"pathapp", path}}};
}

// The fake tool fails with that exit status, or "signal".
void failTool(const std::string& tool, const std::string& how) {
    writeFile(kFake + "/fail-" + tool, how + "\n");
}
void healTools() {
    ASSERT_EQ(system(("rm -f " + kFake + "/fail-*").c_str()), 0);
}

// One installation with a fresh writer, as after a change.
void install() {
    VELAppsWriter writer;
    writer.writeApps();
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
            GTEST_SKIP() << "not inside the test mount namespace (run it through ctest, which "
                            "wraps it in run-in-namespace.sh); the real kiosk paths stay untouched";
        }
        fflush(stderr);
        mSavedStderr = dup(2);
        int log = open((kFake + "/stderr.log").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        dup2(log, 2);
        close(log);
        reset();
    }

    // A clean kiosk, store and fake state; cases of a table call it each.
    void reset() {
        clearFaults();
        kStorageGroupId = 0;
        ASSERT_EQ(system(("rm -rf /var/opt/* " + kStore + " " + kFake + "/calls.log " + kFake +
                          "/fail-* " + kFake + "/gid")
                             .c_str()),
                  0);
        ASSERT_EQ(system(("mkdir -p /var/opt/MERXkx/kiosk " + kStore + "/entities/kiosk.default " +
                          kStore + "/default")
                             .c_str()),
                  0);
        ASSERT_EQ(truncate((kFake + "/stderr.log").c_str(), 0), 0);
    }

    void TearDown() override {
        clearFaults();
        if (mSavedStderr >= 0) {
            dup2(mSavedStderr, 2);
            close(mSavedStderr);
        }
    }

    std::string messages() { return readFile(kFake + "/stderr.log"); }
    std::string calls() {
        std::string text = readFile(kFake + "/calls.log");
        return text == "<missing>" ? "" : text;
    }
    void resetCalls() { unlink((kFake + "/calls.log").c_str()); }

    int mSavedStderr = -1;
};

// The tool calls of an installation that the kiosk accepts, with the
// configuration each tool saw ("a b " lists the files a and b).
std::string acceptedRound(const std::string& before, const std::string& after) {
    return "kxadmingid  [" + before + "]\n" + "kxgentab  [" + after + "]\n" + "kxkiosk -i kiosk [" +
           after + "]\n";
}

TEST_F(KioskInstallTest, SettingsFileIsWrittenByteForByte) {
    writeFile(kFake + "/gid", "4242\n");
    setApps({{"app1", {{"pathapp", "/usr/bin/x"}, {"label", "X"}}}});
    install();
    EXPECT_EQ(readFile(kConfig + "/app1"),
              readFile(std::string(HOLLIN_SOURCE_DIR) + "/plugins/velapps/tests/golden/app1"));
    EXPECT_EQ(calls(), acceptedRound("", "app1 "));
    EXPECT_EQ(messages(), "");
    struct stat st;
    ASSERT_EQ(stat(kConfig.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0770u);
    EXPECT_EQ(st.st_uid, 0u);
    EXPECT_EQ(st.st_gid, 4242u);

    // A group tool that fails or prints no number leaves the last good id.
    for (const char* broken : {"fail", "garbage"}) {
        if (std::string(broken) == "fail")
            failTool("kxadmingid", "1");
        writeFile(kFake + "/gid", "no number\n");
        setApps({app(std::string("app-") + broken)});
        install();
        ASSERT_EQ(stat(kConfig.c_str(), &st), 0);
        EXPECT_EQ(st.st_gid, 4242u) << broken;
        EXPECT_EQ(readFile(kConfig + "/app-" + broken),
                  "name=\"app-" + std::string(broken) + "\"\npathapp=\"/usr/bin/x\"\n");
        healTools();
    }
}

TEST_F(KioskInstallTest, WhatIsInstalledFromEachApplication) {
    setApps({
        {"app", {{"pathapp", "/opt/app/bin/run --kiosk"}, {"label", "It's <fine> & 100%"}}},
        {"renamed", {{"pathapp", "/bin/r"}, {"name", "Shown Name"}}},
        {"nopath", {{"label", "L"}}},
        {"emptypath", {{"pathapp", ""}}},
    });
    install();
    EXPECT_EQ(snapshot(kConfig),
              "app: label=\"It's <fine> & 100%\"\nname=\"app\"\n"
              "pathapp=\"/opt/app/bin/run --kiosk\"\n\n"
              "renamed: name=\"Shown Name\"\npathapp=\"/bin/r\"\n\n");
    EXPECT_EQ(messages(), "");

    // Nothing installable: an empty configuration, and the tools still run.
    resetCalls();
    setApps({{"nopath", {{"label", "L"}}}, {"emptypath", {{"pathapp", ""}}}});
    install();
    EXPECT_EQ(snapshot(kConfig), "");
    EXPECT_EQ(calls(), acceptedRound("app renamed ", ""));

    // A list of only properties has children too.
    setApps({app("back")});
    install();
    setPolicy(
        " <node zel:name=\"Applications\" zel:op=\"replace\">\n"
        "  <prop zel:name=\"stray\" zel:type=\"xs:string\"><value>v</value></prop>\n"
        "  <node zel:name=\"sub\"><node zel:name=\"deeper\"/></node>\n"
        " </node>\n");
    install();
    EXPECT_EQ(snapshot(kConfig), "");
}

TEST_F(KioskInstallTest, NoApplicationListChangesNothing) {
    setApps({app("kept")});
    install();
    const std::string before = snapshot("/var/opt/MERXkx/kiosk");
    struct Case {
        const char* what;
        std::string policy;
    } cases[] = {
        {"empty list", " <node zel:name=\"Applications\" zel:op=\"replace\"/>\n"},
        {"no list", " <node zel:name=\"Other\"><node zel:name=\"a\"/></node>\n"},
        {"list is a property",
         " <prop zel:name=\"Applications\" zel:type=\"xs:string\"><value>x</value></prop>\n"},
    };
    for (const Case& c : cases) {
        resetCalls();
        setPolicy(c.policy);
        install();
        EXPECT_EQ(snapshot("/var/opt/MERXkx/kiosk"), before) << c.what;
        EXPECT_EQ(calls(), "") << c.what;
    }
    EXPECT_EQ(messages(), "");
}

TEST_F(KioskInstallTest, HostileNamesAndValuesSkipTheirApplication) {
    struct Case {
        App app;
        std::string message;
    } cases[] = {
        {app(""), "Skipping application : empty name\n"},
        {app("a/b"), "Skipping application a/b: name contains \"/\"\n"},
        {app("."), "Skipping application .: name \".\" is not a file name\n"},
        {app(".."), "Skipping application ..: name \"..\" is not a file name\n"},
        {app("line\nbreak"), "Skipping application line\\x0abreak: name contains a line break\n"},
        {app("tab\tname"),
         "Skipping application tab\\x09name: name contains a control character\n"},
        {app("quo\"te"), "Skipping application quo\"te: name contains a double quote\n"},
        {{"badname", {{"pathapp", "/bin/x"}, {"name", "x\"; reboot; \""}}},
         "Skipping application badname: value of setting name contains a double quote\n"},
        {{"badkey", {{"pathapp", "/bin/x"}, {"bad-key", "1"}}},
         "Skipping application badkey: invalid setting name \"bad-key\"\n"},
        {{"dollar", {{"pathapp", "$(reboot)"}}},
         "Skipping application dollar: value of setting pathapp contains \"$\"\n"},
        {{"backquote", {{"pathapp", "`reboot`"}}},
         "Skipping application backquote: value of setting pathapp contains a backquote\n"},
        {{"backslash", {{"pathapp", "/bin/x"}, {"label", "a\\"}}},
         "Skipping application backslash: value of setting label contains a backslash\n"},
        {{"newline", {{"pathapp", "/bin/x\nrm -rf /"}}},
         "Skipping application newline: value of setting pathapp contains a line break\n"},
        {{"carriage", {{"pathapp", "/bin/x"}, {"label", "a\rb"}}},
         "Skipping application carriage: value of setting label contains a line break\n"},
        {{"tabvalue", {{"pathapp", "/bin/x"}, {"label", "a\tb"}}},
         "Skipping application tabvalue: value of setting label contains a control character\n"},
        {{"dollar$name", {{"pathapp", "/bin/x"}}},
         "Skipping application dollar$name: value of setting name contains \"$\"\n"},
    };
    std::vector<App> apps{app("good1"), app("zgood2")};
    std::string expected;
    for (const Case& c : cases)
        apps.push_back(c.app);
    // Messages come in the order of the node names.
    std::vector<std::pair<std::string, std::string>> ordered;
    for (const Case& c : cases)
        ordered.push_back({c.app.name, c.message});
    std::sort(ordered.begin(), ordered.end());
    for (const auto& entry : ordered)
        expected += entry.second;

    setApps(apps);
    install();
    EXPECT_EQ(messages(), expected);
    EXPECT_EQ(snapshot(kConfig),
              "good1: name=\"good1\"\npathapp=\"/usr/bin/x\"\n\n"
              "zgood2: name=\"zgood2\"\npathapp=\"/usr/bin/x\"\n\n");
    EXPECT_EQ(snapshot("/var/opt/MERXkx/kiosk"),
              "config/ {" + snapshot(kConfig) + "}\n");  // nothing written beside it
}

TEST_F(KioskInstallTest, EveryLaterInstallationSucceedsToo) {
    for (const char* name : {"first", "second", "third"}) {
        setApps({app(name)});
        install();
        EXPECT_EQ(snapshot(kConfig),
                  std::string(name) + ": name=\"" + name + "\"\npathapp=\"/usr/bin/x\"\n\n");
    }
    EXPECT_EQ(snapshot(kBackup), "second: name=\"second\"\npathapp=\"/usr/bin/x\"\n\n");
    EXPECT_EQ(access(kTemp.c_str(), F_OK), -1);
    EXPECT_EQ(messages(), "");
}

TEST_F(KioskInstallTest, BackupWithoutConfigurationIsRestoredBeforeItIsReplaced) {
    // An installation that stopped between moving the configuration aside
    // and putting the new one in place.
    setApps({app("old")});
    install();
    ASSERT_EQ(rename(kConfig.c_str(), kBackup.c_str()), 0);
    setApps({app("new")});
    install();
    EXPECT_EQ(snapshot(kConfig), "new: name=\"new\"\npathapp=\"/usr/bin/x\"\n\n");
    EXPECT_EQ(snapshot(kBackup), "old: name=\"old\"\npathapp=\"/usr/bin/x\"\n\n");
    EXPECT_EQ(messages(), "");
}

TEST_F(KioskInstallTest, LinksPlantedInTheTemporaryDirectoryAreNotFollowed) {
    ASSERT_EQ(system("mkdir -p /var/opt/precious/tree && echo keep > /var/opt/precious/tree/f"), 0);
    const std::string precious = snapshot("/var/opt/precious");
    // Inside the group-writable temporary directory, and in its place.
    ASSERT_EQ(mkdir(kTemp.c_str(), 0770), 0);
    ASSERT_EQ(symlink("/var/opt/precious/tree", (kTemp + "/evil").c_str()), 0);
    ASSERT_EQ(symlink("/var/opt/precious/tree/f", (kTemp + "/app").c_str()), 0);
    setApps({app("app")});
    install();
    EXPECT_EQ(snapshot("/var/opt/precious"), precious);
    EXPECT_EQ(snapshot(kConfig), "app: name=\"app\"\npathapp=\"/usr/bin/x\"\n\n");

    ASSERT_EQ(symlink("/var/opt/precious", kTemp.c_str()), 0);
    setApps({app("again")});
    install();
    EXPECT_EQ(snapshot("/var/opt/precious"), precious);
    EXPECT_EQ(snapshot(kConfig), "again: name=\"again\"\npathapp=\"/usr/bin/x\"\n\n");
    EXPECT_EQ(messages(), "");
}

// Fills /var/opt to the last byte; the destructor frees it.
struct FullDisk {
    FullDisk() {
        int fd = open("/var/opt/filler", O_WRONLY | O_CREAT | O_TRUNC, 0600);
        std::vector<char> block(65536, 'x');
        for (size_t size = block.size(); size > 0; size /= 2) {
            while (write(fd, block.data(), size) == static_cast<ssize_t>(size)) {
            }
        }
        close(fd);
    }
    ~FullDisk() { unlink("/var/opt/filler"); }
};

TEST_F(KioskInstallTest, AFailedInstallationKeepsThePreviousConfiguration) {
    const std::string cfg = "Write apps: Error accessing " + kConfig + ": ";
    const std::string tmp = "Write apps: Error accessing " + kTemp;
    struct Case {
        const char* what;
        std::function<void(KioskInstallTest&)> inject;
        std::string message;
    } cases[] = {
        {"first tool fails", [](KioskInstallTest&) { failTool("kxgentab", "1"); },
         cfg + "/opt/MERXkx/lib/kxgentab exited with status 1\n"},
        {"first tool killed", [](KioskInstallTest&) { failTool("kxgentab", "signal"); },
         cfg + "/opt/MERXkx/lib/kxgentab was killed by signal 9\n"},
        {"first tool cannot start",
         [](KioskInstallTest&) { armFault("system", kTableTool, EAGAIN); },
         cfg + "/opt/MERXkx/lib/kxgentab could not be run: Resource temporarily unavailable\n"},
        {"import fails", [](KioskInstallTest&) { failTool("kxkiosk", "3"); },
         cfg + "/opt/MERXkx/sbin/kxkiosk -i kiosk exited with status 3\n"},
        {"configuration cannot move aside",
         [](KioskInstallTest&) { armFault("rename", kConfig + " -> " + kBackup, EXDEV); },
         cfg + "Invalid cross-device link\n"},
        {"new configuration cannot move in",
         [](KioskInstallTest&) { armFault("rename", kTemp + " -> " + kConfig, EACCES); },
         cfg + "Permission denied\n"},
        {"old backup cannot be removed", [](KioskInstallTest&) { armFault("unlink", "", EPERM); },
         "Write apps: Error accessing " + kBackup + "/a0: Operation not permitted\n"},
        {"mkdir", [](KioskInstallTest&) { armFault("mkdir", kTemp, EROFS); },
         tmp + ": Read-only file system\n"},
        {"chown", [](KioskInstallTest&) { armFault("chown", kTemp, EPERM); },
         tmp + ": Operation not permitted\n"},
        {"chmod", [](KioskInstallTest&) { armFault("chmod", kTemp, EPERM); },
         tmp + ": Operation not permitted\n"},
        {"settings file cannot be created",
         [](KioskInstallTest&) { armFault("open", kTemp + "/b", EMFILE); },
         tmp + "/b: Too many open files\n"},
        {"write fails", [](KioskInstallTest&) { armFault("write", kTemp + "/b", ENOSPC); },
         tmp + "/b: No space left on device\n"},
        {"close fails", [](KioskInstallTest&) { armFault("close", kTemp + "/b", EIO); },
         tmp + "/b: Input/output error\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        reset();
        // Two installations first, so a backup exists as in the field.
        setApps({app("a0")});
        install();
        setApps({app("a", "/usr/bin/a")});
        install();
        const std::string previous = snapshot(kConfig);
        ASSERT_NE(previous, "<missing>");
        resetCalls();

        setApps({app("b"), app("c")});
        c.inject(*this);
        install();
        EXPECT_EQ(snapshot(kConfig), previous);
        EXPECT_EQ(messages(), c.message);
        if (std::string(c.what) == "import fails") {
            // Recovery runs after the restore, and only after a failed import.
            EXPECT_EQ(calls(),
                      "kxadmingid  [a ]\nkxgentab  [b c ]\nkxkiosk -i kiosk [b c ]\n"
                      "kxgenout  [a ]\n");
        } else {
            EXPECT_EQ(calls().find("kxgenout"), std::string::npos);
        }

        clearFaults();
        healTools();
        install();
        EXPECT_EQ(
            snapshot(kConfig),
            "b: name=\"b\"\npathapp=\"/usr/bin/x\"\n\nc: name=\"c\"\npathapp=\"/usr/bin/x\"\n\n");
    }
}

TEST_F(KioskInstallTest, AFullDiskKeepsThePreviousConfiguration) {
    setApps({app("a", std::string(5000, 'p'))});
    install();
    const std::string previous = snapshot(kConfig);
    setApps({app("b", std::string(5000, 'q'))});
    {
        FullDisk full;
        install();
        EXPECT_EQ(snapshot(kConfig), previous);
        EXPECT_EQ(messages(),
                  "Write apps: Error accessing " + kTemp + "/b: No space left on device\n");
        EXPECT_EQ(calls().find("kxgentab  [b"), std::string::npos);
    }
    install();
    EXPECT_EQ(readFile(kConfig + "/b"), "name=\"b\"\npathapp=\"" + std::string(5000, 'q') + "\"\n");
}

TEST_F(KioskInstallTest, FirstInstallationThatTheToolsRefuseLeavesNothing) {
    setApps({app("a")});
    failTool("kxkiosk", "1");
    install();
    EXPECT_EQ(snapshot(kConfig), "<missing>");
    EXPECT_EQ(snapshot(kBackup), "<missing>");
    EXPECT_EQ(calls(),
              "kxadmingid  []\nkxgentab  [a ]\nkxkiosk -i kiosk [a ]\n"
              "kxgenout  []\n");
    healTools();
    install();
    EXPECT_EQ(snapshot(kConfig), "a: name=\"a\"\npathapp=\"/usr/bin/x\"\n\n");
}

TEST_F(KioskInstallTest, AFailedRestoreKeepsTheBackup) {
    struct Case {
        const char* what;
        std::string rename;
        std::string message;
        std::string config;  // what the failed restore leaves in place
    } cases[] = {
        {"failed configuration stuck", kConfig + " -> " + kTemp,
         "Restore apps: Error accessing " + kConfig + ": Device or resource busy\n",
         "b: name=\"b\"\npathapp=\"/usr/bin/x\"\n\n"},
        {"backup stuck", kBackup + " -> " + kConfig,
         "Restore apps: Error accessing " + kBackup + ": Device or resource busy\n", "<missing>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        reset();
        setApps({app("a")});
        install();
        const std::string previous = snapshot(kConfig);
        setApps({app("b")});
        failTool("kxgentab", "1");
        armFault("rename", c.rename, EBUSY);
        install();
        EXPECT_EQ(messages(), c.message + "Write apps: Error accessing " + kConfig +
                                  ": /opt/MERXkx/lib/kxgentab exited with status 1\n");
        EXPECT_EQ(snapshot(kBackup), previous);
        EXPECT_EQ(snapshot(kConfig), c.config);

        // The next change still installs, and the backup is not lost on the way.
        clearFaults();
        healTools();
        setApps({app("c")});
        install();
        EXPECT_EQ(snapshot(kConfig), "c: name=\"c\"\npathapp=\"/usr/bin/x\"\n\n");
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
    EXPECT_EQ(snapshot(kConfig),
              "a: name=\"a\"\npathapp=\"/usr/bin/x\"\n\nb: name=\"b\"\npathapp=\"/usr/bin/x\"\n\n");
}

// Waits until the installed configuration equals expected, at most timeout.
bool installedWithin(const std::string& expected, std::chrono::milliseconds timeout,
                     std::chrono::milliseconds& took) {
    auto start = std::chrono::steady_clock::now();
    for (;;) {
        took = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - start);
        if (snapshot(kConfig) == expected)
            return true;
        if (took > timeout)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

TEST_F(KioskInstallTest, APolicyChangeReinstallsWithinOneSecond) {
    setApps({app("a")});
    failTool("kxgentab", "1");  // the first installation fails, listening starts all the same
    void* handle = velAppsInitialise();
    ASSERT_NE(handle, nullptr);
    velAppsExecute(handle);
    EXPECT_EQ(snapshot(kConfig), "<missing>");
    healTools();

    std::chrono::milliseconds took{};
    setApps({app("b")});
    EXPECT_TRUE(installedWithin("b: name=\"b\"\npathapp=\"/usr/bin/x\"\n\n",
                                std::chrono::milliseconds(1000), took))
        << "after " << took.count() << " ms";
    setApps({app("c"), {"d", {{"pathapp", "/bin/d"}, {"label", "D"}}}});
    EXPECT_TRUE(
        installedWithin("c: name=\"c\"\npathapp=\"/usr/bin/x\"\n\nd: "
                        "label=\"D\"\nname=\"d\"\npathapp=\"/bin/d\"\n\n",
                        std::chrono::milliseconds(1000), took))
        << "after " << took.count() << " ms";
    Uninitialise(handle);

    // Several installations may follow one edit; each of them succeeded.
    const std::string log = messages();
    EXPECT_EQ(log, "Write apps: Error accessing " + kConfig +
                       ": /opt/MERXkx/lib/kxgentab exited with status 1\n");
}

}  // namespace
