// Helpers of the launcher and deskrunner tests: scratch folders, files, the
// log as text, the desktop entry validator and waiting for change events.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "model/Logger.h"

namespace launchertest {

using Names = std::vector<std::string>;

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

inline std::string golden(const std::string& name) {
    return readFile(std::string(HOLLIN_SOURCE_DIR) + "/plugins/vantor/tests/data/" + name);
}

inline Names listDir(const std::string& dir) {
    Names names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(dir, error)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

inline size_t count(const std::string& text, const std::string& part) {
    size_t found = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++found;
    }
    return found;
}

struct TempDir {
    TempDir() {
        char name[] = "/tmp/vantor-test-XXXXXX";
        path = mkdtemp(name) != nullptr ? name : "/nonexistent";
    }
    ~TempDir() { std::filesystem::remove_all(path); }
    std::string operator/(const std::string& name) const { return path + "/" + name; }
    std::string path;
};

// Everything logged, Debug level included, from construction to text().
class LogCapture {
  public:
    LogCapture() {
        setenv("VESKLEG_LOG", "1", 1);
        setenv("VESKLEG_LOG_LEVEL", "Debug", 1);
        vesk::legacy::Logger::uninitialise();
        vesk::legacy::Logger::initialise("vantor-test");
        ::testing::internal::CaptureStderr();
    }
    ~LogCapture() {
        text();
        vesk::legacy::Logger::uninitialise();
    }
    const std::string& text() {
        if (!mDone) {
            mText = ::testing::internal::GetCapturedStderr();
            mDone = true;
        }
        return mText;
    }

  private:
    bool mDone = false;
    std::string mText;
};

// desktop-file-validate's complaints; empty when the file passes.
inline std::string validate(const std::string& path) {
    FILE* pipe = popen(("desktop-file-validate '" + path + "' 2>&1; echo $?").c_str(), "r");
    std::string output;
    char buffer[256];
    while (pipe != nullptr && fgets(buffer, sizeof buffer, pipe) != nullptr) {
        output += buffer;
    }
    if (pipe != nullptr) {
        pclose(pipe);
    }
    return output == "0\n" ? "" : output;
}

inline bool waitUntil(const std::function<bool()>& condition) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!condition() && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return condition();
}

}  // namespace launchertest
