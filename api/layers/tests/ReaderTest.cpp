// SPDX-License-Identifier: LGPL-2.1-or-later
// The reader: event sequences for the parts of the format that are easy to misread,
// parse errors, and hostile layers kept as fixtures (external entities, entity
// expansion, deep nesting) or built to size (memory bounds).
#include <gtest/gtest.h>
#include <libxml/parser.h>

#include <algorithm>
#include <ctime>
#include <memory>

#include "ChildRun.h"
#include "LayerTestSupport.h"
#include "SyslogSeam.h"
#include "layers/LayerLimitExceeded.h"
#include "layers/SaxParser.h"
#include "layers/TreeMerger.h"
#include "model/NodeVisitor.h"

namespace vesk::legacy::test {
namespace {

TEST(Reader, GivesTheseEventsAndWarnings) {
    struct Case {
        std::string what, document, events;
        std::string logged = "";  // what the reader warns of
    };
    // Bodies inside <zel:component-data zel:name="c">, and the events between the root's.
    std::vector<Case> cases = {
        {"operations; anything but the exact texts modifies; unknown types are strings",
         R"(<node zel:name="a" zel:op="replace"/><group zel:name="b" zel:op="remove"/>
        <set zel:name="c" zel:op="Remove"/><zel:set zel:name="d" zel:op="modify"/>
        <zel:node zel:name="e"/><zel:group zel:name="f" zel:op="delete"/>
        <prop zel:name="g" zel:type="xs:hexBinary" zel:op="replace"/>
        <prop zel:name="h" zel:type="xs:float"/>)",
         "replaceNode(a,0) endNode removeNode(b) endNode modifyNode(c,0) endNode modifyNode(d,0) "
         "endNode modifyNode(e,0) endNode modifyNode(f,0) endNode replaceProperty(g,6,0) "
         "endProperty modifyProperty(h,5,0) endProperty"},
        {"finalisation: only lower-case true",
         R"(<node zel:name="a" zel:finalized="true"/><node zel:name="b" zel:finalized="True"/>
        <node zel:name="c" zel:finalized="1"/><prop zel:name="d" zel:finalized="true"/>)",
         "modifyNode(a,1) endNode modifyNode(b,0) endNode modifyNode(c,0) endNode "
         "modifyProperty(d,5,1) endProperty"},
        {"list splitting keeps empty items; an explicit separator wins",
         R"(<prop zel:name="l" zel:type="zel:string-list"><value>a  b </value>
        <value zel:separator=",">a b,c</value><value/><value zel:separator="">x y</value></prop>)",
         "modifyProperty(l,12,0) setListValue[a,,b,]@ setListValue[a b,c]@ setListValue[]@ "
         "setStringValue[x y]@ endProperty"},
        {"the type of a removal still sets the separator; a removed prop gets endProperty",
         R"(<prop zel:name="l" zel:type="zel:int-list" zel:op="remove"><value>1 2</value></prop>
        <prop zel:name="s"><value zel:separator=";">1;2</value><value>3 4</value></prop>)",
         "removeNode(l) setListValue[1,2]@ endProperty modifyProperty(s,5,0) setListValue[1,2]@ "
         "setStringValue[3 4]@ endProperty"},
        {"locales: missing xml:lang is the empty locale; two values in order; nothing trimmed",
         "<prop zel:name=\"n\"><value xml:lang=\"de\">Post</value><value> Mail\n</value>"
         "<value></value></prop>",
         "modifyProperty(n,5,0) setStringValue[Post]@de setStringValue[ Mail\n]@ "
         "setStringValue[]@ endProperty"},
        {"text of unknown elements inside a value joins it; text elsewhere is dropped",
         R"(loose<prop zel:name="p">skip<value>a<item>b</item><other/>c</value>skip</prop>)",
         "modifyProperty(p,5,0) setStringValue[abc]@ endProperty"},
        {"only unprefixed prop is a property; its value element still reports",
         R"(<zel:prop zel:name="z"><value>v</value></zel:prop><zel:value>w</zel:value>)",
         "setStringValue[v]@"},
        {"ampersands in attribute values and text",
         R"(<node zel:name="R&amp;D&amp;E"><prop zel:name="a&#38;b&amp;#38;" zel:type="zel:string-list">
        <value zel:separator="&amp;" xml:lang="x&amp;y">1&amp;2</value></prop></node>)",
         "modifyNode(R&D&E,0) modifyProperty(a&b&#38;,12,0) setListValue[1,2]@x&y endProperty "
         "endNode"},
        {"a nameless inner element is skipped with its content; an empty name is a name",
         R"(<node><prop zel:name="p"><value>v</value></prop><node zel:name="x"/></node>
        <prop zel:type="xs:int"><value>1</value></prop><node zel:name=""/>)",
         "modifyNode(,0) endNode",
         "Layer element node on line 1 has no zel:name; ignored with its content\n"
         "Layer element prop on line 2 has no zel:name; ignored with its content\n"},
    };
    for (Case& c : cases) {
        c.document = "<zel:component-data zel:name=\"c\">" + c.document + "</zel:component-data>";
        c.events = "startTree modifyNode(c,0) " + c.events + " endNode endTree";
    }

    // Whole documents: the outermost element addresses the root whatever its
    // name (an unknown one gives no event), a nameless root gets the empty
    // name; type names count only exactly as listed; text spanning the pieces
    // the parser is fed, and declared encodings, read whole.
    std::string longText;
    for (int i = 0; longText.size() < 300000; ++i) {
        longText += "word" + std::to_string(i) + (i % 7 == 0 ? "\n" : " ");
    }
    std::string utf16 = "\xff\xfe";  // byte order mark, little-endian
    for (char c : std::string(R"(<group><prop zel:name="p"><value>v</value></prop></group>)")) {
        utf16 += c;
        utf16 += '\0';
    }
    const Case whole[] = {
        {"unknown outermost element", R"(<other zel:op="remove"><node zel:name="x"/></other>)",
         "startTree modifyNode(x,0) endNode endTree"},
        {"nameless root", R"(<node zel:op="replace"/>)",
         "startTree replaceNode(,0) endNode endTree"},
        {"long text", "<group><prop zel:name=\"p\"><value>" + longText + "</value></prop></group>",
         "startTree modifyNode(,0) modifyProperty(p,5,0) setStringValue[" + longText +
             "]@ endProperty endNode endTree"},
        {"ISO-8859-1",
         "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><group><prop zel:name=\"caf\xe9\">"
         "<value xml:lang=\"fr\">\xe9t\xe9</value></prop></group>",
         "startTree modifyNode(,0) modifyProperty(caf\xc3\xa9,5,0) "
         "setStringValue[\xc3\xa9t\xc3\xa9]@fr endProperty endNode endTree"},
        {"UTF-16", utf16,
         "startTree modifyNode(,0) modifyProperty(p,5,0) setStringValue[v]@ endProperty endNode "
         "endTree"},
    };
    cases.insert(cases.end(), std::begin(whole), std::end(whole));
    // The 14 names in type order, then near misses, which give strings.
    std::istringstream types(
        "xs:boolean|xs:short|xs:int|xs:long|xs:double|xs:string|xs:hexBinary|zel:boolean-list|"
        "zel:short-list|zel:int-list|zel:long-list|zel:double-list|zel:string-list|"
        "zel:hexBinary-list|zel:int|xs:int-list|zel:int-lis|xs:int |xs:|zel:|int|"
        "zel:hexbinary-list|xs:string-list-list");
    int type = 0;
    for (std::string name; std::getline(types, name, '|'); ++type) {
        cases.push_back({name, "<prop zel:type='" + name + "'/>",
                         "startTree modifyProperty(," + std::to_string(type < 14 ? type : 5) +
                             ",0) endProperty endTree"});
    }
    EXPECT_EQ(type, 23);
    for (const Case& c : cases) {
        RecordingHandler handler;
        XmlUpdateLayer::ParseError error;
        syslogseam::clear();
        EXPECT_TRUE(layerOf(c.document).read(handler, &error)) << c.what << ": " << error.message;
        EXPECT_EQ(handler.mText, c.events) << c.what;
        EXPECT_EQ(syslogseam::text(), c.logged) << c.what;
    }
}

