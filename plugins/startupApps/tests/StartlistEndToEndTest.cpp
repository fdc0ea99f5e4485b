// SPDX-License-Identifier: LGPL-2.1-or-later
// Runs the built startlist in a scratch HOME against a scratch policy store
// and checks the session-manual it leaves against files in data/
// (STARTLIST_UPDATE_GOLDEN=1 rewrites them; review the diff before committing).
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <thread>

#include "Program.h"
#include "TestFiles.h"

namespace {

namespace fs = std::filesystem;
const std::string kData = HOLLIN_SOURCE_DIR "/plugins/startupApps/tests/data/";
const std::string kStartlist = HOLLIN_BINARY_DIR "/bin/startlist";

using testsupport::readFile;

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// One application of the startup list as layer XML; an empty order is left out.
std::string app(const std::string& node, const std::string& command, const std::string& order) {
    return "<node zel:name=\"" + node + "\"><prop zel:name=\"command\"><value>" + command +
           "</value></prop>" +
           (order.empty() ? "" : "<prop zel:name=\"order\"><value>" + order + "</value></prop>") +
           "</node>\n";
}

// A scratch HOME and policy store, removed at the end.
struct Scratch {
    Scratch() {
        fs::create_directories(root + "/home/.gnome2");
        fs::create_directories(root + "/store/default");
    }

    std::string session() const { return readFile(root + "/home/.gnome2/session-manual"); }
    void install(const std::string& fixture) const {
        writeFile(root + "/home/.gnome2/session-manual", readFile(kData + fixture));
    }
    // The store's only layer holds this startup list; an empty one: no layer.
    void policy(const std::string& list, const std::string& store = "store") const {
        const std::string layer = root + "/" + store + "/default/com.orvek.ferrun.applications.xml";
        if (list.empty()) {
            fs::remove(layer);
        } else {
            writeFile(layer,
                      "<zel:component-data xmlns:zel=\"urn:vesk:policy-layer\""
                      " zel:name=\"com.orvek.ferrun.applications\">"
                      "<node zel:name=\"startup_list\" zel:op=\"replace\">\n" +
                          list + "</node></zel:component-data>\n");
        }
    }
    std::map<std::string, std::string> environment(const std::string& store) const {
        return {{"HOME", root + "/home"},
                {"XDG_CONFIG_HOME", root + "/config"},
                {"HOLLIN_CACHE_DIR", root + "/cache"},
                {"VESK_POLICY_STORE", root + "/" + store},
                {"VESKLEG_LOG", "1"},
                {"VESKLEG_LOG_LEVEL", "Error"}};
    }
    // startlist must exit 0 whatever happens; its standard error goes to errors.
    void run(const std::string& store = "store") {
        Program startlist(kStartlist, environment(store), root + "/err");
        EXPECT_EQ(startlist.wait(std::chrono::seconds(60)), 0);
        errors = readFile(root + "/err");
    }

