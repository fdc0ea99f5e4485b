// LauncherPlugin against the real libvesk file store in a scratch folder: what
// a rewrite leaves in the desktop folder, when it leaves it alone, the folder
// it chooses, and one rewrite per policy change.
#include "LauncherPlugin.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "LauncherEntryPoints.h"
#include "LauncherTestSupport.h"
#include "access/ConfigurationAccess.h"
#include "gnome2/gnome-program.h"
#include "model/Exception.h"

using namespace vesk::legacy;
using namespace launchertest;
using vesk::legacy::plugins::launchers::LauncherPlugin;
using Names = std::vector<std::string>;

namespace {

const char kComponent[] = "com.orvek.ferrun.applications";

std::string layer(const std::string& body) {
    return std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n") +
           "<zel:component-data xmlns:zel=\"urn:vesk:policy-layer\" zel:name=\"" + kComponent +
           "\">" + body + "</zel:component-data>\n";
}

std::string launchers(const std::string& body) {
    return "<node zel:name=\"launcher_list\">" + body + "</node>";
}

std::string launcher(const std::string& name, const std::string& exec,
                     const std::string& label = "") {
    return "<node zel:name=\"" + name + "\"><prop zel:name=\"Exec\"><value>" + exec +
           "</value></prop><prop zel:name=\"Name\"><value>" + (label.empty() ? name : label) +
           "</value></prop></node>";
}

class LauncherPluginTest : public ::testing::Test {
  protected:
    void SetUp() override {
        mStore = mDir / "store";
        mHome = mDir / "home";
        mDesktop = mHome + "/Desktop";
        std::filesystem::create_directories(mStore + "/default");
        std::filesystem::create_directories(mDesktop);
        setenv("VESK_POLICY_STORE", mStore.c_str(), 1);
        setenv("HOME", mHome.c_str(), 1);
    }

    void setLayer(const std::string& body) {
        writeFile(mStore + "/default/" + kComponent + ".xml", layer(body));
    }
    void removeLayer() { std::filesystem::remove(mStore + "/default/" + kComponent + ".xml"); }
    void putDesktopFile(const std::string& name, const std::string& text = "mine\n") {
        writeFile(mDesktop + "/" + name, text);
    }
    Names desktop() const { return listDir(mDesktop); }

    // Writes to the scratch desktop folder through its own facade.
    std::unique_ptr<LauncherPlugin> makePlugin() {
        if (!mAccess) {
            mAccess = std::make_unique<ConfigurationAccess>();
        }
        const char* args[] = {mDesktop.c_str()};
        return std::make_unique<LauncherPlugin>(1, args, mAccess.get());
    }

