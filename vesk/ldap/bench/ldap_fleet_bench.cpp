// SPDX-License-Identifier: LGPL-2.1-or-later
// A fleet of desktops on a replicated directory: W worker processes with H
// listening handles each, half of the processes listing the first consumer
// first and half the second, on a provider with two consumers (TestFleet).
// Phase one makes one edit on the provider and times until every handle's
// callback has ran (median, worst, against the floor of one listener measured
// the same way), with the memory each handle costs and the consumers' CPU
// time. Phase two stops the first consumer, makes an edit at once, starts the
// consumer again, and times until every handle has been told of it; it counts
// the handles that reconnected and the peak rate of new connections each
// consumer accepted (from the growth of its established sockets).
//
//   bench_ldap_fleet                                  # 1 x 1 (floor), 10 x 50, 10 x 500
//   bench_ldap_fleet --benchmark_filter=/10/50/       # the small fleet only
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "TestFleet.h"
#include "WorkerProcesses.h"
#include "papi.h"

using bench::nowNs;
using bench::rssKb;
using vesk::legacy::store::test::TestDirectory;
using vesk::legacy::store::test::TestFleet;

namespace {

const char kComponent[] = "org.bench";
const std::string kBase = std::string("ou=bench,") + TestDirectory::kSuffix;
const std::string kLayerDn = std::string("cn=org.bench,ou=default,") + kBase;

// User and system CPU time of a process in seconds.
double cpuSeconds(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), {});
    const size_t close = text.rfind(')');
    if (close == std::string::npos) {
        return 0;
    }
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    double ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14 || i == 15) {
            ticks += std::stod(field);
        }
    }
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// Established connections whose local end is the port (a server's side),
// counted by ss, which filters in the kernel: /proc/net/tcp takes seconds to
// read with 10 000 sockets.
int establishedOn(int port) {
    const std::string command =
        "ss -Htn state established '( sport = :" + std::to_string(port) + " )' 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return 0;
    }
    int count = 0;
    for (int c; (c = fgetc(pipe)) != EOF;) {
        count += c == '\n';
    }
    pclose(pipe);
    return count;
}

int portOf(const std::string& url) {
    const size_t colon = url.rfind(':');
    return std::stoi(url.substr(colon + 1));
}

// What a worker reports.
struct Record {
    enum Kind : std::int32_t { Ready, Event, Connected };
    std::int64_t at;
    Kind kind;
    std::int32_t value;  // Ready: the worker's memory for its handles in kB
};

int sReportFd = -1;

void report(Record::Kind kind, std::int32_t value = 0) {
    bench::sendRecord(sReportFd, Record{nowNs(), kind, value});
}

void reportEvent(const PAPIEvent*, void*) {
    report(Record::Event);
}

void reportState(PAPIConnectionState state, void*) {
    if (state == PAPIConnected) {
        report(Record::Connected);
    }
}

// One worker process: opens its handles on the store given, listens, says it
// is ready with the memory they took, waits.
[[noreturn]] void runWorker(int handles, const std::string& store, int reportFd) {
    sReportFd = reportFd;
    setenv("VESK_POLICY_STORE", store.c_str(), 1);
    const long before = rssKb(getpid());
    std::vector<PAPI*> opened;
    for (int i = 0; i < handles; ++i) {
        PAPIStatus status = -1;
        PAPI* handle = papiInitialiseWithListener("", reportState, nullptr, &status);
        papiAddListener(handle, kComponent, reportEvent, nullptr, &status);
        if (status != PAPISuccess) {
            _exit(2);
        }
        opened.push_back(handle);
    }
    report(Record::Ready, static_cast<std::int32_t>(rssKb(getpid()) - before));
    for (;;) {
        pause();
    }
}