TEST(Reader, ReportsTheFirstParseErrorAndKeepsTheEventsBeforeIt) {
    RecordingHandler handler;
    XmlUpdateLayer::ParseError error;
    XmlUpdateLayer layer = layerOf(fixture("truncated_layer.xml"));
    EXPECT_FALSE(layer.read(handler, &error));
    EXPECT_TRUE(error.failed);
    EXPECT_EQ(error.line, 6);
    EXPECT_GT(error.column, 0);
    EXPECT_NE(error.message.find("Premature end of data"), std::string::npos) << error.message;
    EXPECT_EQ(handler.mText,
              "startTree modifyNode(apps,0) replaceNode(startup_list,0) "
              "modifyProperty(command,5,0) setStringValue[run]@ endProperty "
              "modifyProperty(args,12,0) endTree");

    // The same layer reads the same way again; a good read clears the report.
    RecordingHandler again;
    EXPECT_FALSE(layer.read(again, &error));
    EXPECT_EQ(again.mText, handler.mText);
    EXPECT_TRUE(layerOf("<a/>").read(again, &error));
    EXPECT_FALSE(error.failed);
    EXPECT_TRUE(error.message.empty());
    EXPECT_FALSE(layerOf("").read(again, &error));
    EXPECT_TRUE(error.failed);
}

