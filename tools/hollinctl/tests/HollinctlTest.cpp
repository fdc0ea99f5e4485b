// hollinctl end to end: the built program on a temporary file store, as an
// administrator runs it. JSON output is read back with Python's json module.
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "ToolRunner.h"
#include "model/Node.h"
#include "model/PropertyNode.h"
#include "model/StructuralNode.h"
#include "model/Tree.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using vesk::legacy::Node;
using vesk::legacy::StructuralNode;
using vesk::legacy::Tree;

namespace {

const std::string kComponent = "org.test.desktop";

// Layer 1 sets everything; layer 2 locks apps/browser (without a value) and
// the group kiosk; layer 3 tries to change both and changes apps/editor.
const char kDefaultLayer[] = R"(<?xml version="1.0" encoding="UTF-8"?>
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

const char kHostLayer[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<zel:component-data zel:name="org.test.desktop">
  <node zel:name="apps">
    <prop zel:name="browser" zel:finalized="true"/>
  </node>
  <node zel:name="kiosk" zel:finalized="true">
    <prop zel:name="mode"><value>on</value></prop>
  </node>
</zel:component-data>
)";

const char kUserLayer[] = R"(<?xml version="1.0" encoding="UTF-8"?>
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

std::string userName() {
    const struct passwd* entry = getpwuid(getuid());
    return entry != nullptr ? entry->pw_name : "";
}

std::string hostName() {
    char buffer[HOST_NAME_MAX + 1] = {};
    gethostname(buffer, sizeof buffer - 1);
    return buffer;
}

std::vector<std::string> lines(const std::string& text) {
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
        char pattern[] = "/tmp/hollinctl-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        mDir = pattern;
        mStore = mDir / "store";
        mUserScope = "users/" + userName();
        mHostScope = "hosts/" + hostName();
        fs::create_directories(mStore / "default");
    }
    void TearDown() override { fs::remove_all(mDir); }

    void writeLayer(const std::string& scope, const std::string& component,
                    const std::string& text) {
        fs::create_directories(mStore / scope);
        const fs::path tmp = mStore / scope / ".layer.tmp";
        std::ofstream(tmp, std::ios::binary) << text;
        fs::rename(tmp, mStore / scope / (component + ".xml"));
    }
    void writeThreeLayers() {
        writeLayer("default", kComponent, kDefaultLayer);
        writeLayer(mHostScope, kComponent, kHostLayer);
        writeLayer(mUserScope, kComponent, kUserLayer);
    }

    std::map<std::string, std::string> environment() const {
        return {{"VESK_POLICY_STORE", mStore.string()}, {"TZ", "UTC"}, {"VESKLEG_LOG", ""}};
    }
    ToolRunner::Result tool(std::vector<std::string> args) const {
        args.insert(args.begin(), HOLLINCTL_BINARY);
        return ToolRunner::run(args, environment());
    }

    // Runs a Python script on a JSON text (its file is sys.argv[1]); the
    // script's output, which must end normally.
    std::string python(const std::string& script, const std::string& json) {
        const fs::path file = mDir / "output.json";
        std::ofstream(file, std::ios::binary) << json;
        const ToolRunner::Result result =
            ToolRunner::run({"python3", "-c", "import json, sys\n" + script, file.string()});
        EXPECT_EQ(result.status, 0) << result.err << "\nfor JSON: " << json;
        return result.out;
    }

    fs::path mDir;
    fs::path mStore;
    std::string mUserScope;
    std::string mHostScope;
};

// One line per node: path, set by, locked by, lock kind, refused from, values.
const char kNodeSummary[] = R"(
def position(reference):
    return str(reference["position"]) if reference else "-"
document = json.load(open(sys.argv[1]))
for node in document["nodes"]:
    print(node["path"], position(node["setBy"]), position(node["lockedBy"]), node["lock"],
          ",".join(position(r) for r in node["refusedFrom"]),
          json.dumps(node.get("values"), sort_keys=True, ensure_ascii=False))
)";

