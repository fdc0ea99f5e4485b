// deskrunner as a program: the outcomes of starting its two plug-ins (with
// test doubles that fail on demand), and the real program on a scratch policy
// store and HOME, rewriting live and ending on SIGTERM.
#include <gtest/gtest.h>

#include <pwd.h>
#include <unistd.h>

#include <csignal>
#include <map>
#include <sstream>

#include "LauncherTestSupport.h"
#include "Program.h"

using namespace std::chrono_literals;
using namespace launchertest;

namespace {

// The doubles' log in short (see FakePlugins.cpp); "LE" and "ME" stand for
// the host's message on a failure of that plug-in, "X" for any other failure.
std::string expand(const std::string& codes) {
    std::istringstream in(codes);
    std::string text;
    for (std::string code; in >> code;) {
        const std::string who = code[0] == 'L' ? "launchers" : "menu";
        text += code == "X"      ? "An unexpected error has occurred.\n"
                : code[1] == 'E' ? "An error occurred while running the desktop applications '" +
                                       who + "' plugin: " + who + " broken\n"
                                 : code + "\n";
    }
    return text;
}

TEST(DeskrunnerTest, OutcomesOfStartingThePlugins) {
    struct Outcome {
        const char *what, *launchers, *menu;
        int stopSignal;  // 0: ends by itself
        const char* log;
    };
    const Outcome outcomes[] = {
        // A failing uninitialise is ignored without a message.
        {"both start", "uninitialise", "", SIGTERM, "L+ L! M+ M! L- M-"},
        {"menu fails", "", "execute", SIGINT, "L+ L! M+ M! ME L- M-"},
        {"launchers fail", "initialise", "", SIGTERM, "L+ LE M+ M! L0 M-"},
        {"both fail", "initialise", "initialise", 0, "L+ LE M+ ME L0 M0"},
        {"both fail with handles", "execute", "execute", 0, "L+ L! LE M+ M! ME L- M-"},
        {"not an Exception", "other", "", 0, "L+ L! X"},
    };
    TempDir scratch;
    for (const Outcome& o : outcomes) {
        SCOPED_TRACE(o.what);
        Program runner(binary("deskrunner_fakes"),
                       {{"FAKE_LAUNCHERS", o.launchers},
                        {"FAKE_MENU", o.menu},
                        {"VESKLEG_LOG", "1"},
                        {"VESKLEG_LOG_LEVEL", "Info"}},
                       scratch / "stderr");
        if (o.stopSignal != 0) {
            std::this_thread::sleep_for(500ms);
            EXPECT_TRUE(runner.running()) << "ended though a plug-in runs";
            runner.signal(o.stopSignal);
        }
        EXPECT_EQ(runner.wait(3s), 0);
        EXPECT_EQ(readFile(scratch / "stderr"), expand(o.log));
    }
}

// Launchers written at the start (an older one deleted, the user's file kept),
// rewritten within a second of an edit, left as they are when the store goes;
// SIGTERM stops both plug-ins, launchers first.
TEST(DeskrunnerTest, RewritesLiveAndEndsOnSigterm) {
    TempDir scratch;
    const std::string store = scratch / "store", desktop = scratch / "home/Desktop";
    const std::string errors = scratch / "stderr";
    fs::create_directories(store + "/default");
    fs::create_directories(desktop);
    const auto setLayer = [&](const std::string& list) {
        writeFile(store + "/default/com.orvek.ferrun.applications.xml", layer(launchers(list)));
    };
    setLayer(launcher("a", "a1") + launcher("b", "b"));
    writeFile(desktop + "/MERXold.desktop", "old\n");
    writeFile(desktop + "/notes.txt", "mine\n");
    Program runner(binary("deskrunner"),
                   {{"HOME", scratch / "home"},
                    {"VESK_POLICY_STORE", store},
                    {"VESKLEG_LOG", "1"},
                    {"VESKLEG_LOG_LEVEL", "Info"}},
                   errors);
    ASSERT_TRUE(waitUntil([&] {
        return readFile(errors).find("menu plug-in started\n") != std::string::npos;
    })) << readFile(errors);
    EXPECT_EQ(listDir(desktop), (Names{"MERXa.desktop", "MERXb.desktop", "notes.txt"}));

    setLayer(launcher("a", "a2") + launcher("c", "c"));
    const Names next = {"MERXa.desktop", "MERXc.desktop", "notes.txt"};
    ASSERT_TRUE(waitUntil([&] {
        return listDir(desktop) == next &&
               readFile(desktop + "/MERXa.desktop").find("Exec=a2\n") != std::string::npos;
    }));
    EXPECT_EQ(readFile(desktop + "/notes.txt"), "mine\n");

    const std::string a = readFile(desktop + "/MERXa.desktop");
    fs::rename(store, scratch / "gone");
    std::this_thread::sleep_for(1s);
    EXPECT_EQ(listDir(desktop), next);
    EXPECT_EQ(readFile(desktop + "/MERXa.desktop"), a);

    runner.signal(SIGTERM);
    EXPECT_EQ(runner.wait(3s), 0);
    const std::string log = readFile(errors);
    const size_t finished = log.find("finished listening for changes to launcher definitions\n");
    ASSERT_NE(finished, std::string::npos) << log;
    EXPECT_LT(finished, log.find("menu plug-in stopped\n")) << log;
}

// A user whose inotify instances are used up (many sessions of one account on
// a thin-client server): deskrunner still follows an edit, within 3 s.
TEST(DeskrunnerTest, FollowsEditsWithNoInotifyInstanceLeft) {
    const std::vector<std::string> withoutInotify = withoutInotifyPrefix();
    if (withoutInotify.empty()) {
        GTEST_SKIP() << "needs user namespaces";
    }
    TempDir scratch;
    const std::string store = scratch / "store", desktop = scratch / "home/Desktop";
    const std::string layerFile = store + "/default/com.orvek.ferrun.applications.xml";
    fs::create_directories(store + "/default");
    fs::create_directories(desktop);
    writeFile(layerFile, layer(launchers(launcher("a", "a"))));
    Program runner(binary("deskrunner"),
                   {{"HOME", scratch / "home"},
                    {"VESK_POLICY_STORE", store},
                    {"HOLLIN_CACHE_DIR", "off"},
                    {"VESKLEG_LOG", "1"},
                    {"VESKLEG_LOG_LEVEL", "Info"}},
                   scratch / "stderr", withoutInotify);
    ASSERT_TRUE(waitUntil([&] { return listDir(desktop) == Names{"MERXa.desktop"}; }))
        << readFile(scratch / "stderr");
    ASSERT_TRUE(waitUntil([&] {
        return readFile(scratch / "stderr").find("listening for changes to launcher") !=
               std::string::npos;
    })) << readFile(scratch / "stderr");
    writeFile(layerFile, layer(launchers(launcher("b", "b"))));
    EXPECT_TRUE(waitUntil([&] { return listDir(desktop) == Names{"MERXb.desktop"}; }, 3s))
        << readFile(scratch / "stderr");
    EXPECT_EQ(runner.stop(SIGTERM), 0);
}

// A default layer cut short, holding a Latin-1 byte, or away for an editor's
// rename gap, changes nothing while deskrunner runs: the launchers stay, and
// so does the lock on c against the user's layer. A deskrunner started meanwhile serves the copy
// the first kept.
TEST(DeskrunnerTest, BrokenOrBrieflyMissingLayerKeepsTheLaunchersAndTheirLocks) {
    TempDir scratch;
    const std::string store = scratch / "store", desktop = scratch / "home/Desktop";
    const std::string user = "users/" + std::string(getpwuid(getuid())->pw_name);
    fs::create_directories(store + "/default");
    fs::create_directories(store + "/" + user);
    fs::create_directories(desktop);
    const std::string lockedC =
        "<node zel:name=\"c\" zel:finalized=\"true\"><prop zel:name=\"Exec\"><value>c</value>"
        "</prop><prop zel:name=\"Name\"><value>c</value></prop></node>";
    const std::string whole = layer(launchers(launcher("a", "a") + lockedC));
    const std::string defaultLayer = store + "/default/com.orvek.ferrun.applications.xml";
    writeFile(defaultLayer, whole);
    writeFile(store + "/" + user + "/com.orvek.ferrun.applications.xml",
              layer(launchers(launcher("c", "hacked") + launcher("d", "d"))));
    const std::map<std::string, std::string> environment = {{"HOME", scratch / "home"},
                                                            {"VESK_POLICY_STORE", store},
                                                            {"HOLLIN_CACHE_DIR", scratch / "cache"},
                                                            {"VESKLEG_LOG", "1"},
                                                            {"VESKLEG_LOG_LEVEL", "Warning"}};
    const Names all = {"MERXa.desktop", "MERXc.desktop", "MERXd.desktop"};
    const auto intact = [&] {
        return listDir(desktop) == all &&
               readFile(desktop + "/MERXc.desktop").find("Exec=c\n") != std::string::npos;
    };
    {
        Program runner(binary("deskrunner"), environment, scratch / "stderr");
        ASSERT_TRUE(waitUntil(intact)) << readFile(scratch / "stderr");
        // An editor's save: the layer renamed away and written back 300 ms later.
        fs::rename(defaultLayer, defaultLayer + "~");
        bool disturbed = waitUntil([&] { return !intact(); }, 300ms);
        writeFile(defaultLayer, whole);
        disturbed = disturbed || waitUntil([&] { return !intact(); }, 2500ms);
        EXPECT_FALSE(disturbed) << listDir(desktop).size() << readFile(desktop + "/MERXc.desktop");
        for (const std::string& broken : {whole.substr(0, whole.find("<node zel:name=\"c\"") + 30),
                                          layer(launchers(launcher("a", "caf\xe9") + lockedC))}) {
            writeFile(defaultLayer, broken);
            std::this_thread::sleep_for(1s);
            EXPECT_TRUE(intact()) << readFile(desktop + "/MERXc.desktop");
        }
        runner.signal(SIGTERM);
        EXPECT_EQ(runner.wait(3s), 0);
    }
    fs::remove_all(desktop);
    fs::create_directories(desktop);
    Program restarted(binary("deskrunner"), environment, scratch / "stderr2");
    ASSERT_TRUE(waitUntil(intact)) << listDir(desktop).size() << readFile(scratch / "stderr2");
    EXPECT_NE(readFile(scratch / "stderr2").find("served from the copy in"), std::string::npos);
    restarted.signal(SIGTERM);
    EXPECT_EQ(restarted.wait(3s), 0);
}

// A store missing at login and created later: deskrunner listens all the
// same and follows without a restart, first from the copy a complete read
// kept at an earlier login when there is one. Until the store is there no
// launcher is deleted.
TEST(DeskrunnerTest, StoreMissingAtStartIsFollowedOnceCreated) {
    TempDir scratch;
    for (const bool cached : {false, true}) {
        SCOPED_TRACE(cached ? "with a kept copy" : "without");
        const std::string root = scratch / (cached ? "cached" : "plain");
        const std::string store = root + "/store", desktop = root + "/home/Desktop";
        const std::string layerFile = "/default/com.orvek.ferrun.applications.xml";
        const std::map<std::string, std::string> environment = {
            {"HOME", root + "/home"},
            {"VESK_POLICY_STORE", store},
            {"HOLLIN_CACHE_DIR", root + "/cache"},
            {"VESKLEG_LOG", "1"},
            {"VESKLEG_LOG_LEVEL", "Info"}};
        fs::create_directories(desktop);
        if (cached) {
            fs::create_directories(store + "/default");
            writeFile(store + layerFile, layer(launchers(launcher("a", "a"))));
            Program earlier(binary("deskrunner"), environment, root + "/earlier.err");
            ASSERT_TRUE(waitUntil([&] { return listDir(desktop) == Names{"MERXa.desktop"}; }));
            earlier.signal(SIGTERM);
            EXPECT_EQ(earlier.wait(3s), 0);
            fs::remove_all(store);
        }
        writeFile(desktop + "/MERXold.desktop", "old\n");
        Program runner(binary("deskrunner"), environment, root + "/stderr");
        const Names first =
            cached ? Names{"MERXa.desktop", "MERXold.desktop"} : Names{"MERXold.desktop"};
        ASSERT_TRUE(waitUntil([&] {
            return readFile(root + "/stderr").find("listening for changes to launcher") !=
                   std::string::npos;
        })) << readFile(root + "/stderr");
        EXPECT_TRUE(waitUntil([&] { return listDir(desktop) == first; }));
        // The store appears whole, as a folder renamed into place.
        fs::create_directories(root + "/new/default");
        writeFile(root + "/new" + layerFile, layer(launchers(launcher("b", "b"))));
        fs::rename(root + "/new", store);
        EXPECT_TRUE(waitUntil([&] { return listDir(desktop) == Names{"MERXb.desktop"}; }))
            << readFile(root + "/stderr");
        runner.signal(SIGTERM);
        EXPECT_EQ(runner.wait(3s), 0);
    }
}

}  // namespace