TEST(Reader, HandlerExceptionStopsTheParseAndReachesTheCaller) {
    for (size_t throwAt : {1, 3, 5}) {
        RecordingHandler handler(throwAt);
        XmlUpdateLayer layer =
            layerOf("<c><node zel:name='a'><prop zel:name='p'><value>v</value></prop></node></c>");
        EXPECT_THROW(layer.read(handler), Exception);
        EXPECT_EQ(handler.mCount, throwAt) << "no event after the throw";
    }
}

struct DepthCounter : NodeVisitor {
    bool preChildrenProcess(Node&) override {
        mMax = std::max(mMax, ++mDepth);
        return true;
    }
    bool postChildrenProcess(Node&) override { return --mDepth >= 0; }
    int mDepth = 0, mMax = 0;
};

TEST(UntrustedInput, ExternalEntitiesAndDtdsAreNeverLoaded) {
    // Even when another library in the process asked libxml2 for substitution.
    const int oldSubstitute = xmlSubstituteEntitiesDefault(1);
    const int oldLoadDtd = xmlLoadExtDtdDefaultValue;
    xmlLoadExtDtdDefaultValue = XML_DETECT_IDS | XML_COMPLETE_ATTRS;
    for (const char* name : {"external_entity.xml", "external_dtd_and_parameter_entity.xml"}) {
        RecordingHandler handler;
        XmlUpdateLayer::ParseError error;
        layerOf(fixture(name)).read(handler, &error);
        EXPECT_EQ(handler.mText.find("root:"), std::string::npos) << name;
        EXPECT_EQ(error.message.find("root:"), std::string::npos) << name;
        EXPECT_NE(handler.mText.find("startTree modifyNode(c,0)"), std::string::npos) << name;
    }
    xmlSubstituteEntitiesDefault(oldSubstitute);
    xmlLoadExtDtdDefaultValue = oldLoadDtd;
}

