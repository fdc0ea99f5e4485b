#include "Program.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

extern char** environ;

Program::Program(const std::string& path, const std::map<std::string, std::string>& environment,
                 const std::string& stderrPath, const std::vector<std::string>& prefix) {
    std::vector<std::string> entries;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        if (environment.count(text.substr(0, text.find('='))) == 0) {
            entries.push_back(text);
        }
    }
    for (const auto& [name, value] : environment) {
        entries.push_back(name + "=" + value);
    }
    std::vector<std::string> arguments = prefix;
    arguments.push_back(path);
    // Built before fork: the child only calls what is safe after it.
    std::vector<char*> envp;
    for (std::string& entry : entries) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    const int errorFd = ::open(stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    mPid = ::fork();
    if (mPid == 0) {
        if (errorFd >= 0) {
            ::dup2(errorFd, STDERR_FILENO);
        }
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    if (errorFd >= 0) {
        ::close(errorFd);
    }
    mEnded = mPid < 0;
}

Program::~Program() {
    if (!mEnded) {
        ::kill(mPid, SIGKILL);
        ::waitpid(mPid, nullptr, 0);
    }
}

bool Program::running() {
    if (!mEnded && ::waitpid(mPid, &mStatus, WNOHANG) == mPid) {
        mEnded = true;
    }
    return !mEnded;
}

int Program::wait(std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (running() && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!mEnded || !WIFEXITED(mStatus)) {
        return -1;
    }
    return WEXITSTATUS(mStatus);
}

void Program::signal(int number) {
    if (!mEnded) {
        ::kill(mPid, number);
    }
}

std::string binary(const std::string& name) {
    return std::string(HOLLIN_BINARY_DIR) + "/bin/" + name;
}
