// SPDX-License-Identifier: LGPL-2.1-or-later
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
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "TestDirectory.h"
#include "WorkerProcesses.h"
#include "papi.h"

using bench::nowNs;
using bench::rssKb;
using vesk::legacy::store::test::TestDirectory;

namespace {

const char kComponent[] = "org.bench";
const std::string kLayerDn =
    std::string("cn=org.bench,ou=default,ou=bench,") + TestDirectory::kSuffix;

// What a callback reports: when it ran (readiness is reported as time 0).
struct Record {
    std::int64_t at;
};

int sReportFd = -1;

void reportEvent(const PAPIEvent*, void*) {
    bench::sendRecord(sReportFd, Record{nowNs()});
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
    bench::sendRecord(reportFd, Record{0});
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
    Fleet(int processes, int handles)
        : mExpected(processes * handles),
          mWorkers(processes, [handles](int, int reportFd) { runWorker(handles, reportFd); }) {
        std::vector<Record> ready;
        if (!mWorkers.collect(processes, ready, std::chrono::seconds(120))) {
            throw std::runtime_error("workers did not start listening");
        }
    }

    // One edit; the latency of every handle's callback in milliseconds, sorted.
    std::vector<double> edit(int round) {
        const std::int64_t start = nowNs();
        if (directory().replaceValues(kLayerDn, "veskLayerData",
                                      {"<layer round=\"" + std::to_string(round) + "\"/>"}) != 0) {
            throw std::runtime_error("edit refused");
        }
        std::vector<Record> records;
        if (!mWorkers.collect(mExpected, records, std::chrono::seconds(30))) {
            throw std::runtime_error("not every callback ran");
        }
        return bench::latenciesMs(records, start);
    }

    pid_t worker() const { return mWorkers.first(); }

  private:
    int mExpected;
    bench::WorkerProcesses<Record> mWorkers;
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
