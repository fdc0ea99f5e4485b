// SPDX-License-Identifier: LGPL-2.1-or-later
// deskrunner as a program: the outcomes of starting its two plug-ins (with
// test doubles that fail on demand), and the real program on a scratch policy
// store and HOME, rewriting live and ending on SIGTERM.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>

#include "LauncherTestSupport.h"
#include "Program.h"

using namespace std::chrono_literals;
using namespace launchertest;

namespace {

// The programs start outside the tester's desktop session unless a test gives
// them one: no lock of a real session, nothing that ends with it.
const bool kOutsideTheSession = [] {
    for (const char* name : {"XDG_SESSION_ID", "DISPLAY", "WAYLAND_DISPLAY",
                             "DBUS_SESSION_BUS_ADDRESS", "XDG_RUNTIME_DIR"}) {
        unsetenv(name);
    }
    return true;
}();

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
            // A bounded wait for an end that must not come.
            EXPECT_FALSE(waitUntil([&] { return !runner.running(); }, 500ms))
                << "ended though a plug-in runs";
            runner.signal(o.stopSignal);
        }
        EXPECT_EQ(runner.wait(3s), 0);
        EXPECT_EQ(readFile(scratch / "stderr"), expand(o.log));
    }
}

// A private session bus, as dbus-run-session gives a session, open until
// close() or the end of the object.
class PrivateBus {
  public:
    PrivateBus(const TempDir& scratch, const std::string& home)
        : mRelease(fifo(scratch / "release")),
          mBus({"dbus-run-session", "--", "sh", "-c",
                "echo \"$DBUS_SESSION_BUS_ADDRESS\"; cat \"$0\"", mRelease},
               {{"HOME", home}}) {
        EXPECT_TRUE(mBus.readOutLine(address, 10s));
    }
    ~PrivateBus() { close(); }
    // The shell ends, and with it the bus.
    void close() {
        if (mBus.running()) {
            ::close(::open(mRelease.c_str(), O_WRONLY | O_CLOEXEC));
            EXPECT_EQ(mBus.wait(5s), 0);
        }
    }
    std::string address;

  private:
    static std::string fifo(const std::string& path) {
        EXPECT_EQ(mkfifo(path.c_str(), 0600), 0);
        return path;
    }
    std::string mRelease;
    Program mBus;
};

// Under a private session bus (and no logind session or X display), and on
// an X display of its own (Xvfb, where installed) beside that bus, one
// deskrunner runs per session: a second start ends at once, and the end of
// the bus or of the display ends the first within two seconds.
TEST(DeskrunnerTest, EndsWithItsSessionAndRunsOncePerSession) {
    for (const bool onDisplay : {false, true}) {
        SCOPED_TRACE(onDisplay ? "X display" : "session bus");
        TempDir scratch;
        PrivateBus bus(scratch, scratch.path);
        std::map<std::string, std::string> session = {{"DBUS_SESSION_BUS_ADDRESS", bus.address},
                                                      {"XDG_RUNTIME_DIR", scratch.path},
                                                      {"VESKLEG_LOG", "1"},
                                                      {"VESKLEG_LOG_LEVEL", "Info"}};
        std::unique_ptr<Program> xserver;
        std::string display;
        if (onDisplay) {
            if (Program::run({"sh", "-c", "command -v Xvfb"}).status != 0) {
                std::cout << "no Xvfb: the display case is left out\n";
                continue;
            }
            xserver = std::make_unique<Program>(
                std::vector<std::string>{"Xvfb", "-displayfd", "1", "-nolisten", "tcp"},
                std::map<std::string, std::string>{});
            ASSERT_TRUE(xserver->readOutLine(display, 10s));
            session["DISPLAY"] = ":" + display;
        }
        Program first(binary("deskrunner_fakes"), session, scratch / "first");
        ASSERT_TRUE(waitUntil([&] {
            return readFile(scratch / "first").find("M!") != std::string::npos;
        })) << readFile(scratch / "first");
        Program second(binary("deskrunner_fakes"), session, scratch / "second");
        EXPECT_EQ(second.wait(2s), 0);
        const std::string key = onDisplay ? "display-:" + display : "bus-";
        EXPECT_NE(readFile(scratch / "second").find("already runs for the session " + key),
                  std::string::npos)
            << readFile(scratch / "second");
        EXPECT_EQ(readFile(scratch / "second").find("L+"), std::string::npos);
        EXPECT_TRUE(first.running());

        if (onDisplay) {
            xserver->stop(SIGTERM);
        } else {
            bus.close();
        }
        EXPECT_EQ(first.wait(2s), 0) << readFile(scratch / "first");
        EXPECT_NE(readFile(scratch / "first").find("has ended\nL-\nM-\n"), std::string::npos)
            << readFile(scratch / "first");
    }
}

