// A program started for a test with extra environment variables and its
// standard error in a file; killed at the end of the test if still running.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

class ChildProcess {
  public:
    // A null value in env removes the variable.
    ChildProcess(const std::string& program, const std::map<std::string, const char*>& env,
                 const std::string& stderrPath) {
        std::vector<std::string> entries;
        for (char** entry = environ; *entry != nullptr; ++entry) {
            const std::string text = *entry;
            if (env.count(text.substr(0, text.find('='))) == 0) {
                entries.push_back(text);
            }
        }
        for (const auto& variable : env) {
            if (variable.second != nullptr) {
                entries.push_back(variable.first + "=" + variable.second);
            }
        }
        std::vector<char*> envp;
        for (std::string& entry : entries) {
            envp.push_back(&entry[0]);
        }
        envp.push_back(nullptr);
        std::string path = program;
        char* argv[] = {&path[0], nullptr};
        mPid = fork();
        if (mPid == 0) {
            const int fd = open(stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fd >= 0) {
                dup2(fd, 2);
                close(fd);
            }
            execve(argv[0], argv, envp.data());
            _exit(127);
        }
    }

    ~ChildProcess() {
        if (mPid > 0 && !mStatus) {
            kill(mPid, SIGKILL);
            waitpid(mPid, nullptr, 0);
        }
    }

    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return mPid > 0; }
    void signal(int number) const { kill(mPid, number); }

    // The exit status once the program has ended (128 + signal number when a
    // signal ended it); nothing if it still runs after the timeout.
    std::optional<int> waitExit(std::chrono::milliseconds timeout) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (!mStatus) {
            int status = 0;
            const pid_t done = waitpid(mPid, &status, WNOHANG);
            if (done == mPid) {
                mStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            } else if (std::chrono::steady_clock::now() > end) {
                break;
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
