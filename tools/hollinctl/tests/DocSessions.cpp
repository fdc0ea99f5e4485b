// SPDX-License-Identifier: LGPL-2.1-or-later
#include "DocSessions.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <regex>
#include <sstream>
#include <utility>

#include "Program.h"

namespace fs = std::filesystem;

namespace {

struct Step {
    std::string command;  // empty for a layer or store step
    std::string layer;    // "<!-- layer: ... -->": where text goes
    std::string keep;     // "as NAME"
    std::string from;     // "from NAME": the text is a kept one
    bool emptyStore = false;
    bool directory = false;             // of a session on a directory
    std::string text;                   // the layer, or the input of "cat >"
    std::vector<std::string> expected;  // output lines
    int line = 0;                       // in the document
};

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        lines.push_back(line);
    }
    return lines;
}

std::string joinLines(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += line + "\n";
    }
    return text;
}

std::vector<Step> stepsOf(const std::string& document) {
    const std::vector<std::string> lines = splitLines(document);
    const std::regex layerNote("^<!-- layer: (\\S+)(?: (as|from) (\\S+))? -->$");
    std::vector<Step> steps;
    std::string pendingLayer;
    std::string pendingKeep;
    bool directory = false;  // up to the end of the next console block: a directory's
    for (size_t i = 0; i < lines.size(); ++i) {
        std::smatch match;
        if (std::regex_match(lines[i], match, layerNote)) {
            if (match[2] == "from") {
                Step step;
                step.layer = match[1];
                step.from = match[3];
                step.directory = directory;
                steps.push_back(step);
            } else {
                pendingLayer = match[1];
                pendingKeep = match[3];
            }
        } else if (lines[i] == "<!-- store: empty -->") {
            Step step;
            step.emptyStore = true;
            steps.push_back(step);
        } else if (lines[i] == "<!-- store: directory -->") {
            directory = true;
        } else if (lines[i] == "```xml" && !pendingLayer.empty()) {
            Step step;
            step.layer = pendingLayer;
            step.keep = pendingKeep;
            step.directory = directory;
            step.line = static_cast<int>(i) + 1;
            for (++i; i < lines.size() && lines[i] != "```"; ++i) {
                step.text += lines[i] + "\n";
            }
            steps.push_back(step);
            pendingLayer.clear();
        } else if (lines[i] == "```console") {
            bool inCommand = false;
            for (++i; i < lines.size() && lines[i] != "```"; ++i) {
                if (lines[i].compare(0, 2, "$ ") == 0) {
                    Step step;
                    step.command = lines[i].substr(2);
                    step.directory = directory;
                    step.line = static_cast<int>(i) + 1;
                    steps.push_back(step);
                    inCommand = true;
                } else if (lines[i].compare(0, 2, "# ") == 0) {
                    inCommand = false;  // root's, on system folders: shown, not run
                } else if (inCommand) {
                    Step& step = steps.back();
                    const bool input = step.command.find("cat >") != std::string::npos;
                    if (input) {
                        step.text += lines[i] + "\n";
                    } else {
                        step.expected.push_back(lines[i]);
                    }
                }
            }
            directory = false;
        }
    }
    return steps;
}

std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = 0; !from.empty() && (at = text.find(from, at)) != std::string::npos;
         at += to.size()) {
        text.replace(at, from.size(), to);
    }
    return text;
}

// Whether the output matches the expected lines, "..." matching any run.
bool matches(const std::vector<std::string>& want, size_t w, const std::vector<std::string>& got,
             size_t g) {
    if (w == want.size()) {
        return g == got.size();
    }
    if (want[w] == "...") {
        for (size_t skip = g; skip <= got.size(); ++skip) {
            if (matches(want, w + 1, got, skip)) {
                return true;
            }
        }
        return false;
    }
    return g < got.size() && want[w] == got[g] && matches(want, w + 1, got, g + 1);
}

}  // namespace

DocSessions::DocSessions(fs::path scratch) : mDir(std::move(scratch)) {
    const struct passwd* user = getpwuid(getuid());
    mUser = user != nullptr ? user->pw_name : "root";
    const struct group* group = user != nullptr ? getgrgid(user->pw_gid) : nullptr;
    mGroup = group != nullptr ? group->gr_name : mUser;
    char host[HOST_NAME_MAX + 1] = {};
    gethostname(host, sizeof host - 1);
    mHost = host;
}

