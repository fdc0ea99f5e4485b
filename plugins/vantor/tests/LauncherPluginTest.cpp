// LauncherPlugin against the real libvesk file store in a scratch folder: what
// a rewrite leaves in the desktop folder, when it leaves it alone, the folder
// it chooses, and one rewrite per policy change.
#include "LauncherPlugin.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>

#include "LauncherEntryPoints.h"
#include "LauncherTestSupport.h"
#include "access/ConfigurationAccess.h"
#include "gnome2/gnome-program.h"
#include "model/Exception.h"

using namespace vesk::legacy;
using namespace launchertest;
using vesk::legacy::plugins::launchers::LauncherPlugin;

namespace {

const std::string kLayer = "/default/com.orvek.ferrun.applications.xml";

std::string launchers(const std::string& body) {
    return "<node zel:name=\"launcher_list\">" + body + "</node>";
}

std::string launcher(const std::string& name, const std::string& exec) {
    return "<node zel:name=\"" + name + "\"><prop zel:name=\"Exec\"><value>" + exec +
           "</value></prop><prop zel:name=\"Name\"><value>" + name + "</value></prop></node>";
}

class LauncherPluginTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::create_directories(mStore + "/default");
        std::filesystem::create_directories(mDesktop);
        setenv("VESK_POLICY_STORE", mStore.c_str(), 1);
    }
    void setLayer(const std::string& body) {
        writeFile(mStore + kLayer,
                  "<zel:component-data xmlns:zel=\"urn:vesk:policy-layer\" "
                  "zel:name=\"com.orvek.ferrun.applications\">" +
                      body + "</zel:component-data>");
    }
    void putFiles(const Names& names, const std::string& text = "mine\n") {
        for (const std::string& name : names) {
            writeFile(mDesktop + "/" + name, text);
        }
    }
    Names desktop() const { return listDir(mDesktop); }
    // Writes to the scratch desktop folder through a facade of its own.
    std::unique_ptr<LauncherPlugin> makePlugin() {
        if (!mAccess) {
            mAccess = std::make_unique<ConfigurationAccess>();
        }
        const char* args[] = {mDesktop.c_str()};
        return std::make_unique<LauncherPlugin>(1, args, mAccess.get());
    }

    TempDir mDir;
    std::string mStore = mDir / "store";
    std::string mDesktop = mDir / "Desktop";
    std::unique_ptr<ConfigurationAccess> mAccess;  // outlives the plug-ins
};

TEST_F(LauncherPluginTest, WritesThePolicySetAndDeletesOnlyItsOwnFiles) {
    setLayer(launchers(R"(
      <node zel:name="terminal">
        <prop zel:name="Name"><value>Terminal</value>
          <value xml:lang="de-CH">Terminal öffnen</value></prop>
        <prop zel:name="Exec"><value>xterm</value></prop>
        <prop zel:name="Icon"><value>utilities-terminal</value></prop>
      </node>
      <node zel:name="helpdesk">
        <prop zel:name="Name"><value>Helpdesk</value></prop>
        <prop zel:name="Type"><value>Link</value></prop>
        <prop zel:name="Exec"><value>http://helpdesk.example.com/</value></prop>
      </node>)"));
    putFiles({"MERXterminal.desktop", "MERXstale.desktop", "MERXnotes.txt", "MERX",
              "merxmine.desktop", "Merx.desktop", "mERX.desktop"});
    LogCapture capture;
    makePlugin()->execute();

    EXPECT_EQ(desktop(), (Names{"MERXhelpdesk.desktop", "MERXterminal.desktop", "Merx.desktop",
                                "mERX.desktop", "merxmine.desktop"}));
    for (const char* name : {"MERXhelpdesk.desktop", "MERXterminal.desktop"}) {
        EXPECT_EQ(readFile(mDesktop + "/" + name), golden(std::string("policy/") + name)) << name;
        EXPECT_EQ(validate(mDesktop + "/" + name), "") << name;
    }
    EXPECT_EQ(count(capture.text(), "listening for changes to launcher definitions\n"), 2u);
}

TEST_F(LauncherPluginTest, UnreadablePolicyLeavesTheLaunchersAsTheyAre) {
    setLayer(launchers(launcher("a", "new-a")));
    putFiles({"MERXa.desktop", "MERXb.desktop"}, "old\n");
    auto plugin = makePlugin();
    std::filesystem::rename(mStore, mDir / "gone");
    LogCapture capture;
    plugin->onChange();
    EXPECT_THROW(plugin->execute(), Exception);  // registering fails too
    EXPECT_EQ(desktop(), (Names{"MERXa.desktop", "MERXb.desktop"}));
    EXPECT_EQ(readFile(mDesktop + "/MERXa.desktop"), "old\n");
    EXPECT_EQ(count(capture.text(), "An error occurred creating the launchers: "), 2u);
}

// Every kind of change, live through the store's change events, gives exactly
// one rewrite and leaves exactly the configured set (none without a list).
TEST_F(LauncherPluginTest, EachPolicyChangeGivesOneRewrite) {
    const std::vector<std::pair<std::string, Names>> steps = {
        {launchers(launcher("a", "a2") + launcher("b", "b")), {"MERXa.desktop", "MERXb.desktop"}},
        {launchers(launcher("a", "a2") + launcher("c", "c")), {"MERXa.desktop", "MERXc.desktop"}},
        {"<node zel:name=\"startup_list\"/>", {}},  // the list removed
        {launchers(launcher("d", "d")), {"MERXd.desktop"}},
        {"", {}},  // the component removed
        {launchers(launcher("e", "e")), {"MERXe.desktop"}},
    };
    setLayer(launchers(launcher("a", "a") + launcher("b", "b")));
    putFiles({"keep.txt"});
    LogCapture capture;
    auto plugin = makePlugin();
    plugin->execute();
    unsigned long expected = 1;
    for (const auto& step : steps) {
        SCOPED_TRACE(expected);
        if (step.first.empty()) {
            std::filesystem::remove(mStore + kLayer);
        } else {
            setLayer(step.first);
        }
        ++expected;
        ASSERT_TRUE(waitUntil([&] { return plugin->getRewriteCount() >= expected; }));
        // The rest of the change's reports arrive within microseconds.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_EQ(plugin->getRewriteCount(), expected);
        Names files = step.second;
        files.push_back("keep.txt");
        EXPECT_EQ(desktop(), files);
    }
    const std::string& log = capture.text();
    for (const char* report : {"Node changed: component=%s, path=/launcher_list/a/Exec\n",
                               "Node removed: component=%s, path=/launcher_list/b\n",
                               "Node added: component=%s, path=/launcher_list\n"}) {
        std::string line = report;
        line.replace(line.find("%s"), 2, "com.orvek.ferrun.applications");
        EXPECT_NE(log.find(line), std::string::npos) << line;
    }
}

TEST_F(LauncherPluginTest, ChoosesTheFolder) {
    struct Case {
        std::vector<const char*> args;
        const char* home;  // null: unset
        std::string folder;
    };
    const std::vector<Case> cases = {
        {{"/tmp/launchers/"}, nullptr, "/tmp/launchers/"},  // HOME not read
        {{"/srv/desk"}, "/home/u", "/srv/desk/"},
        {{""}, "/home/u", "/home/u/Desktop/"},
        {{}, "/home/u", "/home/u/Desktop/"},
        {{}, "/", "/Desktop/"},
        {{}, nullptr, ""},  // unusable: nothing is written
        {{}, "", ""},
        {{}, "home/u", ""},
        {{}, ".", ""},
    };
    // Destroyed without execute, each plug-in still unregisters from the
    // default facade, which the missing store refuses: logged, not thrown.
    setenv("VESK_POLICY_STORE", (mDir / "missing").c_str(), 1);
    LogCapture capture;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.folder);
        c.home == nullptr ? unsetenv("HOME") : setenv("HOME", c.home, 1);
        LauncherPlugin plugin(static_cast<int>(c.args.size()), c.args.data());
        EXPECT_EQ(plugin.getBaseDir(), c.folder);
    }
    EXPECT_EQ(count(capture.text(), "finished listening for changes to launcher definitions\n"),
              cases.size());
}

