// hollinctl end to end: the built program on a temporary file store, as an
// administrator runs it. JSON output is read back with Python's json module.
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
#include <map>
#include <memory>
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

std::string primaryGroup() {
    const struct group* entry = getgrgid(getgid());
    return entry != nullptr ? entry->gr_name : "";
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
    const Program::Result json = tool({"dump", kComponent, "--format=json"});
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
    const Program::Result text = tool({"dump", kComponent});
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

TEST_F(HollinctlTest, DumpShowsWhatLaterLayersReplacedRemovedOrDropped) {
    writeLayer("default", kComponent, kDefaultLayer);
    // The same content as before, but the host's group now; a removal.
    writeLayer(mHostScope, kComponent, R"(<zel:component-data zel:name="org.test.desktop">
  <node zel:name="kiosk" zel:op="replace"><prop zel:name="mode"><value>off</value></prop></node>
  <node zel:name="apps"><prop zel:name="title" zel:op="remove"/></node>
</zel:component-data>
)");
    // Text on a list and a list on a text: the merger keeps the first type and
    // drops the value; an untyped value on a text is no clash.
    writeLayer(mUserScope, kComponent, R"(<zel:component-data zel:name="org.test.desktop">
  <node zel:name="apps">
    <prop zel:name="favourites" zel:type="xs:string"><value>x</value></prop>
    <prop zel:name="editor" zel:type="zel:string-list"><value>a b</value></prop>
    <prop zel:name="browser"><value>lynx</value></prop>
  </node>
</zel:component-data>
)");
    const Program::Result json = tool({"dump", kComponent, "/apps", "--format=json"});
    ASSERT_EQ(json.status, 0) << json.err;
    EXPECT_EQ(lines(python(R"(
for n in json.load(open(sys.argv[1]))["nodes"]:
    for i in n["ignored"]:
        print(n["path"], i["layer"]["position"], i["reason"]))",
                           json.out)),
              (std::vector<std::string>{"/apps/editor 3 zel:string-list on a xs:string",
                                        "/apps/favourites 3 xs:string on a zel:string-list"}));
    const Program::Result text = tool({"dump", kComponent, "/apps/favourites"});
    EXPECT_NE(text.out.find("    ignored: 3 " + mUserScope + " (xs:string on a zel:string-list)\n"),
              std::string::npos)
        << text.out;
    const Program::Result removed = tool({"dump", kComponent, "/apps", "--removed"});
    EXPECT_NE(removed.out.find("/apps/title           removed by 2 " + mHostScope + "\n"),
              std::string::npos)
        << removed.out;
    EXPECT_EQ(tool({"dump", kComponent, "/apps"}).out.find("removed by"), std::string::npos);
    const Program::Result removedJson = tool({"dump", kComponent, "--removed", "--format=json"});
    EXPECT_EQ(python("print([(r['path'], r['removedBy']['position']) for r in "
                     "json.load(open(sys.argv[1]))['removed']])",
                     removedJson.out),
              "[('/apps/title', 2)]\n");
    EXPECT_EQ(tool({"dump", kComponent, "/kiosk", "--removed", "--format=json"}).out.find("title"),
              std::string::npos);

    const Program::Result kiosk = tool({"dump", kComponent, "/kiosk", "--format=json"});
    EXPECT_EQ(
        python("print(json.load(open(sys.argv[1]))['nodes'][0]['setBy']['position'])", kiosk.out),
        "2\n");
}

TEST_F(HollinctlTest, DumpOfASubtreeAndItsErrors) {
    writeThreeLayers();
    const Program::Result kiosk = tool({"dump", kComponent, "/kiosk", "--format=json"});
    ASSERT_EQ(kiosk.status, 0) << kiosk.err;
    EXPECT_EQ(
        python("print([n['path'] for n in json.load(open(sys.argv[1]))['nodes']])", kiosk.out),
        "['/kiosk', '/kiosk/extra', '/kiosk/mode']\n");

    const Program::Result missingNode = tool({"dump", kComponent, "apps/nothing"});
    EXPECT_EQ(missingNode.status, 1);
    EXPECT_NE(missingNode.err.find("apps/nothing"), std::string::npos) << missingNode.err;

    const Program::Result noLayers = tool({"dump", "org.test.none"});
    EXPECT_EQ(noLayers.status, 1);
    EXPECT_NE(noLayers.err.find("\"org.test.none\" has no layers"), std::string::npos)
        << noLayers.err;
    EXPECT_NE(noLayers.err.find(mStore.string()), std::string::npos) << noLayers.err;
}

