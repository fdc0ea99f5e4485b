// getNode on a cached tree against the floor of one hash lookup of the same
// full path text. The tree: fan-out 8, five levels of groups, a property at
// the bottom of each branch (about 37 000 nodes), served by the real file store.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <unordered_map>
#include <vector>

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

void BM_HashLookupFloor(benchmark::State& state) {
    Fixture& f = fixture();
    const std::string path = kPath;
    for (auto _ : state) {
        benchmark::DoNotOptimize(f.index.find(path)->second);
    }
}
BENCHMARK(BM_HashLookupFloor);

void BM_GetNode(benchmark::State& state) {
    Fixture& f = fixture();
    const std::string path = kPath;
    if (f.access->getNode(path) == nullptr) {
        state.SkipWithError("path not found");
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(f.access->getNode(path));
    }
}
BENCHMARK(BM_GetNode);

// Prints getNode / floor after the runs, in CPU time (the machine is shared),
// for single runs and for each aggregate of repeated ones.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            const std::string name = run.benchmark_name();
            const std::string suffix = run.aggregate_name.empty() ? "" : "_" + run.aggregate_name;
            if (run.aggregate_name.empty() || run.aggregate_name == "mean" ||
                run.aggregate_name == "median") {
                times[name.substr(0, name.size() - suffix.size())][suffix] =
                    run.GetAdjustedCPUTime();
            }
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        for (const auto& [suffix, floor] : times["BM_HashLookupFloor"]) {
            auto getNode = times["BM_GetNode"].find(suffix);
            if (floor > 0 && getNode != times["BM_GetNode"].end()) {
                std::printf("getNode / hash lookup floor%s: %.2f\n", suffix.c_str(),
                            getNode->second / floor);
            }
        }
    }
    std::map<std::string, std::map<std::string, double>> times;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
