// Helpers of the launcher and deskrunner tests: scratch folders, files,
// policy layers of launchers, waiting for a change to show.
#pragma once

#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace launchertest {

namespace fs = std::filesystem;
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
    fs::rename(path + ".part", path);
}

// The layer of the applications component holding body; a launcher list; a
// launcher with Name and Exec.
inline std::string layer(const std::string& body) {
    return "<zel:component-data xmlns:zel=\"urn:vesk:policy-layer\" "
           "zel:name=\"com.orvek.ferrun.applications\">" +
           body + "</zel:component-data>\n";
}
inline std::string launchers(const std::string& body) {
    return "<node zel:name=\"launcher_list\">" + body + "</node>";
}
inline std::string launcher(const std::string& name, const std::string& exec) {
    return "<node zel:name=\"" + name + "\"><prop zel:name=\"Exec\"><value>" + exec +
           "</value></prop><prop zel:name=\"Name\"><value>" + name + "</value></prop></node>";
}

inline Names listDir(const std::string& dir) {
    Names names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(dir, error)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

struct TempDir {
    TempDir() {
        char name[] = "/tmp/vantor-test-XXXXXX";
        path = mkdtemp(name) != nullptr ? name : "/nonexistent";
    }
    ~TempDir() { fs::remove_all(path); }
    std::string operator/(const std::string& name) const { return path + "/" + name; }
    std::string path;
};

inline bool waitUntil(const std::function<bool()>& condition) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!condition() && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return condition();
}

}  // namespace launchertest