TEST_F(HollinctlTest, DumpAsTreeFileReadsBackWithUnserialize) {
    writeThreeLayers();
    const Program::Result xml = tool({"dump", kComponent, "--format=xml"});
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

TEST_F(HollinctlTest, DumpAsLayerMergesAloneIntoTheSameTree) {
    writeThreeLayers();
    // Values and names that need escapes, lists whose items hold the default
    // separator or are empty, locales.
    writeLayer(mUserScope, "org.test.odd", R"(<zel:component-data>
  <node zel:name="a &amp; &lt;b&gt; &quot;c&quot;" zel:finalized="true">
    <prop zel:name="text"><value>one
two	&amp; "three" &lt;/value&gt;</value></prop>
    <prop zel:name="spaced" zel:type="zel:string-list"><value zel:separator="|">a b|c| |</value></prop>
    <prop zel:name="bars" zel:type="zel:string-list"><value zel:separator=",">x y,a|b,c;d</value></prop>
    <prop zel:name="empty" zel:type="zel:int-list"><value></value></prop>
    <prop zel:name="none" zel:type="xs:int"/>
  </node>
  <prop zel:name="title"><value>Plain</value><value xml:lang="de">Deutsch</value></prop>
  <prop zel:name="only" zel:type="zel:string-list"><value xml:lang="fr">un deux</value></prop>
</zel:component-data>
)");
    // Path, type, locked (itself or below a lock: one layer cannot leave a node
    // unlocked below a lock, and says so), values: what survives the round trip.
    const char* const summary = R"(
locked = set()
for n in json.load(open(sys.argv[1]))["nodes"]:
    lock = n["lock"] is not None or n["path"].rsplit("/", 1)[0] in locked
    if lock: locked.add(n["path"])
    print(n["path"], n.get("type"), lock, json.dumps(n.get("values"), sort_keys=True))
)";
    for (const std::string& component : {kComponent, std::string("org.test.odd")}) {
        const Program::Result layer = tool({"dump", component, "--format=layer"});
        ASSERT_EQ(layer.status, 0) << layer.err;
        const fs::path alone = mDir / ("alone-" + component);
        fs::create_directories(alone / "default");
        std::ofstream(alone / "default" / (component + ".xml"), std::ios::binary) << layer.out;
        const Program::Result check =
            tool({"check", (alone / "default" / (component + ".xml")).string()});
        EXPECT_EQ(check.status, 0) << check.out << layer.out;
        const Program::Result again = Program::run(
            {HOLLINCTL_BINARY, "dump", component, "--format=json", "--store", alone.string()});
        ASSERT_EQ(again.status, 0) << again.err;
        EXPECT_EQ(python(summary, again.out),
                  python(summary, tool({"dump", component, "--format=json"}).out))
            << layer.out;
    }
    EXPECT_NE(tool({"dump", kComponent, "--format=layer"})
                  .err.find("warning: /kiosk/extra was added below a lock"),
              std::string::npos);
    EXPECT_EQ(tool({"dump", kComponent, "apps", "--format=layer"}).status, 2);
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
        const Program::Result result = tool(args);
        EXPECT_EQ(result.status, test.status) << test.args[0] << "\n" << result.err;
        EXPECT_EQ(result.out, test.out) << test.args[0];
        EXPECT_NE(result.err.find(test.err), std::string::npos) << result.err;
    }
    const Program::Result json = tool({"get", c + "/apps/favourites", "--format=json"});
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
    const Program::Result text = tool({"layers", kComponent});
    ASSERT_EQ(text.status, 0) << text.err;
    const std::vector<std::string> out = lines(text.out);
    ASSERT_EQ(out.size(), 5u) << text.out;
    EXPECT_EQ(out[0], kComponent + " for the current user \"" + userName() + "\" (groups " +
                          out[0].substr(out[0].find("(groups ") + 8));
    EXPECT_EQ(out[1].compare(0, 3, "POS"), 0);
    EXPECT_EQ(out[2].compare(0, 12, "1    default"), 0) << out[2];
    EXPECT_NE(out[3].find(mHostScope), std::string::npos);
    EXPECT_NE(out[3].find("broken at line 3"), std::string::npos) << out[3];
    EXPECT_NE(out[4].find(mUserScope), std::string::npos);
    EXPECT_NE(out[4].find(std::to_string(sizeof kUserLayer - 1)), std::string::npos);

    const Program::Result json = tool({"layers", kComponent, "--format=json"});
    ASSERT_EQ(json.status, 0) << json.err;
    EXPECT_EQ(python(R"(
for l in json.load(open(sys.argv[1]))["layers"]:
    print(l["position"], l["scope"], l["size"], type(l["time"]).__name__, l["error"] and l["error"]["line"]))",
                     json.out),
              "1 default " + std::to_string(sizeof kDefaultLayer - 1) + " int None\n" + "2 " +
                  mHostScope + " " + std::to_string(broken.size()) + " int 3\n" + "3 " +
                  mUserScope + " " + std::to_string(sizeof kUserLayer - 1) + " int None\n");
}