TEST_F(LauncherPluginTest, UnusableHomeWritesNothingAnywhere) {
    setLayer(launchers(launcher("a", "a")));
    char previous[4096];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(chdir(mDesktop.c_str()), 0);
    setenv("HOME", "relative", 1);
    mAccess = std::make_unique<ConfigurationAccess>();
    {
        LogCapture capture;
        LauncherPlugin(0, nullptr, mAccess.get()).execute();
        EXPECT_NE(capture.text().find("An error occurred creating the launchers: HOME is not an "
                                      "absolute path and no desktop folder was given\n"),
                  std::string::npos);
    }
    EXPECT_EQ(chdir(previous), 0);
    EXPECT_TRUE(desktop().empty());
}

// Notifications on two threads at once (a facade may deliver so) rewrite one
// after the other; once the plug-in is destroyed no change reaches it.
TEST_F(LauncherPluginTest, RewritesAreSerialisedAndEndWithThePlugin) {
    setLayer(launchers(launcher("a", "a")));
    auto plugin = makePlugin();
    NodePath list;
    list.setPath("com.orvek.ferrun.applications/launcher_list");
    {
        LogCapture capture;
        std::thread other([&] {
            for (int n = 0; n < 20; ++n) {
                plugin->onNodeChanged(list);
            }
        });
        for (int n = 0; n < 20; ++n) {
            plugin->onNodeChanged(list);
        }
        other.join();
        EXPECT_EQ(plugin->getRewriteCount(), 40u);
        EXPECT_EQ(capture.text().find("rror"), std::string::npos) << capture.text();
    }
    EXPECT_EQ(desktop(), Names{"MERXa.desktop"});

    plugin->execute();
    setLayer(launchers(launcher("b", "b")));  // on its way during the destruction
    plugin.reset();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const Names atEnd = desktop();
    setLayer(launchers(launcher("c", "c")));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(desktop(), atEnd);
}

// The entry points on the default facade with the store missing at login:
// nothing is deleted, the failure to listen reaches the host, and
// uninitialise logs instead of throwing.
TEST_F(LauncherPluginTest, EntryPointsWithTheStoreMissingAtLogin) {
    setenv("VESK_POLICY_STORE", (mDir / "missing").c_str(), 1);
    putFiles({"MERXa.desktop"}, "old\n");
    launchersPluginExecute(nullptr);
    launchersPluginUninitialise(nullptr);
    LogCapture capture;
    const char* args[] = {mDesktop.c_str()};
    void* handle = launchersPluginInitialise(1, args);
    EXPECT_STREQ(gnome_program_get_app_id(gnome_program_get()), "launchers");
    EXPECT_THROW(launchersPluginExecute(handle), Exception);
    EXPECT_NO_THROW(launchersPluginUninitialise(handle));
    EXPECT_EQ(readFile(mDesktop + "/MERXa.desktop"), "old\n");
    const std::string& log = capture.text();
    EXPECT_NE(log.find("An error occurred creating the launchers: "), std::string::npos) << log;
    EXPECT_NE(log.find("An error occurred while stopping to listen for launcher changes: "),
              std::string::npos);
}

}  // namespace
