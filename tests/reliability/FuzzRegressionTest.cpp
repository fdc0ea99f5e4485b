// SPDX-License-Identifier: LGPL-2.1-or-later
// Replays every fuzz seed and every input that once made a fuzz target fail
// through the target's checks, in the normal build. Each input is its own test,
// named after its file, so a finding (which aborts) points at the input.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "FuzzTargets.h"

namespace fs = std::filesystem;
using namespace vesk::legacy::fuzz;

namespace {

using Target = int (*)(const uint8_t*, size_t);

struct Input {
    std::string target;
    Target function;
    std::string file;
};

void PrintTo(const Input& input, std::ostream* out) {
    *out << input.file;
}

std::vector<Input> inputs() {
    // Target, its inputs' folder name, its function.
    const std::tuple<const char*, const char*, Target> targets[] = {
        {"layer_merge", "layer_merge", fuzzLayerMerge},
        {"tree_file", "tree_file", fuzzTreeFile},
        {"round_trip", "round_trip", fuzzRoundTrip},
        {"key_file", "key_file", fuzzKeyFile},
        {"hollinctl_check", "hollinctl", fuzzHollinctlCheck},
        {"hollinctl_dump", "hollinctl", fuzzHollinctlDump},
        {"kiosk", "kiosk", fuzzKiosk},
        {"session_manual", "session_manual", fuzzSessionManual},
        {"ldap_escape", "ldap_escape", fuzzLdapEscape},
    };
    std::vector<Input> all;
    for (const auto& [name, inputsName, function] : targets) {
        for (const char* kind : {"corpus", "regressions"}) {
            const fs::path folder = fs::path(HOLLIN_SOURCE_DIR) / "fuzz" / kind / inputsName;
            if (!fs::is_directory(folder)) {
                continue;
            }
            std::vector<std::string> files;
            for (const auto& entry : fs::directory_iterator(folder)) {
                if (entry.is_regular_file()) {
                    files.push_back(entry.path().string());
                }
            }
            std::sort(files.begin(), files.end());
            for (const auto& file : files) {
                all.push_back({name, function, file});
            }
        }
    }
    return all;
}

std::string testName(const testing::TestParamInfo<Input>& info) {
    const fs::path file(info.param.file);
    std::string name = info.param.target + "_" +
                       file.parent_path().parent_path().filename().string() + "_" +
                       file.filename().string();
    std::replace_if(
        name.begin(), name.end(),
        [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
    return name;
}

class FuzzRegressionTest : public testing::TestWithParam<Input> {};

TEST_P(FuzzRegressionTest, InputPassesTheTargetsChecks) {
    std::ifstream in(GetParam().file, std::ios::binary);
    ASSERT_TRUE(in) << GetParam().file;
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(0, GetParam().function(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
}

INSTANTIATE_TEST_SUITE_P(Inputs, FuzzRegressionTest, testing::ValuesIn(inputs()), testName);

}  // namespace
