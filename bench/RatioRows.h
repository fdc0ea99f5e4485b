// SPDX-License-Identifier: LGPL-2.1-or-later
// A console reporter that ends a benchmark program with one line per goal: the
// "ratio" counter of the named benchmark (the median when runs are repeated),
// next to the goal it is held against.
//
//   RatioRows rows({{"BM_GetNode/manual_time", "getNode 5 deep / hash lookup", 4.0}});
//   benchmark::RunSpecifiedBenchmarks(&rows);
#pragma once

#include <benchmark/benchmark.h>
#include <time.h>

#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

// Thread CPU time, for the floor and the measured code alike: the machine is
// shared, and wall time would count the others.
inline double threadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

class RatioRows : public benchmark::ConsoleReporter {
  public:
    struct Row {
        std::string benchmark;  // run name, without the aggregate suffix
        std::string label;
        double goal;  // the ratio must stay at or below it
    };

    explicit RatioRows(std::vector<Row> rows) : mRows(std::move(rows)) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            auto ratio = run.counters.find("ratio");
            if (ratio == run.counters.end()) {
                continue;
            }
            // A single run counts until the median of repeated ones arrives.
            const std::string name = run.run_name.str();
            if (run.aggregate_name.empty() ? mRatios.count(name) == 0
                                           : run.aggregate_name == "median") {
                mRatios[name] = ratio->second.value;
            }
        }
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        for (const Row& row : mRows) {
            auto found = mRatios.find(row.benchmark);
            if (found == mRatios.end()) {
                continue;  // filtered out
            }
            std::printf("%-60s %6.2f  (goal <= %.1f%s)\n", row.label.c_str(), found->second,
                        row.goal, found->second <= row.goal ? "" : ", missed");
        }
        std::fflush(stdout);
    }

  private:
    std::vector<Row> mRows;
    std::map<std::string, double> mRatios;
};