TEST_F(HollinctlTest, DumpShowsWhoSetAndWhoLockedEachNodeAndWhatTheLockRefused) {
    writeThreeLayers();
    const ToolRunner::Result json = tool({"dump", kComponent, "--format=json"});
    ASSERT_EQ(json.status, 0) << json.err;
    EXPECT_EQ(lines(python(kNodeSummary, json.out)),
              (std::vector<std::string>{
                  "/ 1 - None  null",
                  "/apps 1 - None  null",
                  R"(/apps/browser 1 2 read-only 3 {"default": "firefox"})",
                  R"(/apps/editor 3 - None  {"default": "emacs"})",
                  R"(/apps/favourites 1 - None  {"default": ["a", "b", "c"]})",
                  R"(/apps/title 1 - None  {"de": "Netzsucher", "default": "Browser"})",
                  "/kiosk 1 2 read-only 3 null",
                  R"(/kiosk/extra 3 - None  {"default": "yes"})",
                  R"(/kiosk/mode 2 2 read-only 3 {"default": "on"})",
              }));
    EXPECT_EQ(python(R"(
d = json.load(open(sys.argv[1]))
print([(l["position"], l["scope"], l["wellFormed"]) for l in d["layers"]]))",
                     json.out),
              "[(1, 'default', True), (2, '" + mHostScope + "', True), (3, '" + mUserScope +
                  "', True)]\n");

    // The same in text: the browser's line names the layers by stamp scope.
    const ToolRunner::Result text = tool({"dump", kComponent});
    ASSERT_EQ(text.status, 0) << text.err;
    const std::vector<std::string> out = lines(text.out);
    auto browser = std::find_if(out.begin(), out.end(), [](const std::string& line) {
        return line.compare(0, 14, "/apps/browser ") == 0;
    });
    ASSERT_NE(browser, out.end()) << text.out;
    EXPECT_NE(browser->find("xs:string"), std::string::npos);
    EXPECT_NE(browser->find("1 default"), std::string::npos);
    EXPECT_NE(browser->find("2 " + mHostScope), std::string::npos);
    ASSERT_LT(browser + 2, out.end());
    EXPECT_EQ(browser[1], "    \"firefox\"");
    EXPECT_EQ(browser[2], "    refused: 3 " + mUserScope);
    for (const std::string& line : out) {
        EXPECT_LE(line.size(), 80u) << line;
    }
}

TEST_F(HollinctlTest, DumpOfASubtreeAndItsErrors) {
    writeThreeLayers();
    const ToolRunner::Result kiosk = tool({"dump", kComponent, "/kiosk", "--format=json"});
    ASSERT_EQ(kiosk.status, 0) << kiosk.err;
    EXPECT_EQ(
        python("print([n['path'] for n in json.load(open(sys.argv[1]))['nodes']])", kiosk.out),
        "['/kiosk', '/kiosk/extra', '/kiosk/mode']\n");

    const ToolRunner::Result missingNode = tool({"dump", kComponent, "apps/nothing"});
    EXPECT_EQ(missingNode.status, 1);
    EXPECT_NE(missingNode.err.find("apps/nothing"), std::string::npos) << missingNode.err;

    const ToolRunner::Result noLayers = tool({"dump", "org.test.none"});
    EXPECT_EQ(noLayers.status, 1);
    EXPECT_NE(noLayers.err.find("\"org.test.none\" has no layers"), std::string::npos)
        << noLayers.err;
    EXPECT_NE(noLayers.err.find(mStore.string()), std::string::npos) << noLayers.err;
}