TEST_F(HollinctlTest, LayersListsAnUnreadableLayerAsARowAndAllScopesSearched) {
    writeThreeLayers();
    const std::string folder = (mStore / mHostScope / (kComponent + ".xml")).string();
    fs::remove(folder);
    fs::create_directories(folder);
    // libvesk fails the whole stack; each layer still gets its row.
    const Program::Result broken = tool({"layers", kComponent, "--format=json"});
    EXPECT_EQ(broken.status, 3) << broken.err;
    EXPECT_EQ(
        lines(python(R"(
for l in json.load(open(sys.argv[1]))["layers"]:
    print(l["position"], l["scope"], l["size"] is None, l["problem"] or "ok"))",
                     broken.out)),
        (std::vector<std::string>{"1 default False ok",
                                  "2 " + mHostScope + " True " + folder + ": not a regular file",
                                  "3 " + mUserScope + " False ok"}));
    EXPECT_NE(
        tool({"layers", kComponent}).err.find(folder + ": not a regular file (Database error)"),
        std::string::npos);

    // Every scope searched, with the ones without a file between them.
    fs::remove(folder);
    const Program::Result all = tool({"layers", kComponent, "--all"});
    EXPECT_EQ(all.status, 0) << all.err;
    const std::vector<std::string> out = lines(all.out);
    ASSERT_GE(out.size(), 5u) << all.out;
    EXPECT_EQ(out[2].compare(0, 12, "1    default"), 0) << out[2];
    EXPECT_EQ(out.back().compare(0, 3, "2  "), 0) << out.back();
    EXPECT_NE(out[out.size() - 2].find(mHostScope), std::string::npos) << all.out;
    EXPECT_NE(out[out.size() - 2].find("no file"), std::string::npos) << all.out;
    EXPECT_EQ(tool({"dump", kComponent, "--all"}).status, 2);
}

TEST_F(HollinctlTest, PlanningShowsAnyUsersGroupsAndHostsPolicy) {
    // Each scope sets the editor to its own name; the last in the stack wins.
    for (const std::string scope :
         {"default", "groups/adm", "groups/staff", "hosts/ws12", "users/alice", "entities/kiosk"}) {
        writeLayer(scope, kComponent,
                   "<zel:component-data><node zel:name=\"apps\"><prop zel:name=\"editor\">"
                   "<value>" +
                       scope + "</value></prop></node></zel:component-data>");
    }
    struct Case {
        std::vector<std::string> options;
        int status;
        std::string out;
        std::string err;  // a part of standard error
    };
    const Case cases[] = {
        {{"--user", "alice", "--groups", "staff", "--host", "ws12"}, 0, "users/alice\n", ""},
        // Groups stack in byte order, whatever order they are given in.
        {{"--user", "alice", "--groups=staff,adm"}, 0, "users/alice\n", ""},
        // Most users have no folder; a named group or host should.
        {{"--user", "bob", "--groups=staff,adm"}, 0, "groups/staff\n", ""},
        {{"--user", "alice", "--groups=stafff"},
         0,
         "users/alice\n",
         "groups/stafff (did you mean staff?)"},
        {{"--user", "alice", "--host=WS12"}, 0, "users/alice\n", "hosts/WS12 (did you mean ws12?)"},
        {{"--user", "bob", "--groups=adm", "--host=ws12"}, 0, "hosts/ws12\n", ""},
        {{"--entity", "kiosk", "--host", "ws12"}, 0, "entities/kiosk\n", ""},
        {{"--entity", "kiosk.test", "--host", "ws12"}, 0, "hosts/ws12\n", "no folder entities/"},
        {{"--user", "../alice"}, 2, "", "not a name of a store folder"},
        {{"--groups", "a/b"}, 2, "", "not a name of a store folder"},
        {{"--entity", "kiosk", "--user", "alice"}, 2, "", "--entity takes no --user"},
    };
    for (const Case& test : cases) {
        std::vector<std::string> args{"get", kComponent + "/apps/editor"};
        args.insert(args.end(), test.options.begin(), test.options.end());
        const Program::Result result = tool(args);
        EXPECT_EQ(result.status, test.status) << test.options[1] << ": " << result.err;
        EXPECT_EQ(result.out, test.out) << test.options[1];
        EXPECT_NE(result.err.find(test.err), std::string::npos) << result.err;
    }
    EXPECT_EQ(tool({"watch", kComponent, "--user", "alice"}).status, 2);
    EXPECT_EQ(tool({"get", kComponent + "/apps/editor", "--user", "bob"}).err, "");

    // Every document names whose stack it is.
    const Program::Result json = tool(
        {"dump", kComponent, "--user=alice", "--groups=staff", "--host=ws12", "--format=json"});
    EXPECT_EQ(python("d = json.load(open(sys.argv[1])); print(d['user'], d['groups'], d['host'], "
                     "[l['scope'] for l in d['layers']])",
                     json.out),
              "alice ['staff'] ws12 ['default', 'groups/staff', 'hosts/ws12', 'users/alice']\n");
    for (const char* command : {"dump", "layers"}) {
        const Program::Result text = tool({command, kComponent, "--user=alice", "--groups=staff"});
        EXPECT_EQ(text.status, 0) << text.err;
        EXPECT_EQ(text.out.find(kComponent + " for user \"alice\" (groups staff; host "), 0u)
            << command;
    }
}

