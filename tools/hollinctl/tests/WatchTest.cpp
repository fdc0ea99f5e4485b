// SPDX-License-Identifier: LGPL-2.1-or-later
// hollinctl watch end to end: change notifications and layer events.
#include "HollinctlFixture.h"

namespace {

using namespace hollinctltest;

std::string awaitLine(Program& watcher, const std::string& prefix) {
    std::string line;
    while (watcher.readOutLine(line, 10s)) {
        if (line.compare(0, prefix.size(), prefix) == 0) {
            return line;
        }
    }
    return "";
}

TEST_F(HollinctlTest, BrokenLayersAreToldInGetDumpAndWatch) {
    writeThreeLayers();
    const std::string hostLayer = kHostLayer;
    const std::string broken = hostLayer.substr(0, hostLayer.find("<node zel:name=\"kiosk\""));
    writeLayer(mHostScope, kComponent, broken);
    const std::string warning = "warning: layer 2 " + mHostScope + " is broken at line";
    struct Case {
        std::vector<std::string> args;
        int status;
    };
    const Case cases[] = {
        {{"get", kComponent + "/apps/browser"}, 0},
        {{"get", kComponent + "/apps/browser", "--strict"}, 4},
        {{"dump", kComponent, "--strict", "--format=json"}, 4},
        {{"layers", kComponent, "--strict"}, 4},
    };
    for (const Case& test : cases) {
        // The library's own log is off: hollinctl says it anyway.
        const Program::Result result = tool(test.args);
        EXPECT_EQ(result.status, test.status) << test.args[0] << ": " << result.err;
        EXPECT_FALSE(result.out.empty()) << test.args[0];
        if (test.args[0] != "layers") {
            EXPECT_NE(result.err.find(warning), std::string::npos) << result.err;
        }
    }
    EXPECT_EQ(tool({"list", "--strict"}).status, 2);

    // With a copy kept from the last complete build, programs start with the
    // copy: get and dump both show it, and say so.
    std::map<std::string, std::string> env = environment();
    env["HOLLIN_CACHE_DIR"] = (mDir / "cache").string();
    const std::vector<std::string> get{HOLLINCTL_BINARY, "get", kComponent + "/kiosk/mode"};
    writeLayer(mHostScope, kComponent, kHostLayer);
    // Reading commands keep no copies: cache refresh does.
    const Program::Result kept =
        Program::run({HOLLINCTL_BINARY, "cache", "refresh", "--user", "root"}, env);
    ASSERT_EQ(kept.status, 0) << kept.err;
    ASSERT_EQ(Program::run(get, env).out, "on\n");
    writeLayer(mHostScope, kComponent, broken);
    for (const std::vector<std::string>& args :
         {get, {HOLLINCTL_BINARY, "dump", kComponent, "kiosk/mode"}}) {
        const Program::Result result = Program::run(args, env);
        EXPECT_NE(result.out.find("on"), std::string::npos) << args[1] << ": " << result.out;
        EXPECT_EQ(result.out.find("off"), std::string::npos) << args[1] << ": " << result.out;
        EXPECT_NE(result.err.find(warning), std::string::npos) << result.err;
        EXPECT_NE(result.err.find("; programs starting now apply the kept copy, shown here"),
                  std::string::npos)
            << result.err;
    }
    // What the copy holds, from which layers.
    const Program::Result shown = Program::run({HOLLINCTL_BINARY, "cache", "show"}, env);
    EXPECT_EQ(shown.status, 0) << shown.err;
    for (const std::string& part : std::vector<std::string>{
             kComponent + " for the current user: the copy " + (mDir / "cache").string() + "/@" +
                 kComponent + ".xml, written ",
             ", from 3 layers:\n  1  default (", "\n  2  " + mHostScope + " (",
             "\nholding:\n  /apps/browser  \"firefox\"\n", "\n  /kiosk/mode  \"on\"\n"}) {
        EXPECT_NE(shown.out.find(part), std::string::npos) << part << " in " << shown.out;
    }
    EXPECT_EQ(Program::run({HOLLINCTL_BINARY, "cache", "show", "org.none"}, env).status, 1);

    Program watcher({HOLLINCTL_BINARY, "watch", kComponent}, environment());
    const std::string start = awaitLine(watcher, "broken");
    EXPECT_NE(start.find(kComponent + ": layer 2 " + mHostScope + " is broken at line"),
              std::string::npos)
        << start;
    writeLayer(mHostScope, kComponent, kHostLayer);
    EXPECT_NE(awaitLine(watcher, "mended").find("layer 2 " + mHostScope + " is read in full"),
              std::string::npos);
    fs::remove(mStore / mUserScope / (kComponent + ".xml"));
    EXPECT_NE(awaitLine(watcher, "vanished").find("the layer of " + mUserScope + " is gone"),
              std::string::npos);
    fs::remove(mStore / mHostScope / (kComponent + ".xml"));
    fs::create_directories(mStore / mHostScope / (kComponent + ".xml"));
    EXPECT_NE(awaitLine(watcher, "unreadable").find("not a regular file"), std::string::npos);
    EXPECT_EQ(watcher.stop(SIGTERM), 0);

    // With no inotify instance left it says so, and still follows.
    std::vector<std::string> args = withoutInotifyPrefix();
    if (!args.empty()) {
        args.insert(args.end(), {HOLLINCTL_BINARY, "watch", kComponent});
        Program polling(args, environment());
        EXPECT_NE(awaitLine(polling, "polling").find("checked for changes every 2 s"),
                  std::string::npos);
        awaitLine(polling, "unreadable");
        fs::remove(mStore / mHostScope / (kComponent + ".xml"));
        writeLayer(mHostScope, kComponent, kHostLayer);
        EXPECT_NE(awaitLine(polling, "readable").find("can be read again"), std::string::npos);
        EXPECT_EQ(polling.stop(SIGTERM), 0);
    }
}

TEST_F(HollinctlTest, WatchPrintsEachChangeUntilTerminated) {
    writeThreeLayers();
    for (const auto& [format, signal] : {std::pair<std::string, int>{"text", SIGTERM},
                                         std::pair<std::string, int>{"json", SIGINT}}) {
        Program watcher({HOLLINCTL_BINARY, "watch", kComponent, "--format=" + format},
                        environment());
        std::string line;
        ASSERT_TRUE(watcher.readErrLine(line, 10s)) << "watch did not start";
        ASSERT_EQ(line.compare(0, 8, "Watching"), 0) << line;

        std::string edited = kUserLayer;
        edited.replace(edited.find("emacs"), 5, format == "text" ? "nano" : "vim");
        writeLayer(mUserScope, kComponent, edited);
        std::vector<std::string> seen;
        ASSERT_TRUE(watcher.readOutLine(line, 5s)) << "no notification";
        seen.push_back(line);
        while (seen.size() < 3 && watcher.readOutLine(line, 2s)) {
            seen.push_back(line);
        }
        EXPECT_EQ(watcher.stop(signal), 0) << format;

        if (format == "text") {
            // The new value, the layer that set it and the time follow the address.
            ASSERT_EQ(seen.size(), 3u);
            EXPECT_EQ(seen[0].substr(0, seen[0].find(" [")),
                      "changed org.test.desktop/apps/editor = \"nano\" (3 " + mUserScope + ")");
            for (std::string& event : seen) {
                event = event.substr(0, std::min(event.find(" ("), event.find(" = ")));
            }
            EXPECT_EQ(seen, (std::vector<std::string>{"changed org.test.desktop/apps/editor",
                                                      "changed org.test.desktop/apps",
                                                      "changed org.test.desktop"}));
        } else {
            std::string document;
            for (const std::string& object : seen) {
                document += python(
                    "d = json.load(open(sys.argv[1])); print(d['event'], d['path'], "
                    "d['names'], d['value'], d['setBy'] and d['setBy']['position'], "
                    "d['time'][-1])",
                    object);
            }
            EXPECT_EQ(document,
                      "changed /apps/editor ['apps', 'editor'] vim 3 Z\n"
                      "changed /apps ['apps'] None 1 Z\nchanged / [] None 1 Z\n");
        }
    }
}

TEST_F(HollinctlTest, WatchEndsWhenItsOutputCannotBeWritten) {
    writeThreeLayers();
    struct Case {
        std::string output;  // where the shell sends standard output
        int status;          // of the pipeline, with pipefail
        std::string err;     // the last line on standard error
        std::string editor;  // the value the edit sets
    };
    const Case cases[] = {
        // The reader leaves after one line: that is the end, not a failure.
        {"| head -1 >/dev/null", 0, "Watching", "ed"},
        // The reason is the write's, not some earlier call's.
        {">/dev/full", 3, "hollinctl: cannot write the output: No space left on device", "vim"},
    };
    for (const Case& test : cases) {
        Program watcher({"bash", "-o", "pipefail", "-c",
                         "\"$0\" watch " + kComponent + " " + test.output, HOLLINCTL_BINARY},
                        environment());
        std::string line;
        ASSERT_TRUE(watcher.readErrLine(line, 10s)) << "watch did not start";
        std::string edited = kUserLayer;
        writeLayer(mUserScope, kComponent, edited.replace(edited.find("emacs"), 5, test.editor));
        EXPECT_EQ(watcher.wait(10s), test.status) << test.output;
        for (std::string more; watcher.readErrLine(more, 1s);) {
            line = more;
        }
        EXPECT_EQ(line.compare(0, test.err.size(), test.err), 0) << test.output << ": " << line;
    }
}

TEST_F(HollinctlTest, WatchOfAPlannedStackSeesThatUsersLayers) {
    writeLayer("default", kComponent, kDefaultLayer);
    Program watcher({HOLLINCTL_BINARY, "watch", kComponent, "--user=alice", "--groups=staff"},
                    environment());
    std::string line;
    while (watcher.readErrLine(line, 10s) && line.compare(0, 8, "Watching") != 0) {
    }
    ASSERT_NE(line.find("Watching org.test.desktop for user \"alice\""), std::string::npos) << line;
    // A scope of alice's stack that the caller's own stack does not have, in
    // folders that appear only now.
    writeLayer("users/alice", kComponent, kUserLayer);
    const std::string seen = awaitLine(watcher, "changed org.test.desktop/apps/editor");
    EXPECT_EQ(seen.substr(0, seen.find(" [")),
              "changed org.test.desktop/apps/editor = \"emacs\" (2 users/alice)");
    EXPECT_EQ(watcher.stop(SIGTERM), 0);
}

}  // namespace