TEST_F(HollinctlTest, DumpAsTreeFileReadsBackWithUnserialize) {
    writeThreeLayers();
    const ToolRunner::Result xml = tool({"dump", kComponent, "--format=xml"});
    ASSERT_EQ(xml.status, 0) << xml.err;
    const fs::path file = mDir / "tree.xml";
    std::ofstream(file, std::ios::binary) << xml.out;

    Tree tree;
    tree.unserialize(file.string());
    ASSERT_NE(tree.getRoot(), nullptr) << xml.out;
    const StructuralNode* root = tree.getRoot()->asStructuralNode();
    ASSERT_NE(root, nullptr);
    const StructuralNode* apps = root->getChild("apps")->asStructuralNode();
    ASSERT_NE(apps, nullptr);
    const auto* browser = apps->getChild("browser")->asPropertyNode();
    ASSERT_NE(browser, nullptr);
    EXPECT_EQ(browser->getStringValue("default"), "firefox");
    EXPECT_NE(browser->getAttributes() & Node::kReadOnly, 0);
    const auto* favourites = apps->getChild("favourites")->asPropertyNode();
    ASSERT_NE(favourites, nullptr);
    EXPECT_EQ(favourites->getListValue("default"), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(apps->getChild("title")->asPropertyNode()->getStringValue("de"), "Netzsucher");
}

TEST_F(HollinctlTest, GetAnswersAsProgramsReadAndFailsWithStatusOne) {
    writeThreeLayers();
    writeLayer("default", "org.test.bare",
               "<zel:component-data zel:name=\"bare\"><prop zel:name=\"p\"/></zel:component-data>");
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string out;
        std::string err;  // a part of standard error
    };
    const std::string c = kComponent;
    const Case cases[] = {
        {{c + "/apps/browser"}, 0, "firefox\n", ""},
        {{c + "/kiosk/mode"}, 0, "on\n", ""},
        {{c + "/apps/favourites"}, 0, "a\nb\nc\n", ""},
        {{c + "/apps/title"}, 0, "Browser\n", ""},
        {{c + "/apps/title", "--locale", "de"}, 0, "Netzsucher\n", ""},
        {{c + "/apps/editor", "--locale=fr"}, 0, "emacs\n", ""},  // not localised
        {{c + "/apps/title", "--locale", "fr"}, 1, "", "locales: de, default"},
        {{c + "/apps/nothing"}, 1, "", "no node"},
        {{c + "/apps/browser/below"}, 1, "", "no node"},
        {{c + "/apps"}, 1, "", "is a group"},
        {{"org.test.none/x"}, 1, "", "no node"},
        {{"org.test.bare/p"}, 1, "", "has no value"},
        {{"/apps/browser"}, 2, "", "not a component name"},
    };
    for (const Case& test : cases) {
        std::vector<std::string> args = test.args;
        args.insert(args.begin(), "get");
        const ToolRunner::Result result = tool(args);
        EXPECT_EQ(result.status, test.status) << test.args[0] << "\n" << result.err;
        EXPECT_EQ(result.out, test.out) << test.args[0];
        EXPECT_NE(result.err.find(test.err), std::string::npos) << result.err;
    }
    const ToolRunner::Result json = tool({"get", c + "/apps/favourites", "--format=json"});
    ASSERT_EQ(json.status, 0);
    EXPECT_EQ(python("d = json.load(open(sys.argv[1])); print(d['path'], d['type'], d['value'])",
                     json.out),
              "/apps/favourites zel:string-list ['a', 'b', 'c']\n");
}

