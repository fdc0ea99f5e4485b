// SPDX-License-Identifier: LGPL-2.1-or-later
// The file helpers every test folder needs: a scratch folder of the test's
// own, whole-file reads and writes, a sorted folder listing and a wait with a
// generous deadline (tests wait for what they expect, they do not time it).
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

// A fresh folder (under /tmp unless another parent is given), removed with
// all it holds when the test is over (by the process that made it: a forked
// child leaves it alone).
class TempDir {
  public:
    explicit TempDir(const std::string& prefix = "hollin-test",
                     const std::string& parent = "/tmp") {
        std::string pattern = parent + "/" + prefix + "-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("cannot make a scratch folder " + pattern);
        }
        path = pattern;
    }
    ~TempDir() {
        if (getpid() == mOwner) {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        }
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string operator/(const std::string& name) const { return path + "/" + name; }
    operator std::filesystem::path() const { return path; }

    std::string path;

  private:
    pid_t mOwner = getpid();
};

// The whole file; empty when it cannot be read.
inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Through a rename, so that a watcher never sees half a file.
inline void writeFile(const std::string& path, const std::string& text) {
    std::ofstream(path + ".part", std::ios::binary) << text;
    std::filesystem::rename(path + ".part", path);
}

// The names in a folder, sorted; none when it cannot be read.
inline std::vector<std::string> listDir(const std::string& dir) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(dir, error)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Whether the condition came true before the deadline.
inline bool waitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds deadline = std::chrono::seconds(20)) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (!condition() && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return condition();
}

}  // namespace testsupport
