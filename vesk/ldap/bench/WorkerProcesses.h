// SPDX-License-Identifier: LGPL-2.1-or-later
// Worker processes for the directory load benchmarks: forked before they
// listen, reporting fixed-size records (when a callback ran, and what else a
// benchmark counts) through one pipe, killed with the object. Also the clock
// and memory readings the benchmarks share.
//
//   WorkerProcesses<Record> workers(10, [](int index, int reportFd) { ...; pause(); });
//   std::vector<Record> ready;
//   workers.collect(10, ready, std::chrono::seconds(120));
#pragma once

#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace bench {

inline std::int64_t nowNs() {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

inline long rssKb(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return -1;
}

// Milliseconds from start to each record's time (its member at, from
// nowNs), sorted.
template <typename Record>
std::vector<double> latenciesMs(const std::vector<Record>& records, std::int64_t start) {
    std::vector<double> result;
    for (const Record& record : records) {
        result.push_back(static_cast<double>(record.at - start) / 1e6);
    }
    std::sort(result.begin(), result.end());
    return result;
}

// Written whole in one call: a record is far smaller than PIPE_BUF.
template <typename Record>
void sendRecord(int fd, const Record& record) {
    const ssize_t written = write(fd, &record, sizeof record);
    static_cast<void>(written);
}

template <typename Record>
class WorkerProcesses {
  public:
    // Runs work(index, reportFd) in each child; it must not return.
    WorkerProcesses(int processes, const std::function<void(int, int)>& work) {
        int fds[2];
        if (pipe(fds) != 0) {
            throw std::runtime_error("pipe");
        }
        mReadFd = fds[0];
        for (int index = 0; index < processes; ++index) {
            const pid_t child = fork();
            if (child == 0) {
                prctl(PR_SET_PDEATHSIG, SIGKILL);
                close(mReadFd);
                work(index, fds[1]);
                _exit(3);
            }
            mWorkers.push_back(child);
        }
        close(fds[1]);
    }
    ~WorkerProcesses() {
        for (pid_t worker : mWorkers) {
            kill(worker, SIGKILL);
            waitpid(worker, nullptr, 0);
        }
        close(mReadFd);
    }
    WorkerProcesses(const WorkerProcesses&) = delete;
    WorkerProcesses& operator=(const WorkerProcesses&) = delete;

    // Reads records until count of them were kept (keep says which; by
    // default all), or false when the timeout passed or the workers are gone.
    bool collect(int count, std::vector<Record>& records, std::chrono::seconds timeout,
                 const std::function<bool(const Record&)>& keep = nullptr) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (static_cast<int>(records.size()) < count) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now());
            struct pollfd fd = {mReadFd, POLLIN, 0};
            if (left.count() <= 0 || poll(&fd, 1, static_cast<int>(left.count())) <= 0) {
                return false;
            }
            Record record;
            if (read(mReadFd, &record, sizeof record) != sizeof record) {
                return false;
            }
            if (!keep || keep(record)) {
                records.push_back(record);
            }
        }
        return true;
    }

    pid_t first() const { return mWorkers.front(); }

  private:
    int mReadFd = -1;
    std::vector<pid_t> mWorkers;
};

}  // namespace bench