// The layer editor's document comes from the same guarded parser: what the
// readers refuse or never expand, it refuses or keeps unexpanded too.
TEST(UntrustedInput, TheEditorsDocumentKeepsTheReadersGuards) {
    std::string crowded = "<c>\n <node";
    for (size_t i = 0; i <= SaxParser::kMaxAttributes; ++i) {
        crowded += " a" + std::to_string(i) + "=''";
    }
    crowded += "/></c>";
    const struct {
        std::string text;
        bool document;
        const char* error;  // part of lastError's message, with its place
        int line, column;
    } rows[] = {
        {"<c a='&amp;'><node/></c>", true, "", 0, 0},
        {fixture("external_dtd_and_parameter_entity.xml"), true, "", 0, 0},
        {fixture("external_entity.xml"), false, "", 0, 0},
        {fixture("billion_laughs.xml"), false, "", 0, 0},
        {crowded, false, "more than 64 attributes", 2, 2},
        {"<c>\n<d>&bogus;</d></c>", false, "Entity 'bogus' not defined", 2, 11},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text.substr(0, 80));
        SaxParser parser(row.text, 0);
        const std::unique_ptr<xmlDoc, void (*)(xmlDocPtr)> document(parser.parseDocument(),
                                                                    xmlFreeDoc);
        EXPECT_EQ(row.document, document != nullptr) << parser.lastError("").message;
        if (document) {
            xmlChar* dump = nullptr;
            int size = 0;
            xmlDocDumpMemory(document.get(), &dump, &size);
            const std::string text(reinterpret_cast<const char*>(dump), size);
            xmlFree(dump);
            EXPECT_EQ(text.find("root:"), std::string::npos) << text;
            continue;
        }
        const SaxParser::Error error = parser.lastError("");
        if (row.line == 0) {
            continue;  // libxml2 names the last of several errors
        }
        EXPECT_NE(error.message.find(row.error), std::string::npos) << error.message;
        EXPECT_EQ(error.line, row.line) << error.message;
        EXPECT_EQ(error.column, row.column) << error.message;
    }
}

TEST(UntrustedInput, BillionLaughsEndsSmall) {
    RecordingHandler handler;
    XmlUpdateLayer::ParseError error;
    EXPECT_FALSE(layerOf(fixture("billion_laughs.xml")).read(handler, &error));
    EXPECT_LT(handler.mText.size(), 1000u) << handler.mText.substr(0, 200);
}