TEST_F(HollinctlTest, CheckInContextTellsLocksClashesAndChangesBeforeDeploying) {
    writeThreeLayers();
    const fs::path file = mDir / "new.xml";
    std::ofstream(file) << R"(<zel:component-data>
  <node zel:name="apps">
    <prop zel:name="browser"><value>lynx</value></prop>
    <prop zel:name="favourites" zel:type="xs:string"><value>x</value></prop>
    <prop zel:name="title"><value>Browser</value></prop>
  </node>
</zel:component-data>
)";
    const std::string f = file.string();
    struct Case {
        std::string scope;
        int status;
        std::vector<std::string> out;
    };
    const Case cases[] = {
        // In the host's place: the host's own lock does not hold against it,
        // and the host's lock on kiosk is gone with its layer.
        {mHostScope,
         1,
         {f + ": merged as layer 2 " + mHostScope + " of 3 of \"org.test.desktop\" for",
          f + ": /apps/favourites: xs:string on a zel:string-list: the value would be dropped",
          "changed org.test.desktop/apps/browser", "changed org.test.desktop/apps",
          "changed org.test.desktop/kiosk/mode", "changed org.test.desktop/kiosk",
          "changed org.test.desktop"}},
        {mUserScope,
         1,
         {f + ": merged as layer 3 " + mUserScope + " of 3 of \"org.test.desktop\" for",
          f + ": /apps/browser is locked by 2 " + mHostScope + ": this change would be refused",
          f + ": /apps/favourites: xs:string on a zel:string-list: the value would be dropped",
          "changed org.test.desktop/apps/editor", "changed org.test.desktop/apps",
          // As watch prints a removal: before and after the node's old subtree.
          "removed org.test.desktop/kiosk/extra", "removed org.test.desktop/kiosk/extra",
          "changed org.test.desktop/kiosk", "changed org.test.desktop"}},
    };
    for (const Case& test : cases) {
        const Program::Result result =
            tool({"check", "--component", kComponent, "--scope", test.scope, f});
        EXPECT_EQ(result.status, test.status) << result.err;
        std::vector<std::string> out = lines(result.out);
        if (!out.empty()) {
            out[0] = out[0].substr(0, out[0].find(" for ") + 4);
        }
        EXPECT_EQ(out, test.out) << result.out;
    }
    EXPECT_EQ(tool({"check", "--component", kComponent, "--scope", "groups/../x", f}).status, 2);
    EXPECT_EQ(tool({"check", "--component", kComponent, f}).status, 2);
}

TEST_F(HollinctlTest, CheckOfAStoreFindsWhatCanNeverApply) {
    writeThreeLayers();
    const fs::path s = mStore;
    fs::create_directories(s / "group" / "staff");
    fs::create_directories(s / "user");
    std::ofstream(s / "default" / "org.test.upper.XML") << "<zel:component-data/>";
    std::ofstream(s / "default" / "notes.txt") << "notes";
    ASSERT_EQ(mkfifo((s / "default" / "org.test.fifo.xml").c_str(), 0644), 0);
    std::ofstream(s / "default" / "org.test.broken.xml") << "<zel:component-data>\n<node>";
    fs::create_directories(s / "groups");
    std::ofstream(s / "groups" / "staff") << "";
    fs::create_directories(s / "users" / "no-such-user-h7");
    std::ofstream(s / "default" / "org.test.Desktop.xml") << "<zel:component-data/>";
    fs::create_directories(s / "groups" / "adm");
    std::ofstream(s / "groups" / "adm" / "org.test.desktop.xml")
        << "<zel:component-data><node zel:name=\"launcher_list\"><node zel:name=\"mail\"/>"
           "</node></zel:component-data>";
    std::string upperHost = hostName();
    std::transform(upperHost.begin(), upperHost.end(), upperHost.begin(), ::toupper);
    if (upperHost != hostName()) {
        fs::create_directories(s / "hosts" / upperHost);
    }
    struct Case {
        std::string where;
        std::string message;  // a part of the line
    };
    const std::string st = s.string();
    const Case cases[] = {
        {st + "/group",
         "folder outside the scopes (default, groups, hosts, users, entities): "
         "never read (did you mean groups/?)"},
        {st + "/user", "(did you mean users/?)"},
        {st + "/default/org.test.upper.XML", "only names ending in .xml are read"},
        {st + "/default/notes.txt", "warning: not a layer (no .xml): never read"},
        {st + "/default/org.test.fifo.xml", "not a regular file: fails every stack it is in"},
        {st + "/default/org.test.broken.xml:2", "malformed XML"},
        {st + "/groups/staff", "a file where a group folder belongs"},
        {st + "/users/no-such-user-h7", "warning: no user of that name on this system"},
        // Between layers: a lock of an earlier scope, names a letter apart, an empty entry.
        {st + "/" + mUserScope + "/org.test.desktop.xml",
         "/apps/browser is locked by " + mHostScope + ": this layer's change never applies"},
        {st + "/default/org.test.Desktop.xml",
         "warning: component \"org.test.Desktop\" is a letter or case off \"org.test.desktop\""},
        {st + "/groups/adm/org.test.desktop.xml",
         "warning: launcher_list/mail is empty here: where no other layer fills it, it makes an "
         "entry with nothing to run"},
    };
    const Program::Result result = tool({"check", "-r", st});
    EXPECT_EQ(result.status, 1) << result.err;
    const std::vector<std::string> out = lines(result.out);
    for (const Case& test : cases) {
        EXPECT_TRUE(std::any_of(out.begin(), out.end(), [&](const std::string& line) {
            return line.compare(0, test.where.size() + 1, test.where + ":") == 0 &&
                   line.find(test.message) != std::string::npos;
        })) << test.where;
    }
    if (upperHost != hostName()) {
        EXPECT_NE(result.out.find("host names are compared as written"), std::string::npos);
    }
    // The configured store by default; a broken layer stops the export.
    EXPECT_EQ(tool({"check", "-r"}).out, result.out);
    fs::remove(s / "default" / "org.test.fifo.xml");
    const Program::Result exported = tool({"export-ldif", st, "dc=example"});
    EXPECT_EQ(exported.status, 1);
    EXPECT_EQ(exported.out, "");
    EXPECT_NE(exported.err.find("nothing exported: the store has broken layers"),
              std::string::npos);
}

