// A program started for a test with changed environment variables and its
// standard error in a file; killed at the end of the test if still running.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

class ChildProcess {
  public:
    ChildProcess(std::string program, const std::map<std::string, const char*>& env,
                 const std::string& stderrPath) {
        std::vector<std::string> entries;
        for (char** entry = environ; *entry != nullptr; ++entry) {
            const std::string text = *entry;
            if (env.count(text.substr(0, text.find('='))) == 0) {
                entries.push_back(text);
            }
        }
        for (const auto& variable : env) {
            entries.push_back(variable.first + "=" + variable.second);
        }
        std::vector<char*> envp;
        for (std::string& entry : entries) {
            envp.push_back(&entry[0]);
        }
        envp.push_back(nullptr);
        char* argv[] = {&program[0], nullptr};
        const int fd = open(stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        mPid = fork();
        if (mPid == 0) {
            dup2(fd, 2);
            execve(argv[0], argv, envp.data());
            _exit(127);
        }
        close(fd);
    }
    ~ChildProcess() {
        if (mPid > 0 && !mStatus) {
            kill(mPid, SIGKILL);
            waitpid(mPid, nullptr, 0);
        }
    }

    void signal(int number) const { kill(mPid, number); }

    // The exit status (128 + the signal's number when a signal ended it), or
    // nothing while it still runs after the timeout.
    std::optional<int> waitExit(std::chrono::milliseconds timeout) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        int status = 0;
        while (!mStatus && std::chrono::steady_clock::now() < end) {
            if (waitpid(mPid, &status, WNOHANG) == mPid) {
                mStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        }
        return mStatus;
    }

  private:
    pid_t mPid = -1;
    std::optional<int> mStatus;
};