TEST(UntrustedInput, DeepNestingStopsAtTheParserLimitAndTheNextLayerLandsAtTheRoot) {
    XmlUpdateLayer deep = layerOf(fixture("deep_nesting.xml"));
    RecordingHandler handler;
    XmlUpdateLayer::ParseError error;
    EXPECT_FALSE(deep.read(handler, &error));
    EXPECT_NE(error.message.find("depth"), std::string::npos) << error.message;
    TreeMerger merger;
    merger.merge(deep);
    merger.merge(layerOf(R"(<group><node zel:name="after"/></group>)"));
    std::unique_ptr<Tree> tree(merger.getTree());
    ASSERT_NE(tree, nullptr);
    DepthCounter depth;
    tree->getRoot()->visit(depth);
    EXPECT_GT(depth.mMax, 200);
    EXPECT_LE(depth.mMax, 257);
    EXPECT_NE(find(tree.get(), "after"), nullptr);
    EXPECT_NE(find(tree.get(), "n/n/n"), nullptr);
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

// A layer of about size bytes: head, then unit repeated, then tail.
std::string repeated(const std::string& head, const std::string& unit, const std::string& tail,
                     size_t size) {
    std::string text = "<group>" + head;
    const size_t room = size - std::min(size, text.size() + tail.size() + 8);
    text.reserve(size + 64);
    if (unit.size() == 1) {
        text.append(room, unit[0]);
    }
    while (text.size() + unit.size() + tail.size() + 8 < size) {
        text += unit;
    }
    return text + tail + "</group>";
}

std::string numbered(const std::string& before, const std::string& after, size_t size) {
    std::string text = "<group>";
    text.reserve(size + 64);
    for (size_t n = 0; text.size() + 64 < size; ++n) {
        text += before + std::to_string(n) + after;
    }
    return text + "</group>";
}

// Every layer up to 64 MiB is read or refused, in at most ten times its size
// plus 50 MB (the reading process included) and within 3 s of CPU (exit status 4);
// under the sanitizers only read or refused is checked, on smaller layers. A
// refusal is a broken layer, as a parse error is.
TEST(UntrustedInput, EveryLayerUpTo64MiBIsReadOrRefusedInBoundedMemory) {
    constexpr size_t kMiB = 1 << 20;
    const size_t big = (kSanitized ? 16 : 64) * kMiB;
    const std::string list = R"(<prop zel:name="l" zel:type="zel:string-list"><value>)";
    const struct {
        const char* shape;
        std::function<std::string()> make;
        bool read;
        std::function<std::string()> before = [] { return std::string(); };  // merged first
    } layers[] = {
        {"one list of blanks", [&] { return repeated(list, " ", "</value></prop>", big); }, false},
        {"one list of commas",
         [&] {
             return repeated(R"(<prop zel:name="l" zel:type="zel:string-list">)"
                             R"(<value zel:separator=",">)",
                             ",", "</value></prop>", big);
         },
         false},
        {"tiny nodes", [&] { return numbered(R"(<node zel:name="n)", R"("/>)", 17 * kMiB); },
         false},
        {"many lists just under the item bound",
         [&] {
             std::string items;
             for (size_t i = 1; i < LayerLimitExceeded::kMaxListItems; ++i) {
                 items += "a ";
             }
             return numbered(R"(<prop zel:name="l)",
                             R"(" zel:type="zel:string-list"><value>)" + items + "</value></prop>",
                             big);
         },
         false},
        {"many locales",
         [&] {
             return numbered(R"(<prop zel:name="p"><value xml:lang="l)", R"(">x</value></prop>)",
                             big);
         },
         false},
        {"one long string",
         [&] { return repeated(R"(<prop zel:name="s"><value>)", "x", "</value></prop>", big); },
         true},
        {"nodes under the bound",
         [] { return numbered(R"(<prop zel:name="p)", R"("><value>v</value></prop>)", 6 * kMiB); },
         true},
        {"one list under the bound",
         [&] { return repeated(list, "item ", "</value></prop>", 400000); }, true},
        // Each removal must not cost as much as the locks it keeps.
        {"a removal repeated 8 000 times over a group of 8 000 locks",
         [] { return repeated("", R"(<node zel:name="g" zel:op="remove"/>)", "", 300000); }, true,
         [] {
             return numbered(R"(<node zel:name="g"><prop zel:name="p)",
                             R"(" zel:finalized="true"/></node>)", 8000 * 48);
         }},
        {"80 000 attributes on one element",
         [] {
             std::string text = R"(<group><node zel:name="n")";
             for (int i = 0; i < 80000; ++i) {
                 text += " a" + std::to_string(i) + "=''";
             }
             return text + "/></group>";
         },
         false},
        {"a name over 4 KiB", [] { return repeated(R"(<node zel:name=")", "n", R"("/>)", 4200); },
         false},
        {"five groups with 1 MB names holding 20 000 properties",
         [] {
             const std::string group = R"(<node zel:name=")" + std::string(1 << 20, 'g') + R"(">)";
             std::string text = "<group>";
             for (int i = 0; i < 5; ++i) {
                 text += group;
             }
             for (int i = 0; i < 20000; ++i) {
                 text += R"(<prop zel:name="p)" + std::to_string(i) + R"("/>)";
             }
             for (int i = 0; i < 5; ++i) {
                 text += "</node>";
             }
             return text + "</group>";
         },
         false},
    };
    for (const auto& layer : layers) {
        SCOPED_TRACE(layer.shape);
        const ChildRun run = ChildRun::of([&] {
            const std::string text = layer.make();
            const std::clock_t start = std::clock();  // CPU time: the machine may be busy
            TreeMerger merger;
            const std::string before = layer.before();
            if (!before.empty()) {
                merger.merge(XmlUpdateLayer(before.data(), static_cast<int>(before.size())));
            }
            XmlUpdateLayer::ParseError error;
            const XmlUpdateLayer parsed(text.data(), static_cast<int>(text.size()));
            const bool read = parsed.read(merger, &error);
            std::unique_ptr<Tree> tree(merger.getTree());
            if (!read && error.message.find("exceeds a bound") == std::string::npos) {
                return 3;  // refused, but not for a bound
            }
            if (!kSanitized && std::clock() - start > 3 * CLOCKS_PER_SEC) {
                return 4;  // too slow
            }
            return read ? 0 : 1;
        });
        const size_t layerSize = layer.make().size();
        EXPECT_EQ(run.exitStatus, layer.read ? 0 : 1);
        // The sanitizers' own memory (shadow, quarantine) dwarfs any layer.
        if (!kSanitized) {
            EXPECT_LE(run.peakBytes, 10 * layerSize + 50 * kMiB) << layerSize << " bytes";
        }
    }
}

}  // namespace
}  // namespace vesk::legacy::test