TEST_F(HollinctlTest, SetUnsetLockAndUnlockEditTheScopesLayerSafely) {
    writeThreeLayers();
    const std::string c = kComponent;
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string err;               // a part of standard error
        std::vector<std::string> get;  // then: get ARGS
        std::string value;             // its output
    };
    const Case cases[] = {
        // A new layer in a new scope folder; the type comes from the stack.
        {{"set", "--scope", "groups/staff", c + "/apps/favourites", "x y"},
         0,
         "",
         {c + "/apps/favourites", "--groups=staff"},
         "x\ny\n"},
        // Into the user's existing layer, which keeps its other settings.
        {{"set", "--scope", mUserScope, c + "/apps/editor", "a & <b>"},
         0,
         "",
         {c + "/kiosk/extra"},
         "yes\n"},
        {{}, 0, "", {c + "/apps/editor"}, "a & <b>\n"},
        {{"unset", "--scope", mUserScope, c + "/apps/editor"}, 0, "", {c + "/apps/editor"}, "vi\n"},
        {{"unset", "--scope", mUserScope, c + "/apps/editor"}, 1, "has no element for", {}, ""},
        // A lock in the default layer holds against the user's layer: the
        // value is refused unless forced, and then still does not apply.
        {{"lock", "--scope", "default", c + "/apps/editor"}, 0, "", {}, ""},
        {{"set", "--scope", mUserScope, c + "/apps/editor", "nano"},
         1,
         "would not apply in " + mUserScope + ": locked by 1 default (--force",
         {c + "/apps/editor"},
         "vi\n"},
        {{"set", "--scope", mUserScope, c + "/apps/editor", "nano", "--force"},
         0,
         "",
         {c + "/apps/editor"},
         "vi\n"},
        {{"unlock", "--scope", "default", c + "/apps/editor"},
         0,
         "",
         {c + "/apps/editor"},
         "nano\n"},
        {{"unlock", "--scope", "default", c + "/apps/editor"}, 1, "has no lock", {}, ""},
        // The host's lock of kiosk holds in the stack named, not before default.
        {{"set", "--scope", "users/bob", c + "/kiosk/mode", "off", "--user", "bob", "--host",
          hostName()},
         1,
         "kiosk/mode\" would not apply in users/bob: locked by 2 " + mHostScope,
         {},
         ""},
        {{"set", "--scope", "users/bob", c + "/kiosk/mode", "off"},
         0,
         "",
         {c + "/kiosk/mode", "--user", "bob"},
         "on\n"},
        // A value of the wrong kind would be dropped at every merge.
        {{"set", "--scope", "groups/staff", c + "/apps/favourites", "x", "--type", "xs:string"},
         1,
         "its type clashes: xs:string on a zel:string-list",
         {},
         ""},
        // A lock names what some layer has; a typo is not made a new node.
        {{"lock", "--scope", "default", c + "/apps/editr"},
         1,
         "no layer up to default has \"" + c + "/apps/editr\" (did you mean editor?)",
         {},
         ""},
        {{"lock", "--scope", "default", c + "/kiosk/Mode"}, 1, "(did you mean mode?)", {}, ""},
        {{"lock", "--scope", "default", c + "/apps/new", "--create"}, 0, "", {}, ""},
        // Unset leaves no empty group behind to make an empty node.
        {{"set", "--scope", "groups/staff", c + "/launchers/mail/Exec", "mutt"}, 0, "", {}, ""},
        {{"unset", "--scope", "groups/staff", c + "/launchers/mail/Exec"}, 0, "", {}, ""},
        // Refused: what check would find, a lock that locks nothing, and
        // places that are not a scope or a node.
        {{"set", "--scope", "default", c + "/apps/editor", " vi "}, 1, "blanks", {}, ""},
        {{"lock", "--scope", mUserScope, c + "/apps/editor"}, 1, "merged last", {}, ""},
        {{"set", "--scope", "groups/../x", c + "/a", "v"}, 2, "not a scope", {}, ""},
        {{"set", c + "/a", "v"}, 2, "needs --scope", {}, ""},
        {{"set", "--scope", "default", c, "v"}, 2, "a node below the root", {}, ""},
        {{"set", "--scope", "default", c + "/a", "v", "--type", "xs:float"},
         2,
         "unknown type",
         {},
         ""},
    };
    for (const Case& test : cases) {
        if (!test.args.empty()) {
            const Program::Result result = tool(test.args);
            EXPECT_EQ(result.status, test.status) << test.args[0] << " " << test.args[3];
            EXPECT_NE(result.err.find(test.err), std::string::npos) << result.err;
        }
        if (!test.get.empty()) {
            std::vector<std::string> args{"get"};
            args.insert(args.end(), test.get.begin(), test.get.end());
            EXPECT_EQ(tool(args).out, test.value) << test.get[0];
        }
    }
    // bob's layer, written by force, fights the host's lock.
    const Program::Result checked = tool({"check", "-r"});
    EXPECT_EQ(checked.status, 1);
    EXPECT_NE(checked.out.find("/users/bob/" + c + ".xml: /kiosk/mode is locked by " + mHostScope +
                               ": this layer's change never applies where both are in the stack"),
              std::string::npos)
        << checked.out;
    std::ifstream staff(mStore / "groups" / "staff" / (c + ".xml"));
    const std::string staffLayer{std::istreambuf_iterator<char>(staff), {}};
    EXPECT_EQ(staffLayer.find("launchers"), std::string::npos) << staffLayer;
    // A scope folder that cannot be made is an error that says why.
    std::ofstream(mStore / "entities") << "";
    const Program::Result blocked =
        tool({"set", "--scope", "entities/kiosk", c + "/apps/editor", "vi"});
    EXPECT_EQ(blocked.status, 3);
    EXPECT_NE(blocked.err.find("entities/kiosk: Not a directory"), std::string::npos)
        << blocked.err;
}