    TempDir mDir;
    std::string mStore;
    std::string mHome;
    std::string mDesktop;
    std::unique_ptr<ConfigurationAccess> mAccess;  // outlives the plug-ins
};

TEST_F(LauncherPluginTest, WritesThePolicySetAndDeletesOnlyItsOwnFiles) {
    setLayer(launchers(R"(
      <node zel:name="terminal">
        <prop zel:name="Name" zel:type="xs:string">
          <value>Terminal</value>
          <value xml:lang="de-CH">Terminal öffnen</value>
        </prop>
        <prop zel:name="Exec"><value>xterm</value></prop>
        <prop zel:name="Icon"><value>utilities-terminal</value></prop>
      </node>
      <node zel:name="helpdesk">
        <prop zel:name="Name"><value>Helpdesk</value></prop>
        <prop zel:name="Type"><value>Link</value></prop>
        <prop zel:name="Exec"><value>http://helpdesk.example.com/</value></prop>
      </node>)"));
    putDesktopFile("MERXterminal.desktop", "old\n");
    putDesktopFile("MERXstale.desktop");
    putDesktopFile("MERXnotes.txt");
    putDesktopFile("merxmine.desktop");
    putDesktopFile("Merx.desktop");
    putDesktopFile("mERX.desktop");
    putDesktopFile("report.txt");

    LogCapture capture;
    auto plugin = makePlugin();
    plugin->execute();

    EXPECT_EQ(desktop(), (Names{"MERXhelpdesk.desktop", "MERXterminal.desktop", "Merx.desktop",
                                "mERX.desktop", "merxmine.desktop", "report.txt"}));
    for (const char* name : {"MERXhelpdesk.desktop", "MERXterminal.desktop"}) {
        EXPECT_EQ(readFile(mDesktop + "/" + name), golden(std::string("policy/") + name)) << name;
        EXPECT_EQ(validate(mDesktop + "/" + name), "") << name;
    }
    EXPECT_EQ(readFile(mDesktop + "/report.txt"), "mine\n");
    EXPECT_NE(capture.text().find("listening for changes to launcher definitions\n"),
              std::string::npos);
}

TEST_F(LauncherPluginTest, UnreadablePolicyLeavesTheLaunchersAsTheyAre) {
    setLayer(launchers(launcher("a", "new-a")));
    putDesktopFile("MERXa.desktop", "old a\n");
    putDesktopFile("MERXb.desktop", "old b\n");
    auto plugin = makePlugin();
    std::filesystem::rename(mStore, mDir / "gone");

    LogCapture capture;
    plugin->onChange();
    EXPECT_THROW(plugin->execute(), Exception);

    EXPECT_EQ(desktop(), (Names{"MERXa.desktop", "MERXb.desktop"}));
    EXPECT_EQ(readFile(mDesktop + "/MERXa.desktop"), "old a\n");
    EXPECT_EQ(count(capture.text(), "An error occurred creating the launchers: "), 2u)
        << capture.text();
}

TEST_F(LauncherPluginTest, NoLauncherListDeletesEveryLauncherFile) {
    setLayer("<node zel:name=\"startup_list\"/>");
    putDesktopFile("MERXa.desktop");
    putDesktopFile("MERX");
    putDesktopFile("other.desktop");
    makePlugin()->onChange();
    EXPECT_EQ(desktop(), Names{"other.desktop"});
}

// Every kind of change, live through the store's change events: each gives
// exactly one rewrite and leaves exactly the configured set.
TEST_F(LauncherPluginTest, EachPolicyChangeGivesOneRewrite) {
    struct Step {
        const char* what;
        std::string layer;  // empty: the component's layer file is deleted
        Names files;
    };
    const std::vector<Step> steps = {
        {"a property changes",
         launchers(launcher("a", "a2") + launcher("b", "b")),
         {"MERXa.desktop", "MERXb.desktop"}},
        {"a launcher added, one removed",
         launchers(launcher("a", "a2") + launcher("c", "c")),
         {"MERXa.desktop", "MERXc.desktop"}},
        {"the list removed", "<node zel:name=\"startup_list\"/>", {}},
        {"the list added", launchers(launcher("d", "d")), {"MERXd.desktop"}},
        {"the component removed", "", {}},
        {"the component added", launchers(launcher("e", "e")), {"MERXe.desktop"}},
    };
    setLayer(launchers(launcher("a", "a") + launcher("b", "b")));
    putDesktopFile("keep.txt");
    LogCapture capture;
    auto plugin = makePlugin();
    plugin->execute();
    ASSERT_EQ(plugin->getRewriteCount(), 1u);

    unsigned long expected = 1;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        if (step.layer.empty()) {
            removeLayer();
        } else {
            setLayer(step.layer);
        }
        ++expected;
        ASSERT_TRUE(waitUntil([&] { return plugin->getRewriteCount() >= expected; }));
        // The rest of the change's reports arrive within microseconds.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_EQ(plugin->getRewriteCount(), expected);
        Names files = step.files;
        files.push_back("keep.txt");
        EXPECT_EQ(desktop(), files);
    }
    EXPECT_EQ(readFile(mDesktop + "/MERXe.desktop"),
              "[Desktop Entry]\nName=e\nType=Application\nExec=e\n");
    const std::string& log = capture.text();
    EXPECT_NE(log.find("Node changed: component=com.orvek.ferrun.applications, "
                       "path=/launcher_list/a/Exec\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("Node removed: component=com.orvek.ferrun.applications, "
                       "path=/launcher_list/b\n"),
              std::string::npos);
    EXPECT_NE(log.find("Node added: component=com.orvek.ferrun.applications, "
                       "path=/launcher_list\n"),
              std::string::npos);
}

TEST_F(LauncherPluginTest, ChoosesTheFolder) {
    struct Case {
        const char* what;
        std::vector<const char*> args;
        const char* home;  // null: unset
        std::string folder;
    };
    const std::vector<Case> cases = {
        {"host folder, HOME not read", {"/tmp/launchers/"}, nullptr, "/tmp/launchers/"},
        {"host folder gets its slash", {"/srv/desk"}, "/home/u", "/srv/desk/"},
        {"empty host folder", {""}, "/home/u", "/home/u/Desktop/"},
        {"no arguments", {}, "/home/u", "/home/u/Desktop/"},
        {"root as HOME", {}, "/", "/Desktop/"},
        {"HOME unset", {}, nullptr, ""},
        {"HOME empty", {}, "", ""},
        {"HOME relative", {}, "home/u", ""},
        {"HOME a dot", {}, ".", ""},
    };
    // The plug-ins here use the default facade only to unregister, which
    // the missing store refuses: logged, never thrown.
    setenv("VESK_POLICY_STORE", (mDir / "missing").c_str(), 1);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.home == nullptr) {
            unsetenv("HOME");
        } else {
            setenv("HOME", c.home, 1);
        }
        LauncherPlugin plugin(static_cast<int>(c.args.size()), c.args.data());
        EXPECT_EQ(plugin.getBaseDir(), c.folder);
    }
}

