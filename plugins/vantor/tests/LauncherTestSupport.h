// Helpers of the launcher tests: scratch folders, files, the log as text, the
// desktop entry validator and waiting for the policy service's change events.
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

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Through a temporary file and a rename, so a watcher never sees half a file.
inline void writeFile(const std::string& path, const std::string& text) {
    const std::string temporary = path + ".part";
    std::ofstream(temporary, std::ios::binary) << text;
    std::filesystem::rename(temporary, path);
}

inline std::string golden(const std::string& name) {
    return readFile(std::string(HOLLIN_SOURCE_DIR) + "/plugins/vantor/tests/data/" + name);
}

// File names in a folder, sorted.
inline std::vector<std::string> listDir(const std::string& dir) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(dir, error)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

class TempDir {
  public:
    TempDir() {
        char name[] = "/tmp/vantor-test-XXXXXX";
        if (mkdtemp(name) == nullptr) {
            ADD_FAILURE() << "mkdtemp failed";
        }
        mPath = name;
    }
    ~TempDir() {
        std::error_code error;
        std::filesystem::remove_all(mPath, error);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return mPath; }
    std::string operator/(const std::string& name) const { return mPath + "/" + name; }

  private:
    std::string mPath;
};

// Everything logged from construction to text(), Debug level included.
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
        if (!mDone) {
            text();
        }
        vesk::legacy::Logger::uninitialise();
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

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

inline size_t count(const std::string& text, const std::string& part) {
    size_t found = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++found;
    }
    return found;
}

// desktop-file-validate's verdict: empty when the file passes.
inline std::string validate(const std::string& path) {
    const std::string command = "desktop-file-validate '" + path + "' 2>&1; echo status=$?";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return "cannot run desktop-file-validate";
    }
    std::string output;
    char buffer[256];
    while (fgets(buffer, sizeof buffer, pipe) != nullptr) {
        output += buffer;
    }
    pclose(pipe);
    return output == "status=0\n" ? "" : output;
}

// Polls until the condition holds; false after the timeout.
inline bool waitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds timeout = std::chrono::milliseconds(5000)) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

}  // namespace launchertest
