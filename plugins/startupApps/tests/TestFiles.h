// File helpers shared by the startlist tests; fixtures live in tests/data.
#pragma once

#include <fstream>
#include <sstream>
#include <string>

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void writeFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

inline std::string dataPath(const std::string& name) {
    return std::string(HOLLIN_SOURCE_DIR) + "/plugins/startupApps/tests/data/" + name;
}

inline std::string fixture(const std::string& name) {
    return readFile(dataPath(name));
}
