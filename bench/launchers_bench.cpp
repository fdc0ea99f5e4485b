// SPDX-License-Identifier: LGPL-2.1-or-later
// Latency from writing a launcher policy file to the last step of the launcher
// rewrite (the old launcher file gone, the new set in place), over 20 edits,
// with deskrunner running as in a session. Floor: the same write to the
// notification of a bare listener in this process, which is the policy
// service's delivery delay plus the tree rebuild and comparison. Also the
// rebuilds that one burst of edits causes. Run
// bench_launchers from the build's bin folder, next to deskrunner.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "access/ConfigurationAccess.h"
#include "change/INodeListener.h"
#include "model/NodePath.h"

using namespace vesk::legacy;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kEdits = 20;
// Edits an administrator makes one at a time, not one burst: further apart
// than the policy service's quiet period (the burst has a measure of its own).
constexpr std::chrono::milliseconds kApart(150);
const char kList[] = "com.orvek.ferrun.applications/launcher_list";

std::string readFile(const fs::path& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Edit n: launcher "fixed" runs v<n>, and launcher l<n> replaces l<n-1>.
std::string layer(int n) {
    const std::string version = std::to_string(n);
    return "<zel:component-data xmlns:zel=\"urn:vesk:policy-layer\" "
           "zel:name=\"com.orvek.ferrun.applications\"><node zel:name=\"launcher_list\">"
           "<node zel:name=\"fixed\"><prop zel:name=\"Name\"><value>Fixed</value></prop>"
           "<prop zel:name=\"Exec\"><value>v" +
           version +
           "</value></prop></node>"
           "<node zel:name=\"l" +
           version +
           "\"><prop zel:name=\"Name\"><value>L</value></prop></node>"
           "</node></zel:component-data>";
}

struct Scratch {
    Scratch() {
        char name[] = "/tmp/launchers-bench-XXXXXX";
        root = mkdtemp(name);
        fs::create_directories(root / "store" / "default");
        fs::create_directories(root / "home" / "Desktop");
        edit(0);
    }
    ~Scratch() { fs::remove_all(root); }
    // As an administrator's tool would: the whole file renamed into place.
    void edit(int n) const {
        const fs::path file = root / "store" / "default" / "com.orvek.ferrun.applications.xml";
        std::ofstream(file.string() + ".new") << layer(n);
        fs::rename(file.string() + ".new", file);
    }
    bool rewritten(int n) const {
        const fs::path desktop = root / "home" / "Desktop";
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(desktop)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        const std::string version = std::to_string(n);
        return names ==
                   std::vector<std::string>{"MERXfixed.desktop", "MERXl" + version + ".desktop"} &&
               readFile(desktop / "MERXfixed.desktop").find("Exec=v" + version + "\n") !=
                   std::string::npos;
    }
    fs::path root;
};

std::map<std::string, std::vector<double>> sSamples;  // milliseconds per benchmark

void record(benchmark::State& state, const char* name, std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    if (!samples.empty()) {
        state.counters["median_ms"] = samples[samples.size() / 2];
        state.counters["max_ms"] = samples.back();
    }
    sSamples[name] = samples;
}

class ListNotice : public INodeListener {
  public:
    void onNodeAdded(const NodePath& path) override { notice(path); }
    void onNodeRemoved(const NodePath& path) override { notice(path); }
    void onNodeChanged(const NodePath& path) override { notice(path); }

    // Waits for the list's own report, the last of a change.
    bool wait(Clock::time_point& at) {
        std::unique_lock<std::mutex> lock(mMutex);
        const bool seen = mSeen.wait_for(lock, std::chrono::seconds(5), [&] { return mCount > 0; });
        mCount = 0;
        at = mAt;
        return seen;
    }

    // Reports since the last call.
    int take() {
        std::lock_guard<std::mutex> lock(mMutex);
        const int count = mCount;
        mCount = 0;
        return count;
    }

  private:
    void notice(const NodePath& path) {
        if (path.getNames().size() != 1) {
            return;
        }
        std::lock_guard<std::mutex> lock(mMutex);
        mAt = Clock::now();
        ++mCount;
        mSeen.notify_all();
    }
    std::mutex mMutex;
    std::condition_variable mSeen;
    int mCount = 0;
    Clock::time_point mAt;
};

// Runs each iteration of the benchmark on a scratch store whose list a
// listener follows: iteration(scratch, access, listener, n) with n the number
// of edits so far, which it counts on; false ends the run.
template <typename Iteration>
void onListenedList(benchmark::State& state, Iteration iteration) {
    Scratch scratch;
    setenv("VESK_POLICY_STORE", (scratch.root / "store").c_str(), 1);
    ConfigurationAccess access;
    ListNotice listener;
    NodePath list;
    list.setPath(kList);
    access.addListener(list, &listener);
    int n = 0;
    for (auto _ : state) {
        if (!iteration(scratch, access, listener, n)) {
            break;
        }
    }
    access.removeListener(list, &listener);
}

void BM_NotificationFloor(benchmark::State& state) {
    std::vector<double> samples;
    onListenedList(state,
                   [&](Scratch& scratch, ConfigurationAccess&, ListNotice& listener, int& n) {
                       std::this_thread::sleep_for(kApart);
                       const Clock::time_point written = Clock::now();
                       scratch.edit(++n);
                       Clock::time_point notified;
                       if (!listener.wait(notified)) {
                           state.SkipWithError("no notification within 5 s");
                           return false;
                       }
                       const std::chrono::duration<double> took = notified - written;
                       state.SetIterationTime(took.count());
                       samples.push_back(took.count() * 1000);
                       return true;
                   });
    record(state, "floor", samples);
}
BENCHMARK(BM_NotificationFloor)->Iterations(kEdits)->UseManualTime()->Unit(benchmark::kMillisecond);

// Rebuilds per burst: 10 edits within about 50 ms, then quiet; each rebuild
// that sees a new list reports it. The last report must show the final edit.
void BM_BurstEvents(benchmark::State& state) {
    std::vector<double> counts;
    onListenedList(
        state, [&](Scratch& scratch, ConfigurationAccess& access, ListNotice& listener, int& n) {
            for (int i = 0; i < 10; ++i) {
                scratch.edit(++n);
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1500));
            counts.push_back(listener.take());
            if (access.getNode(std::string(kList) + "/l" + std::to_string(n)) == nullptr) {
                state.SkipWithError("the last tree is not the final one");
                return false;
            }
            return true;
        });
    record(state, "burst", counts);
}
BENCHMARK(BM_BurstEvents)->Iterations(5)->Unit(benchmark::kMillisecond);

