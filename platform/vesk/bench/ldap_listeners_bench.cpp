// Many desktops listening to one directory: W worker processes with H handles
// each listen to one component on a private slapd; each iteration makes one
// edit of its layer and times until every handle's callback has run. Reports
// the median and maximum latency per edit, the memory of slapd and of one
// listening process, and the maximum against the floor of a single listener
// measured in the same run (the floor is mostly the 100 ms quiet period).
//
//   bench_ldap_listeners                      # 1 x 1 (floor), then 5 x 100
//   bench_ldap_listeners --benchmark_filter=5/100
#include <benchmark/benchmark.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "TestDirectory.h"
#include "papi.h"

using vesk::legacy::store::test::TestDirectory;

namespace {

const char kComponent[] = "org.bench";
const std::string kLayerDn =
    std::string("cn=org.bench,ou=default,ou=bench,") + TestDirectory::kSuffix;

std::int64_t nowNs() {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

long rssKb(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return -1;
}

// What a callback reports: when it ran (readiness is reported as time 0).
struct Record {
    std::int64_t at;
};

int sReportFd = -1;

void reportEvent(const PAPIEvent*, void*) {
    const Record record{nowNs()};
    const ssize_t written = write(sReportFd, &record, sizeof record);
    static_cast<void>(written);
}

// One worker process: opens its handles, listens, says it is ready, waits.
[[noreturn]] void runWorker(int handles, int reportFd) {
    sReportFd = reportFd;
    std::vector<PAPI*> opened;
    for (int i = 0; i < handles; ++i) {
        PAPIStatus status = -1;
        PAPI* handle = papiInitialise("", &status);
        papiAddListener(handle, kComponent, reportEvent, nullptr, &status);
        if (status != PAPISuccess) {
            _exit(2);
        }
        opened.push_back(handle);
    }
    const Record ready{0};
    const ssize_t written = write(reportFd, &ready, sizeof ready);
    static_cast<void>(written);
    for (;;) {
        pause();
    }
}

TestDirectory& directory() {
    static std::unique_ptr<TestDirectory> server;
    if (!server) {
        server = std::make_unique<TestDirectory>(VESK_SCHEMA_LDIF);
        std::string error;
        if (!server->start(error)) {
            throw std::runtime_error(error);
        }
        const std::string base = std::string("ou=bench,") + TestDirectory::kSuffix;
        server->addEntry(base, {{"objectClass", {"organizationalUnit"}}, {"ou", {"bench"}}});
        server->addEntry("ou=default," + base,
                         {{"objectClass", {"organizationalUnit"}}, {"ou", {"default"}}});
        server->addEntry(kLayerDn, {{"objectClass", {"veskLayer"}},
                                    {"cn", {kComponent}},
                                    {"veskLayerData", {"<layer/>"}}});
        setenv("VESK_POLICY_STORE", server->url(base).c_str(), 1);
    }
    return *server;
}

class Fleet {
  public:
    Fleet(int processes, int handles) : mExpected(processes * handles) {
        int fds[2];
        if (pipe(fds) != 0) {
            throw std::runtime_error("pipe");
        }
        mReadFd = fds[0];
        for (int p = 0; p < processes; ++p) {
            const pid_t child = fork();
            if (child == 0) {
                prctl(PR_SET_PDEATHSIG, SIGKILL);
                close(mReadFd);
                runWorker(handles, fds[1]);
            }
            mWorkers.push_back(child);
        }
        close(fds[1]);
        std::vector<Record> ready;
        if (!collect(processes, ready, std::chrono::seconds(120))) {
            throw std::runtime_error("workers did not start listening");
        }
    }
    ~Fleet() {
        for (pid_t worker : mWorkers) {
            kill(worker, SIGKILL);
            waitpid(worker, nullptr, 0);
        }
        close(mReadFd);
    }
    Fleet(const Fleet&) = delete;
    Fleet& operator=(const Fleet&) = delete;

    // One edit; the latency of every handle's callback in milliseconds, sorted.
    std::vector<double> edit(int round) {
        const std::int64_t start = nowNs();
        if (directory().replaceValues(kLayerDn, "veskLayerData",
                                      {"<layer round=\"" + std::to_string(round) + "\"/>"}) != 0) {
            throw std::runtime_error("edit refused");
        }
        std::vector<Record> records;
        if (!collect(mExpected, records, std::chrono::seconds(30))) {
            throw std::runtime_error("not every callback ran");
        }
        std::vector<double> latencies;
        for (const Record& record : records) {
            latencies.push_back(static_cast<double>(record.at - start) / 1e6);
        }
        std::sort(latencies.begin(), latencies.end());
        return latencies;
    }

    pid_t worker() const { return mWorkers.front(); }

  private:
    bool collect(int count, std::vector<Record>& records, std::chrono::seconds timeout) {
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
            records.push_back(record);
        }
        return true;
    }

    int mExpected;
    int mReadFd = -1;
    std::vector<pid_t> mWorkers;
};

double sFloorMaxMs = 0;

void BM_ListenersHearOneEdit(benchmark::State& state) {
    const int processes = static_cast<int>(state.range(0));
    const int handles = static_cast<int>(state.range(1));
    Fleet fleet(processes, handles);
    double medianSum = 0;
    double maxSum = 0;
    double worst = 0;
    int round = 0;
    for (auto _ : state) {
        const std::vector<double> latencies = fleet.edit(++round);
        medianSum += latencies[latencies.size() / 2];
        maxSum += latencies.back();
        worst = std::max(worst, latencies.back());
        state.SetIterationTime(latencies.back() / 1e3);
    }
    const double maxMs = maxSum / round;
    if (processes * handles == 1) {
        sFloorMaxMs = maxMs;
    }
    state.counters["handles"] = processes * handles;
    state.counters["median_ms"] = medianSum / round;
    state.counters["max_ms"] = maxMs;
    state.counters["worst_ms"] = worst;
    state.counters["slapd_rss_kB"] = static_cast<double>(rssKb(directory().pid()));
    state.counters["worker_rss_kB"] = static_cast<double>(rssKb(fleet.worker()));
    if (sFloorMaxMs > 0) {
        state.counters["max_vs_floor"] = maxMs / sFloorMaxMs;
    }
}

// The floor first: one listener alone.
BENCHMARK(BM_ListenersHearOneEdit)
    ->Args({1, 1})
    ->Args({5, 100})
    ->Iterations(10)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    directory();  // before any worker is forked
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
