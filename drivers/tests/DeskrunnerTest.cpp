// deskrunner as a program: the outcomes of starting its two plug-ins (with
// test doubles that fail on demand), and the real program on a scratch policy
// store and HOME, rewriting live and ending on SIGTERM.
#include <gtest/gtest.h>

#include <csignal>
#include <map>
#include <sstream>

#include "ChildProcess.h"
#include "LauncherTestSupport.h"

using namespace std::chrono_literals;
using namespace launchertest;

namespace {

const std::string kBin = std::string(HOLLIN_BINARY_DIR) + "/bin/";
const std::string kLaunchersError =
    "An error occurred while running the desktop applications 'launchers' plugin: ";
const std::string kMenuError =
    "An error occurred while running the desktop applications 'menu' plugin: ";

// The doubles' log in short: L launchers, M menu; "+" initialise (argc 0, no
// vector), "!" execute, "-" uninitialise with a handle, "0" with none,
// "E" the host's error message for it.
std::string expand(const std::string& codes) {
    const std::map<char, std::string> calls = {{'+', " initialise argc=0 argv=null"},
                                               {'!', " execute handle=set"},
                                               {'-', " uninitialise handle=set"},
                                               {'0', " uninitialise handle=null"}};
    std::istringstream in(codes);
    std::string text;
    for (std::string code; in >> code;) {
        const std::string who = code[0] == 'L' ? "launchers" : "menu";
        if (code == "X") {
            text += "An unexpected error has occurred.";
        } else if (code[1] == 'E') {
            text += (code[0] == 'L' ? kLaunchersError : kMenuError) + who + " broken\n";
        } else {
            text += who + calls.at(code[1]) + "\n";
        }
    }
    return text;
}

TEST(DeskrunnerTest, OutcomesOfStartingThePlugins) {
    struct Outcome {
        const char* what;
        const char* launchers;
        const char* menu;
        int stopSignal;  // 0: ends by itself
        const char* log;
    };
    const std::vector<Outcome> outcomes = {
        // A failing uninitialise is ignored without a message.
        {"both start", "fail-uninitialise", "ok", SIGTERM, "L+ L! M+ M! L- M-"},
        {"menu fails", "ok", "fail-execute", SIGINT, "L+ L! M+ M! ME L- M-"},
        {"launchers fail", "fail-initialise", "ok", SIGTERM, "L+ LE M+ M! L0 M-"},
        {"both fail", "fail-initialise", "fail-initialise", 0, "L+ LE M+ ME L0 M0"},
        {"both fail with handles", "fail-execute", "fail-execute", 0, "L+ L! LE M+ M! ME L- M-"},
        {"not an Exception", "throw-other", "ok", 0, "L+ L! X"},
    };
    TempDir scratch;
    for (const Outcome& outcome : outcomes) {
        SCOPED_TRACE(outcome.what);
        ChildProcess runner(kBin + "deskrunner_fakes",
                            {{"FAKE_LAUNCHERS", outcome.launchers},
                             {"FAKE_MENU", outcome.menu},
                             {"VESKLEG_LOG", "1"},
                             {"VESKLEG_LOG_LEVEL", "Info"}},
                            scratch / "stderr");
        if (outcome.stopSignal != 0) {
            EXPECT_FALSE(runner.waitExit(500ms)) << "ended though a plug-in runs";
            runner.signal(outcome.stopSignal);
        }
        EXPECT_EQ(runner.waitExit(3s), 0);
        EXPECT_EQ(readFile(scratch / "stderr"), expand(outcome.log));
    }
}

std::string layer(const std::string& launchers) {
    return "<zel:component-data xmlns:zel=\"urn:vesk:policy-layer\" "
           "zel:name=\"com.orvek.ferrun.applications\"><node zel:name=\"launcher_list\">" +
           launchers + "</node></zel:component-data>\n";
}

std::string launcher(const std::string& name, const std::string& exec) {
    return "<node zel:name=\"" + name + "\"><prop zel:name=\"Name\"><value>" + name +
           "</value></prop><prop zel:name=\"Exec\"><value>" + exec + "</value></prop></node>";
}

class DeskrunnerLiveTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::create_directories(mStore + "/default");
        std::filesystem::create_directories(mDesktop);
    }
    void setLayer(const std::string& launchers) {
        writeFile(mStore + "/default/com.orvek.ferrun.applications.xml", layer(launchers));
    }
    std::unique_ptr<ChildProcess> start() {
        return std::make_unique<ChildProcess>(
            kBin + "deskrunner",
            std::map<std::string, const char*>{{"HOME", mHome.c_str()},
                                               {"VESK_POLICY_STORE", mStore.c_str()},
                                               {"VESKLEG_LOG", "1"},
                                               {"VESKLEG_LOG_LEVEL", "Info"}},
            mScratch / "stderr");
    }
    std::string log() const { return readFile(mScratch / "stderr"); }
    bool started() const {
        return waitUntil([&] { return log().find("menu plug-in started\n") != std::string::npos; });
    }

    TempDir mScratch;
    std::string mStore = mScratch / "store";
    std::string mHome = mScratch / "home";
    std::string mDesktop = mHome + "/Desktop";
};

TEST_F(DeskrunnerLiveTest, RewritesLiveAndEndsOnSigterm) {
    setLayer(launcher("a", "a1") + launcher("b", "b"));
    writeFile(mDesktop + "/MERXold.desktop", "old\n");
    writeFile(mDesktop + "/notes.txt", "mine\n");
    auto runner = start();
    ASSERT_TRUE(started()) << log();
    EXPECT_EQ(listDir(mDesktop), (Names{"MERXa.desktop", "MERXb.desktop", "notes.txt"}));

    setLayer(launcher("a", "a2") + launcher("c", "c"));
    const auto edited = std::chrono::steady_clock::now();
    const Names next = {"MERXa.desktop", "MERXc.desktop", "notes.txt"};
    ASSERT_TRUE(waitUntil([&] {
        return listDir(mDesktop) == next &&
               readFile(mDesktop + "/MERXa.desktop").find("Exec=a2\n") != std::string::npos;
    }));
    EXPECT_LT(std::chrono::steady_clock::now() - edited, 1s);
    EXPECT_EQ(readFile(mDesktop + "/notes.txt"), "mine\n");

    // The store goes away: the launchers stay as they are.
    const std::string a = readFile(mDesktop + "/MERXa.desktop");
    std::filesystem::rename(mStore, mScratch / "gone");
    std::this_thread::sleep_for(1s);
    EXPECT_EQ(listDir(mDesktop), next);
    EXPECT_EQ(readFile(mDesktop + "/MERXa.desktop"), a);

    runner->signal(SIGTERM);
    EXPECT_EQ(runner->waitExit(3s), 0);
    const std::string text = log();
    const size_t finished = text.find("finished listening for changes to launcher definitions\n");
    ASSERT_NE(finished, std::string::npos) << text;
    EXPECT_LT(finished, text.find("menu plug-in stopped\n")) << text;
}

}  // namespace