// Edits of one layer at once all land: each holds the scope's folder from its
// read to its replace.
TEST_F(HollinctlTest, EditsAtOnceLoseNothing) {
    const int kPairs = 20;
    for (int pair = 0; pair < kPairs; ++pair) {
        std::vector<std::unique_ptr<Program>> running;
        for (const char* side : {"a", "b"}) {
            running.push_back(std::make_unique<Program>(
                std::vector<std::string>{HOLLINCTL_BINARY, "set", "--scope", "groups/staff",
                                         kComponent + "/p" + std::to_string(pair) + "/" + side,
                                         "v"},
                environment()));
        }
        for (const std::unique_ptr<Program>& program : running) {
            EXPECT_EQ(program->wait(20s), 0);
        }
    }
    const Program::Result dump = tool({"dump", kComponent, "--groups", "staff"});
    for (int pair = 0; pair < kPairs; ++pair) {
        for (const char* side : {"a", "b"}) {
            const std::string path = "/p" + std::to_string(pair) + "/" + side;
            EXPECT_NE(dump.out.find(path), std::string::npos) << path << " lost";
        }
    }
}

// Policy is read by every user, whatever umask the administrator's shell has;
// check -r finds a layer or folder that others cannot read.
TEST_F(HollinctlTest, EditsAreReadableByAllAndCheckFindsWhatIsNot) {
    const std::string set = std::string("umask 077; exec ") + HOLLINCTL_BINARY +
                            " set --scope groups/staff " + kComponent + "/a/b v";
    std::map<std::string, std::string> env = environment();
    ASSERT_EQ(Program::run({"sh", "-c", set}, env).status, 0);
    const fs::path layer = mStore / "groups" / "staff" / (kComponent + ".xml");
    const auto mode = [](const fs::path& path) {
        struct stat info {};
        stat(path.c_str(), &info);
        return info.st_mode & 07777;
    };
    EXPECT_EQ(mode(mStore / "groups"), 0755u);
    EXPECT_EQ(mode(mStore / "groups" / "staff"), 0755u);
    EXPECT_EQ(mode(layer), 0644u);
    EXPECT_EQ(tool({"check", "-r"}).out, mStore.string() + ": ok\n");

    // An existing layer keeps its mode; check -r names it and its folder.
    chmod(layer.c_str(), 0600);
    ASSERT_EQ(Program::run({"sh", "-c", set}, env).status, 0);
    EXPECT_EQ(mode(layer), 0600u);
    chmod((mStore / "groups" / "staff").c_str(), 0711);
    const Program::Result check = tool({"check", "-r"});
    EXPECT_EQ(check.status, 1);
    EXPECT_NE(check.out.find(layer.string() + ": layer of mode 0600 that not every user of its"),
              std::string::npos)
        << check.out;
    EXPECT_NE(check.out.find("staff: folder of mode 0711 that not every user of its stacks"),
              std::string::npos)
        << check.out;
    // A user's or group's own layer may be theirs alone.
    for (const std::string& scope : {mUserScope, "groups/" + primaryGroup()}) {
        writeLayer(scope, "org.test.own", "<zel:component-data/>");
        chmod((mStore / scope).c_str(), 0750);
        chmod((mStore / scope / "org.test.own.xml").c_str(), scope == mUserScope ? 0600 : 0640);
    }
    const Program::Result own = tool({"check", "-r"});
    EXPECT_EQ(own.out.find("org.test.own.xml: layer of mode"), std::string::npos) << own.out;
    EXPECT_EQ(own.out.find(mUserScope + ": folder of mode"), std::string::npos) << own.out;
}

