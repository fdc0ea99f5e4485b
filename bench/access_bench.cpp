// SPDX-License-Identifier: LGPL-2.1-or-later
// getNode on a cached tree against the floor of one hash lookup of the same
// full path text, measured alternately in the same iterations. The tree:
// fan-out 8, five levels of groups, a property at the bottom of each branch
// (about 37 000 nodes), served by the real file store.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <time.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <unordered_map>

#include "RatioRows.h"
#include "access/ConfigurationAccess.h"
#include "model/Node.h"

using namespace vesk::legacy;
namespace fs = std::filesystem;

namespace {

constexpr int kFanOut = 8;
constexpr int kDepth = 5;
const char* kPath = "bench/g3/g5/g1/g7/g2";

void writeGroups(std::ostringstream& out, int depth) {
    for (int i = 0; i < kFanOut; ++i) {
        out << "<node zel:name=\"g" << i << "\">";
        if (depth + 1 < kDepth) {
            writeGroups(out, depth + 1);
        } else {
            out << "<prop zel:name=\"p\"><value>v</value></prop>";
        }
        out << "</node>";
    }
}

struct Fixture {
    Fixture() {
        store = fs::temp_directory_path() / "hollin-access-bench";
        fs::create_directories(store / "default");
        std::ostringstream layer;
        layer << "<zel:component-data zel:name=\"bench\">";
        writeGroups(layer, 0);
        layer << "</zel:component-data>";
        std::ofstream(store / "default" / "bench.xml") << layer.str();
        setenv("VESK_POLICY_STORE", store.c_str(), 1);
        access = std::make_unique<ConfigurationAccess>();
        node = access->getNode(kPath);
        for (int i = 0; i < 40000; ++i) {
            index["bench/g" + std::to_string(i)] = nullptr;
        }
        index[kPath] = node;
    }
    ~Fixture() {
        access.reset();
        fs::remove_all(store);
    }
    fs::path store;
    std::unique_ptr<ConfigurationAccess> access;
    Node* node;
    std::unordered_map<std::string, Node*> index;
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

// Thread CPU time: the machine is shared, and wall time would count the others.
double cpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Floor and getNode alternate in batches within each iteration, so that a
// busy spell of the machine weighs on both alike; the counter "ratio" is
// getNode time over floor time.
void measure(benchmark::State& state, const std::string& path, bool found) {
    constexpr int kBatch = 2000;
    Fixture& f = fixture();
    if ((f.access->getNode(path) != nullptr) != found) {
        state.SkipWithError("the path is not as the benchmark expects");
    }
    double floor = 0;
    double ours = 0;
    for (auto _ : state) {
        const double t0 = cpuSeconds();
        for (int i = 0; i < kBatch; ++i) {
            benchmark::DoNotOptimize(f.index.find(path));
        }
        const double t1 = cpuSeconds();
        for (int i = 0; i < kBatch; ++i) {
            benchmark::DoNotOptimize(f.access->getNode(path));
        }
        const double t2 = cpuSeconds();
        floor += t1 - t0;
        ours += t2 - t1;
        state.SetIterationTime(t2 - t1);
    }
    const double lookups = static_cast<double>(state.iterations()) * kBatch;
    state.counters["ns"] = ours * 1e9 / lookups;
    state.counters["floor_ns"] = floor * 1e9 / lookups;
    state.counters["ratio"] = floor > 0 ? ours / floor : 0;
}

// A path read before.
void BM_GetNode(benchmark::State& state) {
    measure(state, kPath, true);
}
BENCHMARK(BM_GetNode)->UseManualTime()->Unit(benchmark::kMicrosecond);

// A path that is missing below the node above: the five-level walk that a
// first read takes, every time.
void BM_GetNodeWalk(benchmark::State& state) {
    measure(state, std::string(kPath) + "/x", false);
}
BENCHMARK(BM_GetNodeWalk)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioRows rows(
        {{"BM_GetNode/manual_time", "getNode 5 deep / unordered_map full-path lookup", 4},
         {"BM_GetNodeWalk/manual_time", "getNode walk, missing 6th name / the same", 6}});
    benchmark::RunSpecifiedBenchmarks(&rows);
    benchmark::Shutdown();
    return 0;
}
