// SPDX-License-Identifier: LGPL-2.1-or-later
// The launchers plug-in against the real libvesk file store in a scratch
// folder: the files a rewrite leaves (against reviewed golden files and the
// desktop entry validator), when it leaves them alone, the folder it chooses
// and one rewrite per policy change.
#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>
#include <tuple>

#include "LauncherEntryPoints.h"
#include "LauncherPlugin.h"
#include "LauncherTestSupport.h"
#include "access/ConfigurationAccess.h"
#include "gnome2/gnome-program.h"
#include "model/Exception.h"
#include "model/Logger.h"

using namespace vesk::legacy;
using namespace launchertest;
using plugins::launchers::LauncherPlugin;

namespace {

const std::string kData = HOLLIN_SOURCE_DIR "/plugins/vantor/tests/data/";
const std::string kLayer = "/default/com.orvek.ferrun.applications.xml";

size_t count(const std::string& text, const std::string& part) {
    size_t found = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++found;
    }
    return found;
}

// A scratch store and desktop folder; everything logged, Debug level
// included, is captured from the start of the test to the first log().
class LauncherTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(mStore + "/default");
        fs::create_directories(mDesktop);
        setenv("VESK_POLICY_STORE", mStore.c_str(), 1);
        setenv("VESKLEG_LOG", "1", 1);
        setenv("VESKLEG_LOG_LEVEL", "Debug", 1);
        Logger::initialise("vantor-test");
        ::testing::internal::CaptureStderr();
    }
    void TearDown() override {
        log();
        Logger::uninitialise();
    }
    const std::string& log() {
        if (!mLogged) {
            mLog = ::testing::internal::GetCapturedStderr();
            mLogged = true;
        }
        return mLog;
    }
    void setLayer(const std::string& body) { writeFile(mStore + kLayer, layer(body)); }
    // Through a facade of its own, created once the store is set.
    ConfigurationAccess* access() {
        if (!mAccess) {
            mAccess = std::make_unique<ConfigurationAccess>();
        }
        return mAccess.get();
    }
    // Writes to the scratch desktop folder.
    std::unique_ptr<LauncherPlugin> makePlugin() {
        const char* args[] = {mDesktop.c_str()};
        return std::make_unique<LauncherPlugin>(1, args, access());
    }

    TempDir mDir;
    std::string mStore = mDir / "store", mDesktop = mDir / "Desktop", mLog;
    bool mLogged = false;
    std::unique_ptr<ConfigurationAccess> mAccess;  // outlives the plug-ins
};

// data/before holds files of the user and of earlier runs, data/after what the
// launchers of the layer in data/ leave: a file "MERX*.desktop" with the line
// "X-MERX-Managed=true" is a launcher file, and only those.
TEST_F(LauncherTest, WritesThePolicySetAndDeletesOnlyItsOwnFiles) {
    fs::copy(kData + "before", mDesktop, fs::copy_options::recursive);
    fs::copy_file(kData + "com.orvek.ferrun.applications.xml", mStore + kLayer);
    makePlugin()->execute();
    EXPECT_EQ(listDir(mDesktop), listDir(kData + "after"));
    for (const std::string& name : listDir(kData + "after")) {
        EXPECT_EQ(readFile(mDesktop + "/" + name), readFile(kData + "after/" + name)) << name;
    }
    EXPECT_EQ(listDir(mDir.path), (Names{"Desktop", "store"}));
    const std::string failed = "Could not save the launcher " + mDesktop + "/MERX";
    EXPECT_LT(log().find(failed + "Xblocked"), log().find(failed + "xblocked")) << log();
    EXPECT_NE(log().find(failed + "xblocked"), std::string::npos);
    EXPECT_NE(log().find("leave the desktop folder: sub/../../escape\n"), std::string::npos);
    EXPECT_NE(log().find("folder: sub/line\\x0aDec  7 host su: forged\n"), std::string::npos);
    EXPECT_EQ(log().find("\nDec  7"), std::string::npos) << "a forged log line";
    EXPECT_NE(log().find("Skipping the launcher open-quote: its Exec does not split"),
              std::string::npos);
    EXPECT_NE(log().find("Skipping the launcher nameless: it has no Name\n"), std::string::npos);
    EXPECT_NE(log().find("outside any launcher: Type\n"), std::string::npos);
    EXPECT_NE(log().find("outside any launcher: zoom\n"), std::string::npos);
    EXPECT_EQ(count(log(), "listening for changes to launcher definitions\n"), 2u);
    // Applications with Name, Exec and Type, and a link configured through
    // Exec, pass the validator without a remark.
    const std::string report = mDir / "validator";
    EXPECT_EQ(
        system(("cd " + mDesktop + " && desktop-file-validate MERXeditor.desktop " +
                "MERXscript.desktop MERXweb.desktop >" + report + " 2>&1 && test ! -s " + report)
                   .c_str()),
        0)
        << readFile(report);
}