TEST_F(HollinctlTest, ListWithPrefixAndOtherEntities) {
    writeThreeLayers();
    writeLayer("default", "org.test.apps", "<zel:component-data/>");
    writeLayer("entities/kiosk.test", "com.other.kiosk", "<zel:component-data/>");

    EXPECT_EQ(tool({"list"}).out, "org.test.apps\norg.test.desktop\n");
    EXPECT_EQ(tool({"list", "org.test.d"}).out, "org.test.desktop\n");
    EXPECT_EQ(tool({"list", "--entity", "kiosk.test"}).out,
              "com.other.kiosk\norg.test.apps\norg.test.desktop\n");
    const Program::Result json = tool({"--format=json", "list"});
    EXPECT_EQ(python("print(json.load(open(sys.argv[1]))['components'])", json.out),
              "['org.test.apps', 'org.test.desktop']\n");

    // --store in place of the variable.
    EXPECT_EQ(Program::run({HOLLINCTL_BINARY, "list", "--store", mStore.string()},
                           {{"VESK_POLICY_STORE", ""}})
                  .out,
              "org.test.apps\norg.test.desktop\n");

    const Program::Result none = tool({"list", "net."});
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

    const Program::Result list = tool({"list"});
    EXPECT_EQ(list.out, "org.\\x1b[31mred.\\xff\norg.test.desktop\n");
    const Program::Result listJson = tool({"list", "--format=json"});
    EXPECT_EQ(python("print(ascii(json.load(open(sys.argv[1]))['components']))", listJson.out),
              "['org.\\x1b[31mred.\\ufffd', 'org.test.desktop']\n");

    const Program::Result text = tool({"dump", kComponent});
    EXPECT_NE(text.out.find(R"(    "one\ntwo\t\u{202E}txt.exe \xc2\x85\u{2028} \"q\" \\")"),
              std::string::npos)
        << text.out;
    EXPECT_EQ(text.out.find('\x1b'), std::string::npos);
    EXPECT_EQ(text.out.find("\xe2\x80\xae"), std::string::npos);

    const Program::Result json = tool({"dump", kComponent, "--format=json"});
    EXPECT_EQ(python("print(ascii(json.load(open(sys.argv[1]))['nodes'][1]['values']['default']))",
                     json.out),
              "'one\\ntwo\\t\\u202etxt.exe \\x85\\u2028 \"q\" \\\\'\n");

    // Component names of random bytes (all a file name may hold): the listing
    // is valid JSON with one entry per layer, and text without raw controls.
    std::mt19937 random(20241206);
    std::set<std::string> names{evilName, kComponent};
    while (names.size() < 300) {
        std::string name(1 + random() % 24, '\0');
        for (char& c : name) {
            c = static_cast<char>(1 + random() % 255);
        }
        if (name.find('/') == std::string::npos && name != "." && name != "..") {
            names.insert(name);
            writeLayer("default", name, "<zel:component-data/>");
        }
    }
    const Program::Result many = tool({"list", "--format=json"});
    EXPECT_EQ(python("print(len(json.load(open(sys.argv[1]))['components']))", many.out), "300\n");
    const std::string shown = tool({"list"}).out;
    EXPECT_EQ(std::count(shown.begin(), shown.end(), '\n'), 300);
    for (unsigned char c : shown) {
        EXPECT_TRUE(c == '\n' || (c >= 0x20 && c != 0x7f)) << "raw control in " << shown;
    }
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
        {{"dupm", "x"}, 2, "unknown command \"dupm\" (did you mean dump?)"},
        {{"help", "lyers"}, 2, "unknown command \"lyers\" (did you mean layers?)"},
        {{"dump", "org.test.dekstop"}, 1, "(did you mean org.test.desktop?)"},
        {{"get", "org.test.Desktop/apps/browser"}, 1, "(did you mean org.test.desktop?)"},
        {{"get", kComponent + "/aps/browser"}, 1, "/aps/browser\" (did you mean apps?)"},
        {{"dump", kComponent, "apps/brwoser"}, 1, "(did you mean browser?)"},
        {{"set", "--scope", "grops/x", kComponent + "/a", "v"}, 2, "(did you mean groups?)"},
        {{"get", kComponent, "apps/browser"},
         2,
         "COMPONENT/PATH as one word: \"org.test.desktop/apps/browser\""},
        {{"list", "--store="}, 2, "--store needs a folder"},
        {{"watch", kComponent, "--strict"}, 2, "watch takes no --strict"},
        {{"cache"}, 2, "cache takes the subcommand refresh"},
        {{"cache", "refresh"}, 2, "cache refresh takes --user NAME"},
    };
    for (const Case& test : cases) {
        const Program::Result result = tool(test.args);
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
        const Program::Result result =
            Program::run(command, {{"VESK_POLICY_STORE", missing}, {"VESKLEG_LOG", ""}});
        EXPECT_EQ(result.status, 3) << args[0] << ": " << result.err;
        EXPECT_NE(result.err.find("policy store " + missing), std::string::npos) << result.err;
        EXPECT_NE(result.err.find(missing + ": No such file or directory (Connection failure)"),
                  std::string::npos)
            << result.err;
    }
    // watch waits for the store to come, and says why it sees nothing yet.
    Program watcher({HOLLINCTL_BINARY, "watch", kComponent},
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
        return Program::run(args, env);
    };
    Program::Result result = run({"cache", "refresh", "--user", "nobody"});
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

