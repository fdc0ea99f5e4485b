// The programs against the directory: deskrunner writes the launchers of the
// policy and rewrites them live when an administrator changes the layer with
// ldapmodify; startlist writes the startup list from it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <thread>

#include "DirectoryPolicyStore.h"
#include "TestSupport.h"

namespace vesk::legacy::store::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const std::string kBin = std::string(HOLLIN_BINARY_DIR) + "/bin/";
const char kComponent[] = "com.orvek.ferrun.applications";

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

std::vector<std::string> listDir(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string launchers(const std::vector<std::pair<std::string, std::string>>& list) {
    std::string nodes;
    for (const auto& launcher : list) {
        nodes += "<node zel:name=\"" + launcher.first + "\"><prop zel:name=\"Name\"><value>" +
                 launcher.first + "</value></prop><prop zel:name=\"Exec\"><value>" +
                 launcher.second + "</value></prop></node>";
    }
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<zel:component-data xmlns:zel=\"urn:vesk:policy-layer\" zel:name=\"" +
           std::string(kComponent) + "\"><node zel:name=\"launcher_list\">" + nodes +
           "</node><node zel:name=\"startup_list\" zel:op=\"replace\"><node zel:name=\"clock\">"
           "<prop zel:name=\"command\" zel:type=\"xs:string\"><value>xclock -digital</value>"
           "</prop><prop zel:name=\"order\" zel:type=\"xs:string\"><value>20</value></prop>"
           "</node></node></zel:component-data>\n";
}

// A program with a few variables of its own and its output in a file.
class Program {
  public:
    Program(const std::string& path, const std::vector<std::string>& args,
            const std::map<std::string, std::string>& env, const std::string& output) {
        std::vector<std::string> argv{path};
        argv.insert(argv.end(), args.begin(), args.end());
        mPid = fork();
        if (mPid == 0) {
            for (const auto& variable : env) {
                setenv(variable.first.c_str(), variable.second.c_str(), 1);
            }
            const int fd = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(fd, 1);
            dup2(fd, 2);
            std::vector<char*> pointers;
            for (std::string& arg : argv) {
                pointers.push_back(&arg[0]);
            }
            pointers.push_back(nullptr);
            execv(pointers[0], pointers.data());
            _exit(127);
        }
    }
    ~Program() {
        if (mPid > 0 && !mExited) {
            kill(mPid, SIGKILL);
            waitpid(mPid, nullptr, 0);
        }
    }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    void signal(int number) const { kill(mPid, number); }
    // The exit status, or -1 if it still runs after the timeout.
    int wait(std::chrono::milliseconds timeout) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        int status = 0;
        while (waitpid(mPid, &status, WNOHANG) != mPid) {
            if (std::chrono::steady_clock::now() > end) {
                return -1;
            }
            std::this_thread::sleep_for(10ms);
        }
        mExited = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

  private:
    pid_t mPid = -1;
    bool mExited = false;
};

class DirectoryEndToEndTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* program : {"deskrunner", "startlist"}) {
            if (!fs::exists(kBin + program)) {
                GTEST_SKIP() << program << " is not built";
            }
        }
        std::string error;
        mDirectory = sharedDirectory(error);
        ASSERT_NE(mDirectory, nullptr) << error;
        ASSERT_TRUE(mDirectory->start(error)) << error;
        mBase = freshBase(*mDirectory);
        mHome = mDirectory->folder() + "/home-" + mBase.substr(3, mBase.find(',') - 3);
        fs::create_directories(mHome + "/Desktop");
        fs::create_directories(mHome + "/.gnome2");
        ensureScope(*mDirectory, "default", mBase);
    }

    std::map<std::string, std::string> environment() const {
        return {{"HOME", mHome},
                {"VESK_POLICY_STORE", mDirectory->url(mBase)},
                {"VESKLEG_LOG", "1"},
                {"VESKLEG_LOG_LEVEL", "Info"}};
    }

    TestDirectory* mDirectory = nullptr;
    std::string mBase;
    std::string mHome;
};

TEST_F(DirectoryEndToEndTest, DeskrunnerRewritesLaunchersWhenLdapmodifyChangesTheLayer) {
    ASSERT_EQ(mDirectory->addEntry(layerDnOf("default", kComponent, mBase),
                                   {{"objectClass", {"veskLayer"}},
                                    {"cn", {kComponent}},
                                    {"veskLayerData", {launchers({{"a", "a1"}, {"b", "b"}})}}}),
              LDAP_SUCCESS);
    const std::string desktop = mHome + "/Desktop";
    const std::string log = mHome + "/deskrunner.log";
    Program runner(kBin + "deskrunner", {}, environment(), log);
    ASSERT_TRUE(waitUntil(
        [&] { return readFile(log).find("menu plug-in started") != std::string::npos; }, 10s))
        << readFile(log);
    EXPECT_EQ(listDir(desktop), (std::vector<std::string>{"MERXa.desktop", "MERXb.desktop"}));

    // The administrator's edit, as a site makes it.
    const std::string layer = mHome + "/new-layer.xml";
    std::ofstream(layer) << launchers({{"a", "a2"}, {"c", "c"}});
    const std::string ldif = mHome + "/edit.ldif";
    std::ofstream(ldif) << "dn: " << layerDnOf("default", kComponent, mBase)
                        << "\nchangetype: modify\nreplace: veskLayerData\nveskLayerData:< file://"
                        << layer << "\n";
    const std::string url = mDirectory->url("");
    ASSERT_EQ(TestDirectory::runTool(
                  {"/usr/bin/ldapmodify", "-x", "-H", url.substr(0, url.size() - 1), "-D",
                   TestDirectory::kAdminDn, "-w", TestDirectory::kAdminPassword, "-f", ldif},
                  mHome + "/ldapmodify.log"),
              0)
        << readFile(mHome + "/ldapmodify.log");
    const auto edited = std::chrono::steady_clock::now();
    ASSERT_TRUE(waitUntil(
        [&] {
            return listDir(desktop) == std::vector<std::string>{"MERXa.desktop", "MERXc.desktop"} &&
                   readFile(desktop + "/MERXa.desktop").find("Exec=a2") != std::string::npos;
        },
        5s))
        << readFile(log);
    EXPECT_LT(std::chrono::steady_clock::now() - edited, 1s);

    runner.signal(SIGTERM);
    EXPECT_EQ(runner.wait(5s), 0);
    EXPECT_NE(readFile(log).find("finished listening for changes to launcher definitions"),
              std::string::npos)
        << readFile(log);
}

TEST_F(DirectoryEndToEndTest, StartlistWritesTheStartupListFromTheDirectory) {
    ASSERT_EQ(mDirectory->addEntry(layerDnOf("default", kComponent, mBase),
                                   {{"objectClass", {"veskLayer"}},
                                    {"cn", {kComponent}},
                                    {"veskLayerData", {launchers({})}}}),
              LDAP_SUCCESS);
    Program startlist(kBin + "startlist", {}, environment(), mHome + "/startlist.log");
    ASSERT_EQ(startlist.wait(10s), 0);
    const std::string session = readFile(mHome + "/.gnome2/session-manual");
    EXPECT_NE(session.find("RestartCommand=xclock -digital"), std::string::npos) << session;
    EXPECT_NE(session.find("Priority=20"), std::string::npos) << session;
}

}  // namespace
}  // namespace vesk::legacy::store::test
