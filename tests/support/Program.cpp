// SPDX-License-Identifier: LGPL-2.1-or-later
#include "Program.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "TestFiles.h"

extern char** environ;

namespace {

struct Pipe {
    int fds[2] = {-1, -1};
    Pipe() {
        if (pipe2(fds, O_CLOEXEC) != 0) {
            throw std::runtime_error("pipe");
        }
    }
    ~Pipe() {
        closeEnd(0);
        closeEnd(1);
    }
    void closeEnd(int end) {
        if (fds[end] >= 0) {
            close(fds[end]);
            fds[end] = -1;
        }
    }
    int release(int end) {
        const int fd = fds[end];
        fds[end] = -1;
        return fd;
    }
};

// Standard input, output and error of the child; -1 keeps the test's.
pid_t spawn(const std::vector<std::string>& args, const std::map<std::string, std::string>& changes,
            int in, int out, int err) {
    std::vector<std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        if (changes.count(text.substr(0, text.find('='))) == 0) {
            environment.push_back(text);
        }
    }
    for (const auto& [name, value] : changes) {
        if (!value.empty()) {
            environment.push_back(name + "=" + value);
        }
    }
    std::vector<char*> argv;
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& entry : environment) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const int targets[] = {0, 1, 2};
    const int sources[] = {in, out, err};
    for (int i = 0; i < 3; ++i) {
        if (sources[i] >= 0) {
            posix_spawn_file_actions_adddup2(&actions, sources[i], targets[i]);
        }
    }
    // The child starts with default signal handling and nothing blocked,
    // whatever the test process has set.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    sigset_t all;
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (rc != 0) {
        throw std::runtime_error("cannot start " + args[0] + ": " + strerror(rc));
    }
    return pid;
}

int statusOf(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool readLine(int fd, std::string& buffer, std::string& line, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const size_t end = buffer.find('\n');
        if (end != std::string::npos) {
            line = buffer.substr(0, end);
            buffer.erase(0, end + 1);
            return true;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return false;
        }
        struct pollfd poller = {fd, POLLIN, 0};
        const int ready = poll(&poller, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            return false;
        }
        char chunk[4096];
        const ssize_t got = read(fd, chunk, sizeof chunk);
        if (got <= 0) {
            return false;
        }
        buffer.append(chunk, static_cast<size_t>(got));
    }
}

}  // namespace

Program::Result Program::run(const std::vector<std::string>& args,
                             const std::map<std::string, std::string>& environment) {
    Pipe in, out, err;
    const pid_t pid = spawn(args, environment, in.fds[0], out.fds[1], err.fds[1]);
    in.closeEnd(0);
    in.closeEnd(1);
    out.closeEnd(1);
    err.closeEnd(1);

    Result result;
    struct pollfd fds[2] = {{out.fds[0], POLLIN, 0}, {err.fds[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open = 2;
    while (open > 0) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) {
                continue;
            }
            char buffer[4096];
            const ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
            if (got > 0) {
                sinks[i]->append(buffer, static_cast<size_t>(got));
            } else if (got == 0 || errno != EINTR) {
                fds[i].fd = -1;
                --open;
            }
        }
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.status = statusOf(status);
    return result;
}

Program::Program(const std::string& path, const std::map<std::string, std::string>& environment,
                 const std::string& stderrPath, const std::vector<std::string>& prefix) {
    std::vector<std::string> args = prefix;
    args.push_back(path);
    const int errorFd = ::open(stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    mPid = spawn(args, environment, -1, -1, errorFd);
    if (errorFd >= 0) {
        ::close(errorFd);
    }
}

Program::Program(const std::vector<std::string>& args,
                 const std::map<std::string, std::string>& environment) {
    Pipe in, out, err;
    mPid = spawn(args, environment, in.fds[0], out.fds[1], err.fds[1]);
    mOut = out.release(0);
    mErr = err.release(0);
}

Program::~Program() {
    if (!mEnded) {
        ::kill(mPid, SIGKILL);
        ::waitpid(mPid, nullptr, 0);
    }
    for (int fd : {mOut, mErr}) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

bool Program::running() {
    if (!mEnded && ::waitpid(mPid, &mStatus, WNOHANG) == mPid) {
        mEnded = true;
    }
    return !mEnded;
}

int Program::wait(std::chrono::milliseconds timeout) {
    testsupport::waitUntil([this] { return !running(); }, timeout);
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

int Program::stop(int number) {
    signal(number);
    while (!mEnded && ::waitpid(mPid, &mStatus, 0) < 0 && errno == EINTR) {
    }
    mEnded = true;
    return statusOf(mStatus);
}

bool Program::readOutLine(std::string& line, std::chrono::milliseconds timeout) {
    return readLine(mOut, mOutBuffer, line, timeout);
}

bool Program::readErrLine(std::string& line, std::chrono::milliseconds timeout) {
    return readLine(mErr, mErrBuffer, line, timeout);
}

std::string binary(const std::string& name) {
    return std::string(HOLLIN_BINARY_DIR) + "/bin/" + name;
}

std::vector<std::string> withoutInotifyPrefix() {
    // The limit is the user namespace's own: the machine's stays as it is.
    const char script[] = "echo 0 >/proc/sys/user/max_inotify_instances && exec \"$0\" \"$@\"";
    const std::vector<std::string> prefix{"unshare", "--user", "--map-root-user",
                                          "sh",      "-c",     script};
    std::vector<std::string> probe = prefix;
    probe.push_back("true");
    return Program::run(probe).status == 0 ? prefix : std::vector<std::string>();
}