fs::path deskrunnerPath() {
    return fs::read_symlink("/proc/self/exe").parent_path() / "deskrunner";
}

void BM_LauncherRewrite(benchmark::State& state) {
    const fs::path program = deskrunnerPath();
    if (!fs::exists(program)) {
        state.SkipWithError("deskrunner is not built next to this benchmark");
        return;
    }
    Scratch scratch;
    const std::string home = "HOME=" + (scratch.root / "home").string();
    const std::string store = "VESK_POLICY_STORE=" + (scratch.root / "store").string();
    const pid_t pid = fork();
    if (pid == 0) {
        std::string path = program.string();
        char* argv[] = {&path[0], nullptr};
        std::vector<std::string> env = {home, store};
        char* envp[] = {&env[0][0], &env[1][0], nullptr};
        execve(argv[0], argv, envp);
        _exit(127);
    }
    // The first rewrite shows that deskrunner is up; its listener is
    // registered right after it.
    const Clock::time_point started = Clock::now();
    while (!scratch.rewritten(0) && Clock::now() - started < std::chrono::seconds(5)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::vector<double> samples;
    int n = 0;
    for (auto _ : state) {
        std::this_thread::sleep_for(kApart);
        const Clock::time_point written = Clock::now();
        scratch.edit(++n);
        while (!scratch.rewritten(n)) {
            if (Clock::now() - written > std::chrono::seconds(5)) {
                state.SkipWithError("no rewrite within 5 s");
                break;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
        const std::chrono::duration<double> took = Clock::now() - written;
        state.SetIterationTime(took.count());
        samples.push_back(took.count() * 1000);
    }
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    record(state, "rewrite", samples);
}
BENCHMARK(BM_LauncherRewrite)->Iterations(kEdits)->UseManualTime()->Unit(benchmark::kMillisecond);

double median(const std::vector<double>& sorted) {
    return sorted.empty() ? 0 : sorted[sorted.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    const std::vector<double>& floor = sSamples["floor"];
    const std::vector<double>& rewrite = sSamples["rewrite"];
    const std::vector<double>& burst = sSamples["burst"];
    if (!burst.empty()) {
        std::printf("rebuilds per burst of 10 edits in 50 ms: median %.0f, max %.0f over %zu\n",
                    median(burst), burst.back(), burst.size());
    }
    if (!floor.empty() && !rewrite.empty()) {
        std::printf(
            "write -> launchers rewritten: median %.1f ms, max %.1f ms over %zu edits\n"
            "write -> bare notification (floor): median %.1f ms, max %.1f ms\n"
            "rewrite / floor (medians): %.2f\n",
            median(rewrite), rewrite.back(), rewrite.size(), median(floor), floor.back(),
            median(rewrite) / median(floor));
    }
    return 0;
}
