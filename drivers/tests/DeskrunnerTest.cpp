// deskrunner as a program: the four outcomes of starting its two plug-ins
// (with test doubles that fail on demand), and the real program on a scratch
// policy store and HOME, rewriting live and ending on SIGTERM.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ChildProcess.h"

using namespace std::chrono_literals;
using Lines = std::vector<std::string>;
using Names = std::vector<std::string>;

namespace {

const std::string kFakes = std::string(HOLLIN_BINARY_DIR) + "/bin/deskrunner_fakes";
const std::string kDeskrunner = std::string(HOLLIN_BINARY_DIR) + "/bin/deskrunner";
const char kLayerName[] = "com.orvek.ferrun.applications.xml";

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream(path + ".part", std::ios::binary) << text;
    std::filesystem::rename(path + ".part", path);
}

Lines lines(const std::string& text) {
    Lines result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        result.push_back(line);
    }
    return result;
}

Names listDir(const std::string& dir) {
    Names names;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

class Scratch {
  public:
    Scratch() {
        char name[] = "/tmp/deskrunner-test-XXXXXX";
        mPath = mkdtemp(name) != nullptr ? name : "/nonexistent";
    }
    ~Scratch() { std::filesystem::remove_all(mPath); }
    std::string operator/(const std::string& name) const { return mPath + "/" + name; }

  private:
    std::string mPath;
};

std::string layer(const std::string& launchers) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<zel:component-data xmlns:zel=\"urn:vesk:policy-layer\" "
           "zel:name=\"com.orvek.ferrun.applications\"><node zel:name=\"launcher_list\">" +
           launchers + "</node></zel:component-data>\n";
}

std::string launcher(const std::string& name, const std::string& exec) {
    return "<node zel:name=\"" + name + "\"><prop zel:name=\"Name\"><value>" + name +
           "</value></prop><prop zel:name=\"Exec\"><value>" + exec + "</value></prop></node>";
}

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

struct Outcome {
    const char* what;
    const char* launchers;
    const char* menu;
    bool keepsRunning;
    int stopSignal;
    Lines log;
};

const std::string kLaunchersError =
    "An error occurred while running the desktop applications 'launchers' plugin: ";
const std::string kMenuError =
    "An error occurred while running the desktop applications 'menu' plugin: ";

TEST(DeskrunnerTest, OutcomesOfStartingThePlugins) {
    const std::vector<Outcome> outcomes = {
        {"both start",
         "ok",
         "ok",
         true,
         SIGTERM,
         {"launchers initialise argc=0 argv=null", "launchers execute handle=set",
          "menu initialise argc=0 argv=null", "menu execute handle=set",
          "launchers uninitialise handle=set", "menu uninitialise handle=set"}},
        {"menu fails",
         "ok",
         "fail-execute",
         true,
         SIGINT,
         {"launchers initialise argc=0 argv=null", "launchers execute handle=set",
          "menu initialise argc=0 argv=null", "menu execute handle=set", kMenuError + "menu broken",
          "launchers uninitialise handle=set", "menu uninitialise handle=set"}},
        {"launchers fail",
         "fail-initialise",
         "ok",
         true,
         SIGTERM,
         {"launchers initialise argc=0 argv=null", kLaunchersError + "launchers broken",
          "menu initialise argc=0 argv=null", "menu execute handle=set",
          "launchers uninitialise handle=null", "menu uninitialise handle=set"}},
        {"both fail",
         "fail-initialise",
         "fail-initialise",
         false,
         0,
         {"launchers initialise argc=0 argv=null", kLaunchersError + "launchers broken",
          "menu initialise argc=0 argv=null", kMenuError + "menu broken",
          "launchers uninitialise handle=null", "menu uninitialise handle=null"}},
        {"both fail after creating their handles",
         "fail-execute",
         "fail-execute",
         false,
         0,
         {"launchers initialise argc=0 argv=null", "launchers execute handle=set",
          kLaunchersError + "launchers broken", "menu initialise argc=0 argv=null",
          "menu execute handle=set", kMenuError + "menu broken",
          "launchers uninitialise handle=set", "menu uninitialise handle=set"}},
        {"a failing uninitialise is ignored silently",
         "fail-uninitialise",
         "fail-uninitialise",
         true,
         SIGTERM,
         {"launchers initialise argc=0 argv=null", "launchers execute handle=set",
          "menu initialise argc=0 argv=null", "menu execute handle=set",
          "launchers uninitialise handle=set", "menu uninitialise handle=set"}},
        {"a failure that is not an Exception",
         "throw-other",
         "ok",
         false,
         0,
         {"launchers initialise argc=0 argv=null", "launchers execute handle=set",
          "An unexpected error has occurred."}},
    };
    Scratch scratch;
    for (const Outcome& outcome : outcomes) {
        SCOPED_TRACE(outcome.what);
        const std::string log = scratch / "stderr";
        ChildProcess runner(kFakes,
                            {{"FAKE_LAUNCHERS", outcome.launchers},
                             {"FAKE_MENU", outcome.menu},
                             {"VESKLEG_LOG", "1"},
                             {"VESKLEG_LOG_LEVEL", "Info"}},
                            log);
        ASSERT_TRUE(runner.started());
        if (outcome.keepsRunning) {
            EXPECT_FALSE(runner.waitExit(500ms)) << "ended though a plug-in runs";
            runner.signal(outcome.stopSignal);
        }
        EXPECT_EQ(runner.waitExit(3s), 0);
        EXPECT_EQ(lines(readFile(log)), outcome.log);
    }
}

class DeskrunnerLiveTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::create_directories(mStore + "/default");
        std::filesystem::create_directories(mDesktop);
    }

    ChildProcess start() {
        return ChildProcess(kDeskrunner,
                            {{"HOME", mHome.c_str()},
                             {"VESK_POLICY_STORE", mStore.c_str()},
                             {"VESKLEG_LOG", "1"},
                             {"VESKLEG_LOG_LEVEL", "Info"}},
                            mLog);
    }
    std::string log() const { return readFile(mLog); }
    bool logged(const std::string& text) const { return log().find(text) != std::string::npos; }

    Scratch mScratch;
    std::string mStore = mScratch / "store";
    std::string mHome = mScratch / "home";
    std::string mDesktop = mHome + "/Desktop";
    std::string mLog = mScratch / "stderr";
};

TEST_F(DeskrunnerLiveTest, RewritesLiveAndEndsOnSigterm) {
    writeFile(mStore + "/default/" + kLayerName, layer(launcher("a", "a1") + launcher("b", "b")));
    writeFile(mDesktop + "/MERXold.desktop", "old\n");
    writeFile(mDesktop + "/notes.txt", "mine\n");
    ChildProcess runner = start();

    ASSERT_TRUE(waitUntil([&] { return logged("menu plug-in started\n"); }, 5s)) << log();
    EXPECT_EQ(listDir(mDesktop), (Names{"MERXa.desktop", "MERXb.desktop", "notes.txt"}));
    EXPECT_TRUE(logged("listening for changes to launcher definitions\n"));

    writeFile(mStore + "/default/" + kLayerName, layer(launcher("a", "a2") + launcher("c", "c")));
    const auto edited = std::chrono::steady_clock::now();
    const Names next = {"MERXa.desktop", "MERXc.desktop", "notes.txt"};
    ASSERT_TRUE(waitUntil(
        [&] {
            return listDir(mDesktop) == next &&
                   readFile(mDesktop + "/MERXa.desktop").find("Exec=a2") != std::string::npos;
        },
        5s));
    EXPECT_LT(std::chrono::steady_clock::now() - edited, 1s);
    EXPECT_EQ(readFile(mDesktop + "/notes.txt"), "mine\n");

    // The store goes away: the launchers stay as they are.
    const std::string a = readFile(mDesktop + "/MERXa.desktop");
    std::filesystem::rename(mStore, mScratch / "store.gone");
    std::this_thread::sleep_for(1s);
    EXPECT_EQ(listDir(mDesktop), next);
    EXPECT_EQ(readFile(mDesktop + "/MERXa.desktop"), a);

    runner.signal(SIGTERM);
    EXPECT_EQ(runner.waitExit(3s), 0);
    const std::string text = log();
    const size_t finished = text.find("finished listening for changes to launcher definitions\n");
    EXPECT_NE(finished, std::string::npos) << text;
    EXPECT_LT(finished, text.find("menu plug-in stopped\n")) << text;
}

TEST_F(DeskrunnerLiveTest, StoreMissingAtLoginKeepsLaunchersAndRunsTheMenu) {
    std::filesystem::remove_all(mStore);
    writeFile(mDesktop + "/MERXa.desktop", "old a\n");
    ChildProcess runner = start();
    ASSERT_TRUE(waitUntil([&] { return logged("menu plug-in started\n"); }, 5s)) << log();
    EXPECT_FALSE(runner.waitExit(300ms));
    EXPECT_EQ(listDir(mDesktop), Names{"MERXa.desktop"});
    EXPECT_EQ(readFile(mDesktop + "/MERXa.desktop"), "old a\n");
    EXPECT_TRUE(logged("An error occurred creating the launchers: ")) << log();
    EXPECT_TRUE(logged(kLaunchersError)) << log();

    runner.signal(SIGINT);
    EXPECT_EQ(runner.waitExit(3s), 0);
}

}  // namespace