TEST_F(LauncherPluginTest, UnusableHomeWritesNothingAnywhere) {
    setLayer(launchers(launcher("a", "a")));
    const std::string work = mDir / "work";
    std::filesystem::create_directories(work);
    char previous[4096];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(chdir(work.c_str()), 0);
    setenv("HOME", "relative", 1);
    mAccess = std::make_unique<ConfigurationAccess>();
    {
        LogCapture capture;
        LauncherPlugin plugin(0, nullptr, mAccess.get());
        plugin.execute();
        EXPECT_NE(capture.text().find("An error occurred creating the launchers: HOME is not an "
                                      "absolute path and no desktop folder was given\n"),
                  std::string::npos)
            << capture.text();
    }
    EXPECT_EQ(chdir(previous), 0);
    EXPECT_TRUE(listDir(work).empty());
    EXPECT_TRUE(listDir("/Desktop").empty() || !std::filesystem::exists("/Desktop/MERXa.desktop"));
}

TEST_F(LauncherPluginTest, DestroyedWithoutExecuteStillUnregisters) {
    setLayer(launchers(launcher("a", "a")));
    LogCapture capture;
    makePlugin().reset();
    EXPECT_NE(capture.text().find("finished listening for changes to launcher definitions\n"),
              std::string::npos);
    EXPECT_TRUE(desktop().empty());
}

// Notifications delivered on two threads at once (a facade is free to do so)
// rewrite one after the other; once the plug-in is destroyed no change
// reaches it.
TEST_F(LauncherPluginTest, RewritesAreSerialisedAndEndWithThePlugin) {
    setLayer(launchers(launcher("a", "a") + launcher("b", "b")));
    putDesktopFile("MERXold.desktop");
    auto plugin = makePlugin();
    NodePath list;
    list.setPath("com.orvek.ferrun.applications/launcher_list");
    {
        LogCapture capture;
        std::vector<std::thread> notifiers;
        for (int i = 0; i < 2; ++i) {
            notifiers.emplace_back([&] {
                for (int n = 0; n < 50; ++n) {
                    plugin->onNodeChanged(list);
                }
            });
        }
        for (std::thread& notifier : notifiers) {
            notifier.join();
        }
        EXPECT_EQ(plugin->getRewriteCount(), 100u);
        EXPECT_EQ(count(capture.text(), "Node changed"), 100u);
        EXPECT_EQ(capture.text().find("rror"), std::string::npos) << capture.text();
    }
    EXPECT_EQ(desktop(), (Names{"MERXa.desktop", "MERXb.desktop"}));

    plugin->execute();
    // Destroyed while a change is on its way.
    setLayer(launchers(launcher("c", "c")));
    plugin.reset();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const Names atEnd = desktop();
    setLayer(launchers(launcher("d", "d")));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(desktop(), atEnd);
    EXPECT_TRUE(atEnd == (Names{"MERXa.desktop", "MERXb.desktop"}) ||
                atEnd == Names{"MERXc.desktop"});
}

// The entry points on the default facade, whose store is missing at login:
// nothing is deleted, the failure to listen reaches the host, and
// uninitialise does not throw.
TEST_F(LauncherPluginTest, EntryPointsWithTheStoreMissingAtLogin) {
    setenv("VESK_POLICY_STORE", (mDir / "missing").c_str(), 1);
    putDesktopFile("MERXa.desktop", "old a\n");
    launchersPluginExecute(nullptr);
    launchersPluginUninitialise(nullptr);

    LogCapture capture;
    const char* args[] = {mDesktop.c_str()};
    void* handle = launchersPluginInitialise(1, args);
    ASSERT_NE(handle, nullptr);
    EXPECT_STREQ(gnome_program_get_app_id(gnome_program_get()), "launchers");
    EXPECT_THROW(launchersPluginExecute(handle), Exception);
    EXPECT_NO_THROW(launchersPluginUninitialise(handle));

    EXPECT_EQ(desktop(), Names{"MERXa.desktop"});
    EXPECT_EQ(readFile(mDesktop + "/MERXa.desktop"), "old a\n");
    const std::string& log = capture.text();
    EXPECT_NE(log.find("An error occurred creating the launchers: "), std::string::npos) << log;
    EXPECT_NE(log.find("finished listening for changes to launcher definitions\n"),
              std::string::npos);
    EXPECT_NE(log.find("An error occurred while stopping to listen for launcher changes: "),
              std::string::npos);
}

}  // namespace