TestFleet& fleet() {
    static std::unique_ptr<TestFleet> servers;
    if (!servers) {
        servers = std::make_unique<TestFleet>(VESK_SCHEMA_LDIF);
        std::string error;
        if (!servers->start(error)) {
            throw std::runtime_error(error);
        }
        TestDirectory& provider = servers->provider();
        provider.addEntry(kBase, {{"objectClass", {"organizationalUnit"}}, {"ou", {"bench"}}});
        provider.addEntry("ou=default," + kBase,
                          {{"objectClass", {"organizationalUnit"}}, {"ou", {"default"}}});
        provider.addEntry(kLayerDn, {{"objectClass", {"veskLayer"}},
                                     {"cn", {kComponent}},
                                     {"veskLayerData", {"<layer/>"}}});
        if (!servers->replicated(kLayerDn, "veskLayerData", "<layer/>", std::chrono::seconds(30))) {
            throw std::runtime_error("the consumers did not replicate");
        }
    }
    return *servers;
}

// The desktops: processes alternate between the two consumers as their nearest.
class Desktops {
  public:
    Desktops(int processes, int handles)
        : mHandles(processes * handles), mWorkers(processes, [handles](int index, int reportFd) {
              runWorker(handles,
                        fleet().consumer(index % 2).url("") + " " +
                            fleet().consumer(1 - index % 2).url(kBase),
                        reportFd);
          }) {
        std::vector<Record> ready;
        if (!collect(Record::Ready, processes, ready, std::chrono::seconds(600))) {
            throw std::runtime_error("workers did not start listening (" +
                                     std::to_string(ready.size()) + " of " +
                                     std::to_string(processes) + ")");
        }
        for (const Record& record : ready) {
            mMemoryKb += record.value;
        }
    }

    // Waits for count records of the kind, other kinds counted aside.
    bool collect(Record::Kind kind, int count, std::vector<Record>& records,
                 std::chrono::seconds timeout) {
        return mWorkers.collect(count, records, timeout, [&](const Record& record) {
            if (record.kind != kind) {
                ++mOther[record.kind];
            }
            return record.kind == kind;
        });
    }
    int other(Record::Kind kind) { return mOther[kind]; }
    int handles() const { return mHandles; }
    double memoryKbPerHandle() const { return static_cast<double>(mMemoryKb) / mHandles; }

  private:
    int mHandles;
    long mMemoryKb = 0;
    bench::WorkerProcesses<Record> mWorkers;
    std::map<int, int> mOther;
};

void edit(const std::string& value) {
    if (fleet().provider().replaceValues(kLayerDn, "veskLayerData", {value}) != 0) {
        throw std::runtime_error("edit refused");
    }
}

double sFloorMaxMs = 0;

void BM_FleetHearsOneEditOnTheProvider(benchmark::State& state) {
    const int processes = static_cast<int>(state.range(0));
    const int handles = static_cast<int>(state.range(1));
    Desktops desktops(processes, handles);
    std::vector<pid_t> consumers{fleet().consumer(0).pid(), fleet().consumer(1).pid()};
    double medianSum = 0;
    double maxSum = 0;
    double worst = 0;
    double consumerCpu = 0;
    int round = 0;
    for (auto _ : state) {
        const double cpuBefore = cpuSeconds(consumers[0]) + cpuSeconds(consumers[1]);
        const std::int64_t start = nowNs();
        edit("<layer round=\"" + std::to_string(++round) + "\"/>");
        std::vector<Record> events;
        if (!desktops.collect(Record::Event, desktops.handles(), events,
                              std::chrono::seconds(60))) {
            throw std::runtime_error("not every callback ran: " + std::to_string(events.size()));
        }
        const std::vector<double> times = bench::latenciesMs(events, start);
        consumerCpu += cpuSeconds(consumers[0]) + cpuSeconds(consumers[1]) - cpuBefore;
        medianSum += times[times.size() / 2];
        maxSum += times.back();
        worst = std::max(worst, times.back());
        state.SetIterationTime(times.back() / 1e3);
    }
    const double maxMs = maxSum / round;
    if (processes * handles == 1) {
        sFloorMaxMs = maxMs;
    }
    state.counters["handles"] = desktops.handles();
    state.counters["median_ms"] = medianSum / round;
    state.counters["max_ms"] = maxMs;
    state.counters["worst_ms"] = worst;
    state.counters["kB_per_handle"] = desktops.memoryKbPerHandle();
    state.counters["consumers_cpu_ms_per_edit"] = consumerCpu * 1e3 / round;
    state.counters["consumer_rss_kB"] = static_cast<double>(rssKb(consumers[0]));
    if (sFloorMaxMs > 0) {
        state.counters["max_vs_floor"] = maxMs / sFloorMaxMs;
    }
}