TEST_F(HollinctlTest, LayersInMergeOrderWithScopeTimeSizeAndBrokenOnes) {
    writeThreeLayers();
    // A broken layer still counts: the reader stops at the error.
    const std::string broken = "<zel:component-data>\n<node zel:name=\"a\">\n";
    writeLayer(mHostScope, kComponent, broken);
    const ToolRunner::Result text = tool({"layers", kComponent});
    ASSERT_EQ(text.status, 0) << text.err;
    const std::vector<std::string> out = lines(text.out);
    ASSERT_EQ(out.size(), 4u) << text.out;
    EXPECT_EQ(out[0].compare(0, 3, "POS"), 0);
    EXPECT_EQ(out[1].compare(0, 12, "1    default"), 0) << out[1];
    EXPECT_NE(out[2].find(mHostScope), std::string::npos);
    EXPECT_NE(out[2].find("broken at line 3"), std::string::npos) << out[2];
    EXPECT_NE(out[3].find(mUserScope), std::string::npos);
    EXPECT_NE(out[3].find(std::to_string(sizeof kUserLayer - 1)), std::string::npos);

    const ToolRunner::Result json = tool({"layers", kComponent, "--format=json"});
    ASSERT_EQ(json.status, 0) << json.err;
    EXPECT_EQ(python(R"(
for l in json.load(open(sys.argv[1]))["layers"]:
    print(l["position"], l["scope"], l["size"], type(l["time"]).__name__, l["error"] and l["error"]["line"]))",
                     json.out),
              "1 default " + std::to_string(sizeof kDefaultLayer - 1) + " int None\n" + "2 " +
                  mHostScope + " " + std::to_string(broken.size()) + " int 3\n" + "3 " +
                  mUserScope + " " + std::to_string(sizeof kUserLayer - 1) + " int None\n");
}

TEST_F(HollinctlTest, ListWithPrefixAndOtherEntities) {
    writeThreeLayers();
    writeLayer("default", "org.test.apps", "<zel:component-data/>");
    writeLayer("entities/kiosk.test", "com.other.kiosk", "<zel:component-data/>");

    EXPECT_EQ(tool({"list"}).out, "org.test.apps\norg.test.desktop\n");
    EXPECT_EQ(tool({"list", "org.test.d"}).out, "org.test.desktop\n");
    EXPECT_EQ(tool({"list", "--entity", "kiosk.test"}).out,
              "com.other.kiosk\norg.test.apps\norg.test.desktop\n");
    const ToolRunner::Result json = tool({"--format=json", "list"});
    EXPECT_EQ(python("print(json.load(open(sys.argv[1]))['components'])", json.out),
              "['org.test.apps', 'org.test.desktop']\n");

    const ToolRunner::Result none = tool({"list", "net."});
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.out, "");
    EXPECT_NE(none.err.find("starting with \"net.\""), std::string::npos) << none.err;
}

TEST_F(HollinctlTest, UntrustedTextIsEscapedOnTerminalsAndValidInJson) {
    // A component name holding an escape sequence and a byte that is not
    // UTF-8, and values holding line breaks and display controls.
    const std::string evilName = "org.\x1b[31mred.\xff";
    writeLayer("default", evilName, "<zel:component-data/>");
    writeLayer("default", kComponent,
               "<zel:component-data><prop zel:name=\"p\"><value>one\ntwo\t\xe2\x80\xae"
               "txt.exe \xc2\x85\xe2\x80\xa8 \"q\" \\</value></prop></zel:component-data>");

    const ToolRunner::Result list = tool({"list"});
    EXPECT_EQ(list.out, "org.\\x1b[31mred.\\xff\norg.test.desktop\n");
    const ToolRunner::Result listJson = tool({"list", "--format=json"});
    EXPECT_EQ(python("print(ascii(json.load(open(sys.argv[1]))['components']))", listJson.out),
              "['org.\\x1b[31mred.\\ufffd', 'org.test.desktop']\n");

    const ToolRunner::Result text = tool({"dump", kComponent});
    EXPECT_NE(text.out.find(R"(    "one\ntwo\t\u{202E}txt.exe \xc2\x85\u{2028} \"q\" \\")"),
              std::string::npos)
        << text.out;
    EXPECT_EQ(text.out.find('\x1b'), std::string::npos);
    EXPECT_EQ(text.out.find("\xe2\x80\xae"), std::string::npos);

    const ToolRunner::Result json = tool({"dump", kComponent, "--format=json"});
    EXPECT_EQ(python("print(ascii(json.load(open(sys.argv[1]))['nodes'][1]['values']['default']))",
                     json.out),
              "'one\\ntwo\\t\\u202etxt.exe \\x85\\u2028 \"q\" \\\\'\n");
}