// Where gvfs keeps metadata, each launcher written, and again after it was
// rewritten, carries the SHA-256 of its contents for Xfce's desktop.
TEST(DeskrunnerTest, LaunchersCarryTheirChecksumWhereGvfsKeepsMetadata) {
    TempDir scratch;
    const std::string home = scratch / "home", store = scratch / "store";
    const std::string launcherA = home + "/Desktop/MERXa.desktop";
    fs::create_directories(home + "/Desktop");
    fs::create_directories(store + "/default");
    PrivateBus bus(scratch, home);
    const std::map<std::string, std::string> session = {{"HOME", home},
                                                        {"DBUS_SESSION_BUS_ADDRESS", bus.address},
                                                        {"XDG_RUNTIME_DIR", scratch.path},
                                                        {"XDG_SESSION_ID", ""},
                                                        {"DISPLAY", ""},
                                                        {"VESK_POLICY_STORE", store}};
    const auto checksum = [&](const std::string& path) {
        const std::string out =
            Program::run({"gio", "info", "-a", "metadata::xfce-exe-checksum", path}, session).out;
        const std::string key = "metadata::xfce-exe-checksum: ";
        const size_t at = out.find(key);
        return at == std::string::npos ? "" : out.substr(at + key.size(), 64);
    };
    const std::string probe = scratch / "probe";
    writeFile(probe, "");
    Program::run({"gio", "set", probe, "metadata::xfce-exe-checksum", std::string(64, 'f')},
                 session);
    if (checksum(probe) != std::string(64, 'f')) {
        GTEST_SKIP() << "no metadata kept here (gvfs, gvfs-daemons not installed?)";
    }
    const auto sha256 = [](const std::string& path) {
        return Program::run({"sha256sum", path}).out.substr(0, 64);
    };
    const std::string layerFile = store + "/default/com.orvek.ferrun.applications.xml";
    writeFile(layerFile, layer(launchers(launcher("a", "a1") + launcher("b", "b"))));
    Program runner(binary("deskrunner"), session, scratch / "stderr");
    for (const std::string& path : {launcherA, home + "/Desktop/MERXb.desktop"}) {
        EXPECT_TRUE(waitUntil([&] { return fs::exists(path) && checksum(path) == sha256(path); }))
            << path << " " << checksum(path);
    }
    writeFile(layerFile, layer(launchers(launcher("a", "a2") + launcher("b", "b"))));
    EXPECT_TRUE(waitUntil([&] {
        return readFile(launcherA).find("Exec=a2\n") != std::string::npos &&
               checksum(launcherA) == sha256(launcherA);
    })) << checksum(launcherA);
    EXPECT_EQ(runner.stop(SIGTERM), 0);
}

// Launchers written at the start (an older one deleted, the user's file kept),
// rewritten within a second of an edit, left as they are when the store goes;
// a launcher the user deleted or edited comes back with a change to any
// other; SIGTERM stops both plug-ins, launchers first.
TEST(DeskrunnerTest, RewritesLiveAndEndsOnSigterm) {
    TempDir scratch;
    const std::string store = scratch / "store", desktop = scratch / "home/Desktop";
    const std::string errors = scratch / "stderr";
    fs::create_directories(store + "/default");
    fs::create_directories(desktop);
    const auto setLayer = [&](const std::string& list) {
        writeFile(store + "/default/com.orvek.ferrun.applications.xml", layer(launchers(list)));
    };
    setLayer(launcher("a", "a1") + launcher("b", "b") + launcher("d", "d"));
    writeFile(desktop + "/MERXold.desktop", "old\nX-MERX-Managed=true\n");
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
    EXPECT_EQ(listDir(desktop),
              (Names{"MERXa.desktop", "MERXb.desktop", "MERXd.desktop", "notes.txt"}));
    const std::string b = readFile(desktop + "/MERXb.desktop");
    writeFile(desktop + "/MERXb.desktop", "edited\n");
    fs::remove(desktop + "/MERXd.desktop");

    setLayer(launcher("a", "a2") + launcher("b", "b") + launcher("c", "c") + launcher("d", "d"));
    const Names next = {"MERXa.desktop", "MERXb.desktop", "MERXc.desktop", "MERXd.desktop",
                        "notes.txt"};
    ASSERT_TRUE(waitUntil([&] {
        return listDir(desktop) == next &&
               readFile(desktop + "/MERXa.desktop").find("Exec=a2\n") != std::string::npos;
    }));
    EXPECT_EQ(readFile(desktop + "/MERXb.desktop"), b);
    EXPECT_EQ(readFile(desktop + "/notes.txt"), "mine\n");

    const std::string a = readFile(desktop + "/MERXa.desktop");
    fs::rename(store, scratch / "gone");
    // A bounded wait for a change that must not come.
    EXPECT_FALSE(waitUntil(
        [&] { return listDir(desktop) != next || readFile(desktop + "/MERXa.desktop") != a; }, 1s));
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
            EXPECT_FALSE(waitUntil([&] { return !intact(); }, 1s))  // ignored, not applied
                << readFile(desktop + "/MERXc.desktop");
        }
        runner.signal(SIGTERM);
        EXPECT_EQ(runner.wait(3s), 0);
    }
    fs::remove_all(desktop);
    fs::create_directories(desktop);
    {
        Program restarted(binary("deskrunner"), environment, scratch / "stderr2");
        ASSERT_TRUE(waitUntil(intact)) << listDir(desktop).size() << readFile(scratch / "stderr2");
        EXPECT_NE(readFile(scratch / "stderr2").find("served from the copy in"), std::string::npos);
        restarted.signal(SIGTERM);
        EXPECT_EQ(restarted.wait(3s), 0);
    }

    // Without a copy (a first login) the user's layer never gets to set what
    // the default layer's lost lock protected: no layer from the broken one
    // on applies, and no launcher is written or deleted.
    fs::remove_all(desktop);
    fs::create_directories(desktop);
    writeFile(defaultLayer, whole.substr(0, whole.find("<node zel:name=\"c\"") + 30));
    std::map<std::string, std::string> firstLogin = environment;
    firstLogin["HOLLIN_CACHE_DIR"] = "off";
    firstLogin["VESKLEG_LOG_LEVEL"] = "Info";
    Program first(binary("deskrunner"), firstLogin, scratch / "stderr3");
    ASSERT_TRUE(waitUntil([&] {
        return readFile(scratch / "stderr3").find("menu plug-in started\n") != std::string::npos;
    })) << readFile(scratch / "stderr3");
    EXPECT_EQ(listDir(desktop), Names{});
    EXPECT_NE(readFile(scratch / "stderr3").find("only the layers before the broken one"),
              std::string::npos)
        << readFile(scratch / "stderr3");
    first.signal(SIGTERM);
    EXPECT_EQ(first.wait(3s), 0);
}

