#include "StartlistRun.h"

#include <errno.h>
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace startlist_test {

namespace fs = std::filesystem;

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::string fixture(const std::string& name) {
    const std::string path =
        std::string(HOLLIN_SOURCE_DIR) + "/plugins/startupApps/tests/data/" + name;
    if (!fs::exists(path)) {
        throw std::runtime_error("missing fixture " + path);
    }
    return readFile(path);
}

StartlistRun::StartlistRun() {
    char name[] = "/tmp/startlist-test-XXXXXX";
    if (mkdtemp(name) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    mRoot = name;
    mHome = mRoot + "/home";
    mStore = mRoot + "/store";
    fs::create_directories(mHome);
    fs::create_directories(mStore + "/default");
}

StartlistRun::~StartlistRun() {
    std::error_code ignored;
    fs::remove_all(mRoot, ignored);
}

void StartlistRun::setApplications(const std::vector<Application>& apps) {
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<zel:component-data xmlns:zel=\"urn:vesk:policy-layer\""
        " zel:name=\"com.orvek.ferrun.applications\">\n"
        "  <node zel:name=\"startup_list\" zel:op=\"replace\">\n";
    for (const Application& app : apps) {
        xml += "    <node zel:name=\"" + app.node + "\">\n";
        if (!app.command.empty()) {
            xml += "      <prop zel:name=\"command\" zel:type=\"xs:string\"><value>" + app.command +
                   "</value></prop>\n";
        }
        if (!app.order.empty()) {
            xml += "      <prop zel:name=\"order\" zel:type=\"xs:string\"><value>" + app.order +
                   "</value></prop>\n";
        }
        xml += "    </node>\n";
    }
    xml += "  </node>\n</zel:component-data>\n";
    writeFile(mStore + "/default/com.orvek.ferrun.applications.xml", xml);
}

void StartlistRun::removeApplications() {
    fs::remove(mStore + "/default/com.orvek.ferrun.applications.xml");
}

void StartlistRun::breakStore() {
    fs::remove_all(mStore);
}

void StartlistRun::installSession(const std::string& text) const {
    fs::create_directories(mHome + "/.gnome2");
    writeFile(sessionPath(), text);
}

bool StartlistRun::hasSession() const {
    return fs::exists(sessionPath());
}

std::string StartlistRun::session() const {
    return readFile(sessionPath());
}

int StartlistRun::run() {
    std::vector<std::string> env;
    for (char** var = environ; *var != nullptr; ++var) {
        const std::string entry = *var;
        const std::string name = entry.substr(0, entry.find('='));
        if (name != "HOME" && name != "VESK_POLICY_STORE" && name != "VESKLEG_LOG" &&
            name != "VESKLEG_LOG_LEVEL") {
            env.push_back(entry);
        }
    }
    env.push_back("HOME=" + mHome);
    env.push_back("VESK_POLICY_STORE=" + mStore);
    env.push_back("VESKLEG_LOG=1");
    std::vector<char*> envp;
    for (std::string& entry : env) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);

    const std::string program = std::string(HOLLIN_BINARY_DIR) + "/bin/startlist";
    const std::string errors = mRoot + "/stderr";
    std::vector<char> path(program.begin(), program.end());
    path.push_back('\0');
    char* argv[] = {path.data(), nullptr};

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        throw std::runtime_error("cannot run " + program);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    mErrors = readFile(errors);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace startlist_test