    const testsupport::TempDir dir{"startlist-e2e"};
    const std::string root = dir.path;
    std::string errors;
};

// Blank lines are the configuration layer's layout between sections, not
// ours; every other line (comments, keys, their order and escaping) counts.
std::string withoutBlankLines(const std::string& text) {
    std::istringstream in(text);
    std::string result;
    for (std::string line; std::getline(in, line);) {
        result += line.empty() ? "" : line + "\n";
    }
    return result;
}

void expectGolden(const std::string& name, const std::string& actual) {
    if (getenv("STARTLIST_UPDATE_GOLDEN") != nullptr) {
        writeFile(kData + name, actual);
    }
    EXPECT_EQ(withoutBlankLines(actual), withoutBlankLines(readFile(kData + name))) << name;
}

TEST(StartlistEndToEnd, SessionListsAgainstGoldenFiles) {
    const std::pair<const char*, std::string> cases[] = {
        // Old entries 0 and 2 kept as they were (priority and style as text, an
        // empty one too), our entry 1 dropped, the applications in node-name order.
        {"three-entries-one-ours", app("b", "xbiff", "10") + app("a", "xload -update 5", "")},
        {"duplicate-commands", ""},  // two recorded: the two lowest entries go
        // Other keys move with their kept entry and go with a dropped one; keys
        // of no entry of the list stay where they are.
        {"extra-keys", app("clock", "xclock", "")},
        {"num-clients-zero", ""},  // the record is not even read
        {"num-clients-negative", ""},
        {"dropped-entry-without-priority", ""},
        {"huge-record-count", app("clock", "xclock", "")},
        // A property before the first application has the empty order; no, an
        // empty or a list-typed command gives no entry; a structural node begins
        // an application, except a nested startup_list.
        {"policy-corner-cases",
         "<prop zel:name=\"command\"><value>early</value></prop>"
         "<node zel:name=\"da\"><prop zel:name=\"order\"><value>1</value></prop></node>"
         "<node zel:name=\"db\"><prop zel:name=\"command\"><value></value></prop></node>"
         "<node zel:name=\"dc\"><prop zel:name=\"command\" zel:type=\"zel:string-list\">"
         "<value>x</value></prop></node>"
         "<node zel:name=\"dd\"><prop zel:name=\"icon\"><value>i</value></prop>"
         "<prop zel:name=\"command\"><value>ok</value></prop></node>"
         "<node zel:name=\"outer\"><prop zel:name=\"command\"><value>outer</value></prop>"
         "<prop zel:name=\"order\"><value>5</value></prop>" +
             app("inner", "inner", "") + "</node>" +
             "<node zel:name=\"p\"><prop zel:name=\"command\"><value>p1</value></prop>"
             "<node zel:name=\"startup_list\"><prop zel:name=\"order\"><value>7</value>"
             "</prop></node></node>"},
    };
    for (const auto& [session, list] : cases) {
        Scratch scratch;
        scratch.install(session);
        scratch.policy(list);
        scratch.run();
        EXPECT_EQ(scratch.errors, "") << session;
        expectGolden(session + std::string(".expected"), scratch.session());
    }
}

// Each run replaces exactly the entries of the run before: not the user's
// entry that differs from one of them by the trailing blank, and also when
// commands hold a line break, "=" or "[", which add no key or section.
TEST(StartlistEndToEnd, ARunReplacesExactlyTheEntriesOfThePreviousRun) {
    Scratch scratch;
    scratch.install("user-entry-without-trailing-blank");
    const std::pair<const char*, std::string> runs[] = {
        {"rerun-first", app("a", "alpha", "1") + app("b", "beta", "2") + app("c", "alpha", "3")},
        {"rerun-second", app("b", "beta", "2") + app("c", "alpha", "3") + app("d", "gamma", "")},
        {"hostile-commands", app("a", "sh -c 'echo hi'&#10;[Default]&#10;num_clients=99", "1") +
                                 app("b", "env A=B prog", "2") + app("c", "[MERX]", "3") +
                                 app("d", " \\leading blank and backslash\\", "4")},
        {"hostile-commands", ""},  // the same policy once more
    };
    for (const auto& [golden, list] : runs) {
        if (!list.empty()) {
            scratch.policy(list);
        }
        scratch.run();
        // Only d is refused, as autostart entry and in session-manual alike:
        // its command ends in a lone backslash, which splits into no arguments.
        const bool hostile = golden == std::string("hostile-commands");
        EXPECT_EQ(scratch.errors.rfind("Skipping the startup application d: ", 0),
                  hostile ? 0 : std::string::npos);
        EXPECT_EQ(scratch.errors.find('\n'),
                  hostile ? scratch.errors.size() - 1 : std::string::npos);
        expectGolden(golden + std::string(".expected"), scratch.session());
    }
}

TEST(StartlistEndToEnd, NothingConfiguredAndNothingThereWritesNothing) {
    Scratch scratch;
    fs::remove(scratch.root + "/home/.gnome2");
    scratch.run();
    EXPECT_EQ(scratch.errors, "");
    EXPECT_FALSE(fs::exists(scratch.root + "/home/.gnome2"));
}

// A folder of copies that others may write is not used: a link another user
// planted at the copy's name never lends startlist's rights to its target.
TEST(StartlistEndToEnd, KeptCopyIsNeverWrittenThroughAPlantedLink) {
    Scratch scratch;
    scratch.policy(app("clock", "xclock", "20"));
    const std::string victim = scratch.root + "/victim";
    writeFile(victim, "secret");
    fs::create_directories(scratch.root + "/cache");
    fs::permissions(scratch.root + "/cache", fs::perms::all | fs::perms::sticky_bit);
    fs::create_symlink(victim, scratch.root + "/cache/@com.orvek.ferrun.applications.xml");
    scratch.run();
    EXPECT_EQ(readFile(victim), "secret");
    EXPECT_NE(scratch.session().find("xclock"), std::string::npos) << scratch.errors;
}

// A file startlist cannot use is never rewritten; the run says why and exits 0.
TEST(StartlistEndToEnd, BrokenSessionFilesStayByteIdentical) {
    const std::string corrupted =
        "An error occurred while running the startup applications plugin: "
        "Corrupted session-manual\n";
    const std::string unsaved = "The session list could not be saved";
    const std::pair<const char*, std::string> cases[] = {
        {"corrupted-entry-without-restart-command", corrupted},
        {"corrupted-kept-entry-without-priority", corrupted},
        {"unparsable-stray-line", unsaved},
        {"unparsable-key-before-first-section", unsaved},
    };
    for (const auto& [session, message] : cases) {
        Scratch scratch;
        scratch.policy(app("clock", "xclock", "20"));
        scratch.install(session);
        scratch.run();
        EXPECT_EQ(scratch.session(), readFile(kData + session));
        EXPECT_NE(scratch.errors.find(message), std::string::npos) << scratch.errors;
    }
}

// The store missing at login: the user's entries stay and ours go (or come
// from the copy a complete read kept at an earlier login). startlist stays
// until the store appears, follows it without a restart and then exits, also
// when the store comes back with the policy of the copy or a broken launcher
// layer is mended: the startup list did not change, the read is now complete.
TEST(StartlistEndToEnd, StoreMissingAtLoginIsFollowedOnceCreated) {
    const std::string user = getpwuid(getuid())->pw_name;
    const std::string launcherLayer =
        "<zel:component-data zel:name=\"com.orvek.ferrun.applications\"><node "
        "zel:name=\"launcher_list\"><node zel:name=\"t\"><prop zel:name=\"Exec\"><value>xterm"
        "</value></prop></node></node></zel:component-data>";
    const std::vector<std::string> withoutInotify = withoutInotifyPrefix();
    const struct {
        const char* what;
        bool cached;
        bool brokenLayer;  // instead of the store missing
        bool inotify;
        const char *node, *returned;
    } cases[] = {
        {"without a kept copy", false, false, true, "eyes", "xeyes"},
        {"with a kept copy", true, false, true, "eyes", "xeyes"},
        {"back with the policy of the copy", true, false, true, "clock", "xclock"},
        {"a broken launcher layer mended", true, true, true, "clock", "xclock"},
        {"with no inotify instance left", false, false, false, "eyes", "xeyes"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (!c.inotify && withoutInotify.empty()) {
            continue;  // no user namespaces here
        }
        Scratch scratch;
        scratch.install("three-entries-one-ours");
        if (c.cached) {
            scratch.policy(app("clock", "xclock", "20"));
            scratch.run();
            fs::remove_all(scratch.root + "/config/autostart");  // written from full reads only
        }
        const std::string userLayer =
            scratch.root + "/store/users/" + user + "/com.orvek.ferrun.applications.xml";
        if (c.brokenLayer) {
            fs::create_directories(fs::path(userLayer).parent_path());
            writeFile(userLayer, launcherLayer.substr(0, 90));
        } else {
            fs::rename(scratch.root + "/store", scratch.root + "/later");
        }
        std::map<std::string, std::string> environment = scratch.environment("store");
        environment["VESKLEG_LOG_LEVEL"] = "Info";
        Program startlist(kStartlist, environment, scratch.root + "/err",
                          c.inotify ? std::vector<std::string>() : withoutInotify);
        const auto session = [&] { return scratch.session(); };
        // Ours dropped, or taken from the kept copy.
        const std::string first = c.cached ? "RestartCommand=xclock " : "";
        EXPECT_TRUE(testsupport::waitUntil([&] {
            return session().find("xclock -digital") == std::string::npos &&
                   session().find(first) != std::string::npos;
        })) << session();
        EXPECT_TRUE(testsupport::waitUntil([&] {
            return readFile(scratch.root + "/err").find("waiting to write the startup") !=
                   std::string::npos;
        }));
        EXPECT_TRUE(startlist.running());
        if (!c.cached) {
            expectGolden("three-entries-one-ours.store-unreachable.expected", session());
            EXPECT_NE(readFile(scratch.root + "/err")
                          .find("No configuration for com.orvek.ferrun.applications: "),
                      std::string::npos);
        }
        if (c.brokenLayer) {
            writeFile(userLayer + ".new", launcherLayer);
            fs::rename(userLayer + ".new", userLayer);
        } else {
            scratch.policy(app(c.node, c.returned, "20"), "later");
            fs::rename(scratch.root + "/later", scratch.root + "/store");
        }
        EXPECT_EQ(startlist.wait(std::chrono::seconds(20)), 0) << readFile(scratch.root + "/err");
        EXPECT_NE(session().find(c.returned), std::string::npos) << session();
        EXPECT_TRUE(fs::exists(scratch.root + "/config/autostart/MERX" + c.node + ".desktop"));
        if (c.node == std::string("eyes")) {
            EXPECT_EQ(session().find("xclock"), std::string::npos) << session();
        }
    }
}

// The sorted lines of a command's standard output.
std::string sortedOutput(const std::string& command) {
    std::string lines;
    if (FILE* pipe = popen(("(" + command + ") 2>&1 | sort").c_str(), "r")) {
        char buffer[512];
        while (fgets(buffer, sizeof buffer, pipe) != nullptr) {
            lines += buffer;
        }
        pclose(pipe);
    }
    return lines;
}

// The autostart folder as an XDG session starter sees it: dex starts exactly
// the applications of policy and the user's own entry; every entry passes
// the validator. Our entries of earlier runs go when policy drops them, and
// the user's files stay, also one named like ours but without our marker.
TEST(StartlistEndToEnd, AutostartEntriesAsASessionStartsThem) {
    Scratch scratch;
    const std::string autostart = scratch.root + "/config/autostart";
    fs::create_directories(autostart);
    writeFile(autostart + "/mine.desktop",
              "[Desktop Entry]\nType=Application\nName=Mine\nExec=mine --now\n");
    writeFile(autostart + "/MERXnotes.txt", "not an entry\n");
    writeFile(autostart + "/MERXold.desktop", "[Desktop Entry]\nExec=old\nX-MERX-Managed=true\n");
    writeFile(autostart + "/MERXown.desktop",
              "[Desktop Entry]\nType=Application\nName=Own\nExec=own\n");
    const std::string dex = "XDG_CONFIG_HOME=" + scratch.root +
                            "/config XDG_CONFIG_DIRS=/nonexistent dex --autostart --dry-run";
    const struct {
        std::string policy, started, files;
    } runs[] = {
        {app("b", "xbiff", "10") + app("a", "xload -update 5", "") +
             app("c", "xclock -digital", "60") + app("x/y", "escape", "") +
             app("d", "unbalanced 'quote", ""),
         "Executing command: mine --now\nExecuting command: own\nExecuting command: xbiff\n"
         "Executing command: xclock -digital\nExecuting command: xload -update 5\n",
         "MERXa.desktop MERXb.desktop MERXc.desktop MERXnotes.txt MERXown.desktop mine.desktop "},
        {app("b", "xbiff", "10"),
         "Executing command: mine --now\nExecuting command: own\nExecuting command: xbiff\n",
         "MERXb.desktop MERXnotes.txt MERXown.desktop mine.desktop "},
    };
    for (const auto& run : runs) {
        SCOPED_TRACE(run.files);
        scratch.policy(run.policy);
        scratch.run();
        if (&run == runs) {
            EXPECT_NE(scratch.errors.find("whose name is no file name: x/y\n"), std::string::npos);
            EXPECT_NE(scratch.errors.find("application d: its command does not split"),
                      std::string::npos)
                << scratch.errors;
        }
        std::string files;
        for (const auto& entry : fs::directory_iterator(autostart)) {
            files += entry.path().filename().string() + "\n";
        }
        EXPECT_EQ(sortedOutput("printf '%s' '" + files + "'"),
                  sortedOutput("printf '%s\\n' " + run.files));
        EXPECT_EQ(sortedOutput(dex), run.started);
        EXPECT_EQ(sortedOutput("cd " + autostart + " && desktop-file-validate *.desktop"), "");
    }
    const std::string entry = readFile(autostart + "/MERXb.desktop");
    EXPECT_NE(entry.find("Name=b\n"), std::string::npos) << entry;
    EXPECT_NE(entry.find("X-KDE-autostart-phase=1\n"), std::string::npos) << entry;
    EXPECT_NE(entry.find("X-MERX-Order=10\n"), std::string::npos) << entry;
    EXPECT_EQ(readFile(autostart + "/mine.desktop"),
              "[Desktop Entry]\nType=Application\nName=Mine\nExec=mine --now\n");
}

// An entry that cannot be saved (a folder in its place here, a full disk
// alike) keeps startlist, which saves it by itself once it can: that
// session-manual saved meanwhile does not end it.
TEST(StartlistEndToEnd, AutostartEntryThatCannotBeSavedIsSavedLater) {
    Scratch scratch;
    const std::string entry = scratch.root + "/config/autostart/MERXclock.desktop";
    const std::string errors = scratch.root + "/err";
    fs::create_directories(entry + "/in-the-way");
    scratch.policy(app("clock", "xclock", "20"));
    Program startlist(kStartlist, scratch.environment("store"), errors);
    EXPECT_TRUE(testsupport::waitUntil([&] {
        return readFile(errors).find("Could not save the autostart entry " + entry) !=
                   std::string::npos &&
               scratch.session().find("xclock") != std::string::npos;
    })) << readFile(errors);
    EXPECT_TRUE(startlist.running());
    fs::remove_all(entry);
    EXPECT_EQ(startlist.wait(std::chrono::seconds(20)), 0) << readFile(errors);
    EXPECT_NE(readFile(entry).find("Exec=xclock\n"), std::string::npos) << readFile(errors);
}

// Every file of a scratch HOME and XDG_CONFIG_HOME with its contents, by path
// below the scratch folder.
std::map<std::string, std::string> tree(const std::string& root) {
    std::map<std::string, std::string> files;
    for (const char* dir : {"/home", "/config"}) {
        for (const auto& entry : fs::recursive_directory_iterator(root + dir)) {
            if (entry.is_regular_file()) {
                files[entry.path().lexically_relative(root).string()] = readFile(entry.path());
            }
        }
    }
    return files;
}

// "startlist --remove" takes back every file and session entry hollin wrote
// (autostart entries, launchers in the desktop folder and in the one
// user-dirs.dirs moved it from) and leaves all of the user's byte for byte,
// also those named like ours without our marker; a second run finds nothing.
TEST(StartlistEndToEnd, RemoveTakesBackExactlyWhatHollinWrote) {
    Scratch scratch;
    const std::string home = scratch.root + "/home", config = scratch.root + "/config";
    const std::string mine = "[Desktop Entry]\nType=Application\nName=Mine\nExec=mine\n";
    const std::string ours = mine + "X-MERX-Managed=true\n";
    fs::create_directories(config + "/autostart");
    fs::create_directories(home + "/Desktop");
    fs::create_directories(home + "/Schreibtisch");
    writeFile(config + "/user-dirs.dirs", "XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n");
    for (const std::string& file :
         {config + "/autostart/mine.desktop", config + "/autostart/MERXmine.desktop",
          home + "/Desktop/MERXmine.desktop", home + "/Schreibtisch/notes"}) {
        writeFile(file, mine);
    }
    writeFile(home + "/Schreibtisch/MERXtoo.desktop", "X-MERX-Managed=true\n" + mine);  // ours
    const auto userFiles = tree(scratch.root);  // the session list aside, all the user's

    scratch.install("extra-keys");
    scratch.policy(app("clock", "xclock", "") + app("eyes", "xeyes", ""));
    scratch.run();
    for (const std::string& launcher :
         {home + "/Desktop/MERXold.desktop", home + "/Schreibtisch/MERXa.desktop"}) {
        writeFile(launcher, ours);
    }
    ASSERT_TRUE(fs::exists(config + "/autostart/MERXeyes.desktop"));
    ASSERT_NE(scratch.session().find("xeyes"), std::string::npos);

    for (int run = 0; run < 2; ++run) {
        const Program::Result removed =
            Program::run({kStartlist, "--remove"}, scratch.environment("gone"));
        EXPECT_EQ(removed.status, 0) << removed.err;
        EXPECT_EQ(removed.err, "");
        expectGolden("extra-keys.removed.expected", scratch.session());
        auto left = tree(scratch.root);
        left.erase("home/.gnome2/session-manual");
        auto expected = userFiles;
        expected.erase("home/Schreibtisch/MERXtoo.desktop");
        EXPECT_EQ(left, expected);
    }
    EXPECT_EQ(Program::run({kStartlist, "--bogus"}).status, 2);
}

// A command is split as the shell splits it and each argument quoted anew
// for Exec: GIO's launcher passes the very same arguments.
TEST(StartlistEndToEnd, AutostartEntriesRunTheSameArguments) {
    Scratch scratch;
    const std::string out = scratch.root + "/arguments";
    scratch.policy(
        app("q", "sh -c 'printf \"[%s]\" \"$@\" &gt;" + out + "' zero 'a  b' 'c\"d$e`\\' 50% '' ~",
            ""));
    scratch.run();
    const std::string autostart = scratch.root + "/config/autostart";
    EXPECT_EQ(sortedOutput("cd " + autostart +
                           " && desktop-file-validate MERXq.desktop && gio launch MERXq.desktop"),
              "");
    EXPECT_TRUE(
        testsupport::waitUntil([&] { return !readFile(out).empty(); }, std::chrono::seconds(10)));
    EXPECT_EQ(readFile(out), "[a  b][c\"d$e`\\][50%][][~]");
}

// A group of the user named with "/" (directory-backed name services allow
// it) costs its own scope only: the site's list still reaches the session.
// Runs under run-in-namespace.sh with HOLLIN_EXTRA_GROUP set.
TEST(StartlistEndToEnd, GroupThatCannotNameAScopeLeavesTheRestOfThePolicy) {
    const char* extra = std::getenv("HOLLIN_EXTRA_GROUP");
    const struct group* group = extra != nullptr ? getgrnam(extra) : nullptr;
    const struct passwd* user = getpwuid(getuid());
    bool member = false;
    for (char** name = group != nullptr ? group->gr_mem : nullptr; name && *name; ++name) {
        member = member || (user != nullptr && std::string(*name) == user->pw_name);
    }
    if (!member) {
        GTEST_SKIP() << "needs a group named as in HOLLIN_EXTRA_GROUP (run-in-namespace.sh)";
    }
    Scratch scratch;
    scratch.policy(app("clock", "xclock", ""));
    scratch.run();
    EXPECT_NE(scratch.session().find("xclock"), std::string::npos) << scratch.errors;
}

}  // namespace