void DocSessions::onDirectory(std::string url,
                              std::vector<std::pair<std::string, std::string>> names, Loader load) {
    mDirectory = std::move(url);
    mNames = std::move(names);
    mLoad = std::move(load);
}

// The documents' paths and names as they are on this machine.
std::string DocSessions::local(std::string text) const {
    for (const auto& [documented, here] : mNames) {
        text = replaceAll(text, documented, here);
    }
    text = replaceAll(text, "/tmp/store", (mDir / "store").string());
    text = replaceAll(text, "/tmp/new", (mDir / "new").string());
    text = replaceAll(text, "users/root", "users/" + mUser);
    text = replaceAll(text, "groups/root", "groups/" + mGroup);
    return replaceAll(text, "hosts/vm", "hosts/" + mHost);
}

// The other way, and what differs from run to run.
std::string DocSessions::masked(std::string text) const {
    for (const auto& [documented, here] : mNames) {
        text = replaceAll(text, here, documented);
    }
    text = replaceAll(text, (mDir / "store").string(), "/tmp/store");
    text = replaceAll(text, (mDir / "new").string(), "/tmp/new");
    text = replaceAll(text, "users/" + mUser, "users/root");
    text = replaceAll(text, "groups/" + mGroup, "groups/root");
    text = replaceAll(text, "hosts/" + mHost, "hosts/vm");
    text = replaceAll(text, "\"" + mUser + "\"", "\"root\"");
    text = std::regex_replace(text, std::regex("\\(groups [^;\\n]*; host [^)\\n]*\\)"),
                              "(groups root; host vm)");
    text = std::regex_replace(text, std::regex("\\d{4}-\\d\\d-\\d\\d[ T]\\d\\d:\\d\\d:\\d\\dZ?"),
                              "TIME");
    text = std::regex_replace(text, std::regex(" \\d{9,11}\\b"), " STAMP");
    return std::regex_replace(text, std::regex(" +"), " ");
}

void DocSessions::run(const std::string& documentName) {
    const std::string source = HOLLIN_SOURCE_DIR;
    std::ifstream file(source + "/" + documentName);
    std::stringstream document;
    document << file.rdbuf();
    std::vector<Step> steps = stepsOf(document.str());
    const bool onDirectory = !mDirectory.empty();
    steps.erase(std::remove_if(steps.begin(), steps.end(),
                               [&](const Step& step) {
                                   return onDirectory ? !step.directory : step.directory;
                               }),
                steps.end());
    ASSERT_FALSE(steps.empty()) << documentName;
    // Not made here: the README's session copies the sample store into place.
    const fs::path store = mDir / "store";
    std::map<std::string, std::string> kept;
    const std::string bin = fs::path(HOLLINCTL_BINARY).parent_path().string();
    const char* path = std::getenv("PATH");
    bool written = onDirectory;  // the store holds layers the directory lacks
    for (const Step& step : steps) {
        SCOPED_TRACE(documentName + ":" + std::to_string(step.line));
        if (step.emptyStore) {
            fs::remove_all(store);
            fs::create_directories(store);
            continue;
        }
        if (!step.layer.empty()) {
            const fs::path target =
                step.layer[0] == '/' ? fs::path(local(step.layer)) : store / local(step.layer);
            fs::create_directories(target.parent_path());
            const std::string& text = step.from.empty() ? step.text : kept[step.from];
            std::ofstream(target, std::ios::binary) << text;
            if (!step.keep.empty()) {
                kept[step.keep] = step.text;
            }
            written = onDirectory;
            continue;
        }
        if (std::exchange(written, false)) {
            mLoad(store);
        }
        const fs::path input = mDir / "input";
        std::ofstream(input, std::ios::binary) << step.text;
        const Program::Result result = Program::run(
            {"sh", "-c", "cd " + source + " && (" + local(step.command) + ") < " + input.string()},
            {{"PATH", bin + ":" + (path != nullptr ? path : "/usr/bin:/bin")},
             {"VESK_POLICY_STORE", onDirectory ? mDirectory : store.string()},
             {"VESKLEG_LOG", ""},
             {"TZ", "UTC"}});
        const std::vector<std::string> got = splitLines(masked(result.out + result.err));
        std::vector<std::string> want;
        for (const std::string& line : step.expected) {
            want.push_back(masked(local(line)));
        }
        EXPECT_TRUE(matches(want, 0, got, 0)) << "$ " << step.command << "\nexpected:\n"
                                              << masked(local(joinLines(step.expected))) << "got:\n"
                                              << masked(result.out + result.err);
    }
}