// Every kind of change, live through the store's change events, gives exactly
// one rewrite however many launchers it touches, and leaves exactly the
// configured set (none without a list).
// Notifications on two threads at once rewrite one at a time; once the
// plug-in is destroyed no change reaches it.
TEST_F(LauncherTest, EachPolicyChangeGivesOneRewriteUntilThePluginEnds) {
    const std::vector<std::pair<std::string, Names>> steps = {
        {launchers(launcher("a", "a2") + launcher("b", "b")), {"MERXa.desktop", "MERXb.desktop"}},
        {launchers(launcher("a", "a2") + launcher("c", "c")), {"MERXa.desktop", "MERXc.desktop"}},
        {"<node zel:name=\"startup_list\"/>", {}},  // the list removed
        {launchers(launcher("d", "d")), {"MERXd.desktop"}},
        {"", {}},  // the component removed
        {launchers(launcher("e", "e")), {"MERXe.desktop"}},
    };
    setLayer(launchers(launcher("a", "a") + launcher("b", "b")));
    writeFile(mDesktop + "/keep.txt", "mine\n");
    auto plugin = makePlugin();
    plugin->execute();
    unsigned long expected = 1;
    for (auto [body, files] : steps) {
        SCOPED_TRACE(expected);
        body.empty() ? (void)fs::remove(mStore + kLayer) : setLayer(body);
        ++expected;
        files.push_back("keep.txt");
        EXPECT_TRUE(waitUntil([&] {
            return plugin->getRewriteCount() >= expected && listDir(mDesktop) == files;
        })) << plugin->getRewriteCount();
        // The rest of the change's reports arrive within microseconds: a
        // bounded wait for a rewrite that must not come.
        EXPECT_FALSE(waitUntil([&] { return plugin->getRewriteCount() > expected; },
                               std::chrono::milliseconds(300)));
        EXPECT_EQ(plugin->getRewriteCount(), expected);
        EXPECT_EQ(listDir(mDesktop), files);
    }
    NodePath list;
    list.setPath("com.orvek.ferrun.applications/launcher_list");
    plugin->onNodeChanged(list);  // only the end of a change rewrites
    EXPECT_EQ(plugin->getRewriteCount(), expected);
    const auto notify = [&] {
        for (int n = 0; n < 20; ++n) {
            plugin->onChangeComplete();
        }
    };
    std::thread other(notify);
    notify();
    other.join();
    // One that a newer one overtook between its read and its write is dropped.
    EXPECT_GT(plugin->getRewriteCount(), expected);
    EXPECT_LE(plugin->getRewriteCount(), expected + 40);
    EXPECT_EQ(listDir(mDesktop), (Names{"MERXe.desktop", "keep.txt"}));

    setLayer(launchers(launcher("f", "f")));  // on its way during the destruction
    plugin.reset();
    // Nothing is written once the plug-in is gone: bounded waits for a change
    // that must not come.
    const Names atEnd = listDir(mDesktop);
    EXPECT_FALSE(
        waitUntil([&] { return listDir(mDesktop) != atEnd; }, std::chrono::milliseconds(300)));
    setLayer(launchers(launcher("g", "g")));
    EXPECT_FALSE(
        waitUntil([&] { return listDir(mDesktop) != atEnd; }, std::chrono::milliseconds(500)));
    const std::string component = "component=com.orvek.ferrun.applications, path=/launcher_list";
    for (const std::string& report :
         {"Node changed: " + component + "/a/Exec\n", "Node removed: " + component + "/b\n",
          "Node added: " + component + "\n"}) {
        EXPECT_NE(log().find(report), std::string::npos) << report;
    }
    EXPECT_EQ(log().find("rror"), std::string::npos) << log();
}

// An unusable HOME gives no folder: a rewrite then writes nothing, not even
// into the current directory. The folder that user-dirs.dirs names wins over
// $HOME/Desktop, read afresh for each plug-in. Each plug-in unregisters,
// though never executed.
TEST_F(LauncherTest, ChoosesTheFolder) {
    const std::string german = mDir / "de", english = mDir / "en";
    fs::create_directories(german + "/.config");
    fs::create_directories(english + "/.config");
    writeFile(german + "/.config/user-dirs.dirs", "XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n");
    writeFile(english + "/.config/user-dirs.dirs", "XDG_MUSIC_DIR=\"$HOME/Music\"\n");
    unsetenv("XDG_CONFIG_HOME");
    const std::vector<std::tuple<std::vector<const char*>, const char*, std::string>> cases = {
        {{"/srv/desk"}, nullptr, "/srv/desk/"},  // HOME not read
        {{""}, "/home/u", "/home/u/Desktop/"},
        {{}, "/home/u", "/home/u/Desktop/"},
        {{}, german.c_str(), german + "/Schreibtisch/"},
        {{}, english.c_str(), english + "/Desktop/"},
        {{"/srv/desk"}, german.c_str(), "/srv/desk/"},
        {{}, "/", "/Desktop/"},
        {{}, nullptr, ""},  // HOME unset
        {{}, "", ""},
        {{}, "home/u", ""},
    };
    setLayer(launchers(launcher("a", "a")));
    char previous[4096];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(chdir(mDesktop.c_str()), 0);
    for (const auto& [args, home, folder] : cases) {
        SCOPED_TRACE(folder);
        home == nullptr ? unsetenv("HOME") : setenv("HOME", home, 1);
        LauncherPlugin plugin(static_cast<int>(args.size()), args.data(), access());
        EXPECT_EQ(plugin.getBaseDir(), folder);
        if (folder.empty()) {
            plugin.onChange();
        }
    }
    EXPECT_EQ(chdir(previous), 0);
    EXPECT_EQ(listDir(mDesktop), Names{});
    EXPECT_EQ(count(log(),
                    "An error occurred creating the launchers: HOME is not an "
                    "absolute path and no desktop folder was given\n"),
              3u);
    EXPECT_EQ(count(log(), "finished listening for changes to launcher definitions\n"),
              cases.size());
}

