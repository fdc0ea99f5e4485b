// SPDX-License-Identifier: LGPL-2.1-or-later
// hollinctl dump end to end: provenance, subtrees, the tree file and the
// one-layer format.
#include "HollinctlFixture.h"

namespace {

using namespace hollinctltest;

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

// Near the bounds of names and paths: 15 nested groups of 4 000-character
// names hold 20 000 properties, and a later layer removes 1 000 of them. Each
// node's full path would be 60 KB: shown in full per node, the dump grows
// with path length times node count (gigabytes) instead of with the layers.
TEST_F(HollinctlTest, DumpOfLongPathsGrowsWithTheLayersNotWithTheirDepth) {
    std::string open;
    std::string close;
    for (int level = 0; level < 15; ++level) {
        open += R"(<node zel:name=")" + std::to_string(level) + std::string(4000, 'g') + R"(">)";
        close += "</node>";
    }
    const std::string head = R"(<zel:component-data zel:name="org.test.desktop">)" + open;
    const std::string tail = close + "</zel:component-data>\n";
    std::string full;
    std::string removals;
    for (int i = 0; i < 20000; ++i) {
        full += R"(<prop zel:name="p)" + std::to_string(i) + R"("><value>v</value></prop>)";
        if (i < 1000) {
            removals += R"(<prop zel:name="p)" + std::to_string(i) + R"(" zel:op="remove"/>)";
        }
    }
    writeLayer("default", kComponent, head + full + tail);
    writeLayer(mUserScope, kComponent, head + removals + tail);
    const size_t layers = 2 * head.size() + full.size() + removals.size();

    const Program::Result text = tool({"dump", kComponent, "--removed"});
    ASSERT_EQ(text.status, 0) << text.err;
    EXPECT_LE(text.out.size(), 10 * layers);
    EXPECT_NE(text.out.find("\n\u2026/p19999  "), std::string::npos);
    EXPECT_NE(text.out.find("\n\u2026/p999 "), std::string::npos);

    const Program::Result json = tool({"dump", kComponent, "--removed", "--format=json"});
    ASSERT_EQ(json.status, 0) << json.err;
    EXPECT_LE(json.out.size(), 20 * layers);
    // A shortened node's path is its parents' names, each in its own node.
    EXPECT_EQ(python(R"(
d = json.load(open(sys.argv[1]))
nodes = d["nodes"]
def path(n):
    return path(nodes[n["parent"]]) + "/" + n["name"] if n["parent"] is not None else ""
last = nodes[-1]
print(len(nodes), last["path"], len(path(last)), nodes[0]["path"], len(d["removed"]),
      d["removed"][0]["path"], d["removed"][0]["name"]))",
                     json.out),
              "19016 None 60041 / 1000 None p0\n");
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

}  // namespace