TEST_F(HollinctlTest, StoreFailuresNameThePlaceAndTheSystemsReason) {
    writeThreeLayers();
    const fs::path file = mDir / "a-file";
    std::ofstream(file) << "not a store";
    const fs::path locked = mDir / "locked";
    fs::create_directories(locked / "default");
    fs::permissions(locked, fs::perms::none);
    fs::create_directories(mStore / mUserScope / (kComponent + ".xml.d"));
    const std::string folderLayer = "org.test.folder";
    fs::create_directories(mStore / "default" / (folderLayer + ".xml"));
    struct Case {
        std::string store;
        std::string component;
        int status;
        std::string err;  // a part of standard error
    };
    const Case cases[] = {
        {file.string(), kComponent, 3, file.string() + ": Not a directory (Connection failure)"},
        {locked.string(), kComponent, 3, locked.string() + ": Permission denied"},
        {mStore.string(), folderLayer, 3,
         (mStore / "default" / (folderLayer + ".xml")).string() +
             ": not a regular file (Database error)"},
        // Nothing listens on port 1 of the loopback.
        {"ldap://127.0.0.1:1/dc=example", kComponent, 3,
         "ldap://127.0.0.1:1: Can't contact LDAP server (connect 127.0.0.1:1: Connection refused)"},
        {"ldap://127.0.0.1:1/", kComponent, 3, "URL has no base DN"},
        {"ldap://no-such-host.invalid/dc=x", kComponent, 3, "host no-such-host.invalid: "},
        {"ldap://127.0.0.1:1/dc=x?cn", kComponent, 3, "URL has a query"},
        {"http://example.org/policy", kComponent, 3,
         "http://example.org/policy: not a URL libvesk reads"},
        {"", kComponent, -1, "VESK_POLICY_STORE is empty, so the built-in store"},
    };
    for (const Case& test : cases) {
        if (test.store == locked.string() && geteuid() == 0) {
            continue;  // root reads any folder
        }
        // An empty value given to the runner would unset the variable.
        const Program::Result result = Program::run(
            {"env", "VESK_POLICY_STORE=" + test.store, HOLLINCTL_BINARY, "dump", test.component},
            {{"VESKLEG_LOG", ""}});
        if (test.status >= 0) {
            EXPECT_EQ(result.status, test.status) << test.store << ": " << result.err;
        }
        EXPECT_NE(result.err.find(test.err), std::string::npos) << test.store << ": " << result.err;
    }
    fs::permissions(locked, fs::perms::owner_all);
}

// Reads lines of standard output until one starts with prefix (node events
// come between); the line, or "" when none came.
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
}

TEST_F(HollinctlTest, HelpForTheToolAndEachCommand) {
    EXPECT_NE(tool({"--help"}).out.find("Usage: hollinctl COMMAND"), std::string::npos);
    EXPECT_EQ(tool({"--version"}).out, "hollinctl " HOLLIN_VERSION "\n");
    for (const char* command : {"list", "layers", "dump", "get", "watch", "check", "set"}) {
        const Program::Result result = tool({command, "--help"});
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.out.find(std::string("Usage: hollinctl ") + command), 0u) << result.out;
        for (const std::string& line : lines(result.out)) {
            EXPECT_LE(line.size(), 80u) << line;
        }
    }
    EXPECT_NE(tool({"check", "--help"}).out.find("merged last"), std::string::npos);
    EXPECT_EQ(tool({"help", "dump"}).out, tool({"dump", "--help"}).out);
    EXPECT_EQ(tool({"help"}).out, tool({"--help"}).out);
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

}  // namespace