// What real desktops do with the files: a German session's desktop folder,
// missing at login, is created (readable by all) with the launchers in it;
// each passes the validator, and GIO's launcher runs its command. Once
// user-dirs.dirs has moved the folder (as at the first login in German), the
// next write takes our launchers out of the old one, the user's files stay.
TEST_F(LauncherTest, LaunchersInAMissingLocalisedDesktopFolderLaunch) {
    const std::string home = mDir / "home", launched = mDir / "launched";
    const std::string old = home + "/Desktop", mine = "[Desktop Entry]\nName=mine\n";
    fs::create_directories(home + "/.config");
    fs::create_directories(old);
    writeFile(old + "/MERXmine.desktop", mine);
    setenv("HOME", home.c_str(), 1);
    unsetenv("XDG_CONFIG_HOME");
    setLayer(launchers(launcher("touch", "touch " + launched) + launcher("two", "true")));
    LauncherPlugin plugin(0, nullptr, access());
    plugin.onChange();
    const Names ours = {"MERXtouch.desktop", "MERXtwo.desktop"};
    ASSERT_EQ(listDir(old), (Names{"MERXmine.desktop", "MERXtouch.desktop", "MERXtwo.desktop"}));
    writeFile(home + "/.config/user-dirs.dirs", "XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n");
    plugin.onChange();
    const std::string desktop = home + "/Schreibtisch";
    ASSERT_EQ(listDir(desktop), ours) << log();
    EXPECT_EQ(listDir(old), Names{"MERXmine.desktop"});
    EXPECT_EQ(readFile(old + "/MERXmine.desktop"), mine);
    EXPECT_EQ(fs::status(desktop).permissions(), fs::perms(0755));
    const std::string report = mDir / "validator";
    EXPECT_EQ(system(("cd " + desktop + " && desktop-file-validate MERX*.desktop >" + report +
                      " 2>&1 && test ! -s " + report + " && gio launch MERXtouch.desktop")
                         .c_str()),
              0)
        << readFile(report);
    EXPECT_TRUE(waitUntil([&] { return fs::exists(launched); }));
    EXPECT_EQ(log().find("rror"), std::string::npos) << log();
}

// The entry points on the default facade with the store missing at login:
// nothing is deleted, the plug-in listens, and the launchers follow the store
// once it appears.
TEST_F(LauncherTest, EntryPointsWithTheStoreMissingAtLogin) {
    const fs::path store = mDir / "missing";
    setenv("VESK_POLICY_STORE", store.c_str(), 1);
    writeFile(mDesktop + "/MERXa.desktop", "old\nX-MERX-Managed=true\n");
    launchersPluginExecute(nullptr);
    launchersPluginUninitialise(nullptr);
    const char* args[] = {mDesktop.c_str()};
    void* handle = launchersPluginInitialise(1, args);
    EXPECT_STREQ(gnome_program_get_app_id(gnome_program_get()), "launchers");
    EXPECT_NO_THROW(launchersPluginExecute(handle));
    EXPECT_EQ(readFile(mDesktop + "/MERXa.desktop"), "old\nX-MERX-Managed=true\n") << log();
    fs::create_directories(store / "default");
    writeFile(store.string() + kLayer, layer(launchers(launcher("b", "b"))));
    EXPECT_TRUE(waitUntil([&] { return fs::exists(mDesktop + "/MERXb.desktop"); })) << log();
    EXPECT_TRUE(waitUntil([&] { return !fs::exists(mDesktop + "/MERXa.desktop"); }));
    EXPECT_NO_THROW(launchersPluginUninitialise(handle));
}

// The host knows nothing of our exceptions: a store libvesk cannot open at
// all fails execute with one escaped line, not with an exception.
TEST_F(LauncherTest, EntryPointsLetNoExceptionOut) {
    setenv("VESK_POLICY_STORE", "http://example.org/store\nforged", 1);
    const char* args[] = {mDesktop.c_str()};
    void* handle = launchersPluginInitialise(1, args);
    ASSERT_NE(handle, nullptr);
    EXPECT_NO_THROW(launchersPluginExecute(handle));
    EXPECT_NO_THROW(launchersPluginUninitialise(handle));
    EXPECT_EQ(count(log(), "'launchers' plugin: "), 1u) << log();
    EXPECT_EQ(log().find("\nforged"), std::string::npos) << log();
}

}  // namespace