TEST_F(HollinctlTest, FailuresNameTheStoreAndEndWithTheirStatus) {
    writeThreeLayers();
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string err;
    };
    const Case cases[] = {
        {{}, 2, "no command given"},
        {{"frobnicate"}, 2, "unknown command \"frobnicate\""},
        {{"dump"}, 2, "dump: missing argument"},
        {{"dump", "a", "b", "c"}, 2, "unexpected argument \"c\""},
        {{"layers", kComponent, "--format=xml"}, 2, "layers has no such --format"},
        {{"dump", kComponent, "--format=yaml"}, 2, "unknown format \"yaml\""},
        {{"dump", kComponent, "--locale", "de"}, 2, "dump takes no --locale"},
        {{"check", "--entity", "x", "f.xml"}, 2, "check takes no --entity"},
        {{"dump", kComponent, "--entity"}, 2, "--entity needs a value"},
        {{"--bogus", "list"}, 2, "unknown option \"--bogus\""},
        {{"dump", ".."}, 2, "not a component name"},
        {{"cache"}, 2, "cache takes the subcommand refresh"},
        {{"cache", "refresh"}, 2, "cache refresh takes --user NAME"},
        {{"dump", kComponent, "--user", "x"}, 2, "dump takes no --user"},
    };
    for (const Case& test : cases) {
        const ToolRunner::Result result = tool(test.args);
        EXPECT_EQ(result.status, test.status) << result.err;
        EXPECT_NE(result.err.find(test.err), std::string::npos) << result.err;
        EXPECT_EQ(result.out, "");
    }

    // A store that is not there is a service failure, never "no policy"
    // (watch waits for it to appear, as the programs do).
    const std::string missing = (mDir / "no-store").string();
    for (const std::vector<std::string>& args : {std::vector<std::string>{"list"},
                                                 {"dump", kComponent},
                                                 {"layers", kComponent},
                                                 {"get", kComponent + "/apps/browser"}}) {
        std::vector<std::string> command = args;
        command.insert(command.begin(), HOLLINCTL_BINARY);
        const ToolRunner::Result result =
            ToolRunner::run(command, {{"VESK_POLICY_STORE", missing}, {"VESKLEG_LOG", ""}});
        EXPECT_EQ(result.status, 3) << args[0] << ": " << result.err;
        EXPECT_NE(result.err.find("policy store " + missing), std::string::npos) << result.err;
        EXPECT_NE(result.err.find("Connection failure"), std::string::npos) << result.err;
    }
    // watch waits for the store to come, and says why it sees nothing yet.
    ToolRunner watcher({HOLLINCTL_BINARY, "watch", kComponent},
                       {{"VESK_POLICY_STORE", missing}, {"VESKLEG_LOG", ""}});
    std::string line;
    ASSERT_TRUE(watcher.readErrLine(line, 10s));
    EXPECT_NE(line.find("programs starting now get no policy, as the policy service could not "
                        "read its layers (Connection failure)"),
              std::string::npos)
        << line;
    EXPECT_EQ(watcher.stop(SIGTERM), 0);
}

