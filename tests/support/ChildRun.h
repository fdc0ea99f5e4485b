// SPDX-License-Identifier: LGPL-2.1-or-later
// Runs work in a forked child and reports how it ended, its peak resident
// memory and its wall time, so that a test can bound what one call costs
// without the test process's own history in the figures.
//
//   const ChildRun run = ChildRun::of([] { return readHugeLayer() ? 0 : 1; });
//   EXPECT_LE(run.peakBytes, 10 * size + (50 << 20));
#pragma once

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <functional>

struct ChildRun {
    int exitStatus = -1;  // -1 when the child did not exit (a signal, or no child)
    size_t peakBytes = 0;
    double seconds = 0;

    // work's result becomes the exit status; the child never returns into the test.
    static ChildRun of(const std::function<int()>& work) {
        ChildRun run;
        const auto start = std::chrono::steady_clock::now();
        const pid_t child = fork();
        if (child == 0) {
            _exit(work());
        }
        int status = 0;
        struct rusage usage = {};
        if (child < 0 || wait4(child, &status, 0, &usage) != child) {
            return run;
        }
        run.seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        run.peakBytes = static_cast<size_t>(usage.ru_maxrss) * 1024;
        run.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return run;
    }
};
