// SPDX-License-Identifier: LGPL-2.1-or-later
// The fixture of hollinctl's end-to-end tests: the built program on a
// temporary file store, as an administrator runs it; JSON output is read back
// with Python's json module.
#pragma once

#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "Program.h"
#include "TestFiles.h"
#include "model/Node.h"
#include "model/PropertyNode.h"
#include "model/StructuralNode.h"
#include "model/Tree.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using vesk::legacy::Node;
using vesk::legacy::StructuralNode;
using vesk::legacy::Tree;

namespace hollinctltest {

inline const std::string kComponent = "org.test.desktop";

// Layer 1 sets everything; layer 2 locks apps/browser (without a value) and
// the group kiosk; layer 3 tries to change both and changes apps/editor.
inline const char kDefaultLayer[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<zel:component-data zel:name="org.test.desktop">
  <node zel:name="apps">
    <prop zel:name="browser" zel:type="xs:string"><value>firefox</value></prop>
    <prop zel:name="editor" zel:type="xs:string"><value>vi</value></prop>
    <prop zel:name="title"><value>Browser</value><value xml:lang="de">Netzsucher</value></prop>
    <prop zel:name="favourites" zel:type="zel:string-list"><value>a b c</value></prop>
  </node>
  <node zel:name="kiosk">
    <prop zel:name="mode"><value>off</value></prop>
  </node>
</zel:component-data>
)";

inline const char kHostLayer[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<zel:component-data zel:name="org.test.desktop">
  <node zel:name="apps">
    <prop zel:name="browser" zel:finalized="true"/>
  </node>
  <node zel:name="kiosk" zel:finalized="true">
    <prop zel:name="mode"><value>on</value></prop>
  </node>
</zel:component-data>
)";

inline const char kUserLayer[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<zel:component-data zel:name="org.test.desktop">
  <node zel:name="apps">
    <prop zel:name="browser"><value>chromium</value></prop>
    <prop zel:name="editor"><value>emacs</value></prop>
  </node>
  <node zel:name="kiosk" zel:op="remove"/>
  <node zel:name="kiosk">
    <prop zel:name="extra"><value>yes</value></prop>
    <prop zel:name="mode"><value>off</value></prop>
  </node>
</zel:component-data>
)";

inline std::string userName() {
    const struct passwd* entry = getpwuid(getuid());
    return entry != nullptr ? entry->pw_name : "";
}

inline std::string primaryGroup() {
    const struct group* entry = getgrgid(getgid());
    return entry != nullptr ? entry->gr_name : "";
}

inline std::string hostName() {
    char buffer[HOST_NAME_MAX + 1] = {};
    gethostname(buffer, sizeof buffer - 1);
    return buffer;
}

inline std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        result.push_back(line);
    }
    return result;
}

class HollinctlTest : public ::testing::Test {
  protected:
    void SetUp() override {
        mStore = mDir / "store";
        mUserScope = "users/" + userName();
        mHostScope = "hosts/" + hostName();
        fs::create_directories(mStore / "default");
    }

    void writeLayer(const std::string& scope, const std::string& component,
                    const std::string& text) {
        fs::create_directories(mStore / scope);
        testsupport::writeFile((mStore / scope / (component + ".xml")).string(), text);
    }
    void writeThreeLayers() {
        writeLayer("default", kComponent, kDefaultLayer);
        writeLayer(mHostScope, kComponent, kHostLayer);
        writeLayer(mUserScope, kComponent, kUserLayer);
    }

    std::map<std::string, std::string> environment() const {
        return {{"VESK_POLICY_STORE", mStore.string()}, {"TZ", "UTC"}, {"VESKLEG_LOG", ""}};
    }
    Program::Result tool(std::vector<std::string> args) const {
        args.insert(args.begin(), HOLLINCTL_BINARY);
        return Program::run(args, environment());
    }

    // Runs a Python script on a JSON text (its file is sys.argv[1]); the
    // script's output, which must end normally.
    std::string python(const std::string& script, const std::string& json) {
        const fs::path file = mDir / "output.json";
        std::ofstream(file, std::ios::binary) << json;
        const Program::Result result =
            Program::run({"python3", "-c", "import json, sys\n" + script, file.string()});
        EXPECT_EQ(result.status, 0) << result.err << "\nfor JSON: " << json;
        return result.out;
    }

    const testsupport::TempDir mScratch{"hollinctl-test"};
    const fs::path mDir = mScratch.path;
    fs::path mStore;
    std::string mUserScope;
    std::string mHostScope;
};

}  // namespace hollinctltest