// Run by root for a user: the copy goes where the user may read and not write;
// a component that does not read in full is not refreshed, and dump says that
// programs read the copy.
TEST_F(HollinctlTest, CacheRefreshKeepsAUsersPolicyInRootsFolder) {
    const struct passwd* nobody = getpwnam("nobody");
    if (geteuid() != 0 || nobody == nullptr) {
        GTEST_SKIP() << "needs root and the user nobody";
    }
    const gid_t group = nobody->pw_gid;
    writeLayer("default", kComponent, kDefaultLayer);
    const fs::path folder = mDir / "cache" / "users" / "nobody";
    std::map<std::string, std::string> env = environment();
    env["HOLLIN_CACHE_DIR"] = folder.string();
    const auto run = [&](std::vector<std::string> args) {
        args.insert(args.begin(), HOLLINCTL_BINARY);
        return ToolRunner::run(args, env);
    };
    ToolRunner::Result result = run({"cache", "refresh", "--user", "nobody"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, kComponent + "\n");
    const struct {
        fs::path path;
        mode_t mode;
        gid_t gid;
    } expected[] = {{folder / ("@" + kComponent + ".xml"), 0640, group},
                    {folder / ("@" + kComponent + ".stamps"), 0640, group},
                    {folder, 0750, group},
                    {folder.parent_path(), 0755, 0}};
    for (const auto& e : expected) {
        struct stat status;
        ASSERT_EQ(stat(e.path.c_str(), &status), 0) << e.path;
        EXPECT_EQ(status.st_uid, 0u) << e.path;
        EXPECT_EQ(status.st_gid, e.gid) << e.path;
        EXPECT_EQ(status.st_mode & 07777, e.mode) << e.path;
    }

    writeLayer("default", kComponent, std::string(kDefaultLayer).substr(0, 200));
    result = run({"cache", "refresh", "--user", "nobody", kComponent});
    EXPECT_EQ(result.status, 3);
    EXPECT_NE(result.err.find("not refreshed: the copy in"), std::string::npos) << result.err;
    result = run({"dump", kComponent});
    EXPECT_NE(result.err.find("note: for " + kComponent +
                              ", programs starting now get the copy in " + folder.string()),
              std::string::npos)
        << result.err;
}

TEST_F(HollinctlTest, HelpForTheToolAndEachCommand) {
    EXPECT_NE(tool({"--help"}).out.find("Usage: hollinctl COMMAND"), std::string::npos);
    EXPECT_EQ(tool({"--version"}).out, "hollinctl " HOLLIN_VERSION "\n");
    for (const char* command : {"list", "layers", "dump", "get", "watch", "check"}) {
        const ToolRunner::Result result = tool({command, "--help"});
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.out.find(std::string("Usage: hollinctl ") + command), 0u) << result.out;
        for (const std::string& line : lines(result.out)) {
            EXPECT_LE(line.size(), 80u) << line;
        }
    }
    EXPECT_NE(tool({"check", "--help"}).out.find("merged last"), std::string::npos);
}

TEST_F(HollinctlTest, WatchPrintsEachChangeWithinASecondUntilTerminated) {
    writeThreeLayers();
    for (const auto& [format, signal] : {std::pair<std::string, int>{"text", SIGTERM},
                                         std::pair<std::string, int>{"json", SIGINT}}) {
        ToolRunner watcher({HOLLINCTL_BINARY, "watch", kComponent, "--format=" + format},
                           environment());
        std::string line;
        ASSERT_TRUE(watcher.readErrLine(line, 10s)) << "watch did not start";
        ASSERT_EQ(line.compare(0, 8, "Watching"), 0) << line;

        std::string edited = kUserLayer;
        edited.replace(edited.find("emacs"), 5, format == "text" ? "nano" : "vim");
        const auto start = std::chrono::steady_clock::now();
        writeLayer(mUserScope, kComponent, edited);
        std::vector<std::string> seen;
        ASSERT_TRUE(watcher.readOutLine(line, 5s)) << "no notification";
        EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
        seen.push_back(line);
        while (seen.size() < 3 && watcher.readOutLine(line, 2s)) {
            seen.push_back(line);
        }
        EXPECT_EQ(watcher.stop(signal), 0) << format;

        if (format == "text") {
            EXPECT_EQ(seen, (std::vector<std::string>{"changed org.test.desktop/apps/editor",
                                                      "changed org.test.desktop/apps",
                                                      "changed org.test.desktop"}));
        } else {
            std::string document;
            for (const std::string& object : seen) {
                document += python(
                    "d = json.load(open(sys.argv[1])); print(d['event'], d['path'], "
                    "d['names'])",
                    object);
            }
            EXPECT_EQ(document,
                      "changed /apps/editor ['apps', 'editor']\nchanged /apps ['apps']\n"
                      "changed / []\n");
        }
    }
}

}  // namespace
