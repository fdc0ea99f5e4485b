// SPDX-License-Identifier: LGPL-2.1-or-later
// Reading a stack of three large layers (8 MiB each) from the real file store,
// against the floor of reading the same files into strings. Two routes: the
// one PolicyAccess takes (each text crosses into libhollin once) and the
// route through the service's list, copied into PapiLayer and again into
// PolicyLayer, which PolicyAccess took before. Both are measured alternately
// with the floor in the same iterations; "ratio" is route time over floor time.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "RatioRows.h"
#include "policy/PolicyAccess.h"

using namespace vesk::legacy;
namespace fs = std::filesystem;

namespace {

constexpr size_t kLayerBytes = 8 << 20;
const char* kEntity = "kiosk.default";

struct Fixture {
    Fixture() {
        store = fs::temp_directory_path() / "hollin-policy-bench";
        char host[256] = "";
        gethostname(host, sizeof host - 1);
        for (const std::string scope : {std::string("default"), "hosts/" + std::string(host),
                                        "entities/" + std::string(kEntity)}) {
            fs::create_directories(store / scope);
            files.push_back(store / scope / "bench.xml");
            std::ofstream(files.back()) << "<group>" << std::string(kLayerBytes, 'x') << "</group>";
        }
        setenv("VESK_POLICY_STORE", store.c_str(), 1);
        path.setPath("bench");
        access = std::make_unique<PolicyAccess>(kEntity);
        PAPIStatus status = 0;
        handle = papiInitialise(kEntity, &status);
    }
    ~Fixture() {
        PAPIStatus status = 0;
        papiDeinitialise(handle, &status);
        access.reset();
        fs::remove_all(store);
    }
    fs::path store;
    std::vector<fs::path> files;
    NodePath path;
    std::unique_ptr<PolicyAccess> access;
    PAPI* handle = nullptr;
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

size_t readFiles() {
    size_t bytes = 0;
    for (const fs::path& file : fixture().files) {
        const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
        std::string text(static_cast<size_t>(fs::file_size(file)), '\0');
        const ssize_t got = read(fd, &text[0], text.size());
        close(fd);
        bytes += got > 0 ? static_cast<size_t>(got) : 0;
        benchmark::DoNotOptimize(text.data());
    }
    return bytes;
}

void measure(benchmark::State& state, const std::function<size_t()>& route) {
    if (route() != readFiles()) {
        state.SkipWithError("the route does not read the whole stack");
    }
    double floor = 0;
    double ours = 0;
    for (auto _ : state) {
        const double t0 = threadCpuSeconds();
        benchmark::DoNotOptimize(readFiles());
        const double t1 = threadCpuSeconds();
        benchmark::DoNotOptimize(route());
        const double t2 = threadCpuSeconds();
        floor += t1 - t0;
        ours += t2 - t1;
        state.SetIterationTime(t2 - t1);
    }
    state.counters["ratio"] = floor > 0 ? ours / floor : 0;
}

void BM_PolicyLayers(benchmark::State& state) {
    measure(state, [] {
        std::vector<PolicyLayer> layers;
        fixture().access->getPolicyLayers(fixture().path, layers);
        size_t bytes = 0;
        for (const PolicyLayer& layer : layers) {
            bytes += layer.getLayer().getText().size();
        }
        return bytes;
    });
}
BENCHMARK(BM_PolicyLayers)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_PolicyLayersThroughTheList(benchmark::State& state) {
    measure(state, [] {
        PAPIStatus status = 0;
        PAPILayerEntry* list = papiReadComponentLayers(fixture().handle, "bench", &status);
        std::vector<PapiLayer> read;
        for (const PAPILayerEntry* entry = list; entry != nullptr; entry = entry->next) {
            read.emplace_back(entry->data, entry->size, entry->stamp);
        }
        papiFreeLayerList(list);
        std::vector<PolicyLayer> layers;
        for (const PapiLayer& layer : read) {
            layers.emplace_back(fixture().path, layer);
        }
        size_t bytes = 0;
        for (const PolicyLayer& layer : layers) {
            bytes += layer.getLayer().getText().size();
        }
        return bytes;
    });
}
BENCHMARK(BM_PolicyLayersThroughTheList)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioRows rows(
        {{"BM_PolicyLayers/manual_time", "3 x 8 MiB layers via PolicyAccess / file reads", 2.6},
         {"BM_PolicyLayersThroughTheList/manual_time",
          "the route before: the list and two copies / file reads", 50}});
    benchmark::RunSpecifiedBenchmarks(&rows);
    benchmark::Shutdown();
    return 0;
}