// The first consumer restarts under its desktops; an edit made at once must
// reach every handle, of both consumers, and each moved one must reconnect.
void BM_ConsumerRestartsUnderItsDesktops(benchmark::State& state) {
    const int processes = static_cast<int>(state.range(0));
    const int handles = static_cast<int>(state.range(1));
    Desktops desktops(processes, handles);
    TestDirectory& restarted = fleet().consumer(0);
    const std::vector<int> ports{
        portOf(restarted.url("").substr(0, restarted.url("").size() - 1)),
        portOf(fleet().consumer(1).url("").substr(0, fleet().consumer(1).url("").size() - 1))};
    int round = 0;
    for (auto _ : state) {
        // New connections in any one second on each consumer, sampled every
        // 100 ms from before the stop until the handles have moved and been told.
        std::atomic<bool> done{false};
        std::vector<int> peak{0, 0};
        std::thread sampler([&] {
            // (when, count) per consumer; the growth against the oldest sample
            // at most a second old.
            std::vector<std::vector<std::pair<std::chrono::steady_clock::time_point, int>>> samples(
                2);
            while (!done) {
                for (size_t i = 0; i < 2; ++i) {
                    const int established = establishedOn(ports[i]);
                    const auto now = std::chrono::steady_clock::now();
                    samples[i].emplace_back(now, established);
                    for (const auto& [when, count] : samples[i]) {
                        if (now - when <= std::chrono::seconds(1)) {
                            peak[i] = std::max(peak[i], samples[i].back().second - count);
                            break;
                        }
                    }
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(300));  // a sample before
        const int before = desktops.other(Record::Connected);
        const std::int64_t start = nowNs();
        restarted.stop();
        edit("<restart round=\"" + std::to_string(++round) + "\"/>");
        std::string error;
        if (!restarted.start(error)) {
            throw std::runtime_error(error);
        }
        std::vector<Record> events;
        const bool told =
            desktops.collect(Record::Event, desktops.handles(), events, std::chrono::seconds(60));
        std::this_thread::sleep_for(std::chrono::seconds(3));  // connections still coming
        done = true;
        sampler.join();
        if (!told) {
            throw std::runtime_error("not every handle was told: " + std::to_string(events.size()));
        }
        const std::vector<double> times = bench::latenciesMs(events, start);
        // Those whose state callback has not run yet get the rest of 30 s.
        const int moved = desktops.other(Record::Connected) - before;
        std::vector<Record> connected;
        desktops.collect(Record::Connected, std::max(0, desktops.handles() / 2 - moved), connected,
                         std::chrono::seconds(30));
        state.SetIterationTime(times.back() / 1e3);
        state.counters["all_told_ms"] = times.back();
        state.counters["median_ms"] = times[times.size() / 2];
        state.counters["reconnected"] = moved + static_cast<int>(connected.size());
        state.counters["peak_new_conn_per_s_restarted"] = peak[0];
        state.counters["peak_new_conn_per_s_other"] = peak[1];
    }
    state.counters["handles"] = desktops.handles();
}

// The floor first: one listener alone.
BENCHMARK(BM_FleetHearsOneEditOnTheProvider)
    ->Args({1, 1})
    ->Args({10, 50})
    ->Args({10, 500})
    ->Iterations(5)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConsumerRestartsUnderItsDesktops)
    ->Args({10, 50})
    ->Args({10, 500})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    fleet();  // before any worker is forked
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
