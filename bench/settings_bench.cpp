// SPDX-License-Identifier: LGPL-2.1-or-later
// Settings through dconf: a layer edit until a running session's
// `gsettings monitor` reports the new value (hollin-dconf follow noticing the
// edit, merging, compiling and signalling), against `dconf update` alone
// compiling the same key file as the floor. Runs inside the world that
// bench/settings-bench.sh makes (root, a private namespace and system bus).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "RatioRows.h"

namespace {

constexpr int kRounds = 20;

std::string env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

void writeFile(const std::string& path, const std::string& text) {
    const std::string temporary = path + ".new";
    std::ofstream(temporary) << text;
    std::rename(temporary.c_str(), path.c_str());
}

bool fileHas(const std::string& path, const std::string& text) {
    std::ifstream in(path);
    std::stringstream content;
    content << in.rdbuf();
    return content.str().find(text) != std::string::npos;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

std::string layer(int delay) {
    return "<zel:component-data xmlns:zel=\"urn:vesk:policy-layer\" "
           "zel:name=\"com.orvek.ferrun.settings\"><node zel:name=\"org\"><node "
           "zel:name=\"gnome\"><node zel:name=\"desktop\"><node zel:name=\"screensaver\"><prop "
           "zel:name=\"lock-delay\" zel:type=\"xs:int\" zel:finalized=\"true\"><value>" +
           std::to_string(delay) +
           "</value></prop></node></node></node></node>"
           "</zel:component-data>\n";
}

void BM_EditToRunningSession(benchmark::State& state) {
    const std::string store = env("VESK_POLICY_STORE");
    const std::string monitor = env("HOLLIN_BENCH_MONITOR");
    std::vector<double> edits, floors;
    int delay = 1000;
    for (auto _ : state) {
        ++delay;
        // The floor: dconf update compiling the key file hollin-dconf writes.
        writeFile(
            "/etc/dconf/db/floor.d/hollin",
            "[org/gnome/desktop/screensaver]\nlock-delay=uint32 " + std::to_string(delay) + "\n");
        auto start = std::chrono::steady_clock::now();
        if (std::system("dconf update") != 0) {
            state.SkipWithError("dconf update failed");
            break;
        }
        floors.push_back(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());

        start = std::chrono::steady_clock::now();
        writeFile(store + "/default/com.orvek.ferrun.settings.xml", layer(delay));
        const std::string expected = "uint32 " + std::to_string(delay);
        const auto deadline = start + std::chrono::seconds(10);
        while (!fileHas(monitor, expected)) {
            if (std::chrono::steady_clock::now() > deadline) {
                state.SkipWithError("the running session did not report the edit in 10 s");
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        edits.push_back(seconds);
        state.SetIterationTime(seconds);
    }
    if (!edits.empty()) {
        state.counters["edit_ms"] = median(edits) * 1000;
        state.counters["floor_ms"] = median(floors) * 1000;
        state.counters["ratio"] = median(edits) / median(floors);
    }
}
BENCHMARK(BM_EditToRunningSession)
    ->Iterations(kRounds)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioRows rows({{"BM_EditToRunningSession/iterations:20/manual_time",
                     "layer edit to a running session / dconf update (median of 20)", 10.0}});
    benchmark::RunSpecifiedBenchmarks(&rows);
    return 0;
}