// A store missing at login and created later: deskrunner listens all the
// same and follows without a restart, first from the copy a complete read
// kept at an earlier login when there is one. Until the store is there no
// launcher is deleted; once it is, the stale one goes, also when the store
// brings the policy of the copy.
TEST(DeskrunnerTest, StoreMissingAtStartIsFollowedOnceCreated) {
    TempDir scratch;
    const struct {
        const char* what;
        bool cached;
        const char* returned;  // the launcher of the store that appears
    } cases[] = {
        {"without a kept copy", false, "b"},
        {"with a kept copy", true, "b"},
        {"back with the policy of the copy", true, "a"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string root =
            scratch / (std::string(c.cached ? "cached-" : "plain-") + c.returned);
        const std::string store = root + "/store", desktop = root + "/home/Desktop";
        const std::string layerFile = "/default/com.orvek.ferrun.applications.xml";
        const std::map<std::string, std::string> environment = {
            {"HOME", root + "/home"},
            {"VESK_POLICY_STORE", store},
            {"HOLLIN_CACHE_DIR", root + "/cache"},
            {"VESKLEG_LOG", "1"},
            {"VESKLEG_LOG_LEVEL", "Info"}};
        fs::create_directories(desktop);
        if (c.cached) {
            fs::create_directories(store + "/default");
            writeFile(store + layerFile, layer(launchers(launcher("a", "a"))));
            Program earlier(binary("deskrunner"), environment, root + "/earlier.err");
            ASSERT_TRUE(waitUntil([&] { return listDir(desktop) == Names{"MERXa.desktop"}; }));
            earlier.signal(SIGTERM);
            EXPECT_EQ(earlier.wait(3s), 0);
            fs::remove_all(store);
        }
        writeFile(desktop + "/MERXold.desktop", "old\nX-MERX-Managed=true\n");
        Program runner(binary("deskrunner"), environment, root + "/stderr");
        const Names first =
            c.cached ? Names{"MERXa.desktop", "MERXold.desktop"} : Names{"MERXold.desktop"};
        ASSERT_TRUE(waitUntil([&] {
            return readFile(root + "/stderr").find("menu plug-in started\n") != std::string::npos;
        })) << readFile(root + "/stderr");
        EXPECT_TRUE(waitUntil([&] { return listDir(desktop) == first; }));
        // The store appears whole, as a folder renamed into place.
        fs::create_directories(root + "/new/default");
        writeFile(root + "/new" + layerFile, layer(launchers(launcher(c.returned, c.returned))));
        fs::rename(root + "/new", store);
        const Names after{"MERX" + std::string(c.returned) + ".desktop"};
        EXPECT_TRUE(waitUntil([&] { return listDir(desktop) == after; }))
            << readFile(root + "/stderr");
        runner.signal(SIGTERM);
        EXPECT_EQ(runner.wait(3s), 0);
    }
}

}  // namespace
