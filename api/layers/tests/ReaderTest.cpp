// Event sequences the reader gives for the parts of the format that are easy to misread.
#include <gtest/gtest.h>

#include "LayerTestSupport.h"
#include "layers/ParserContext.h"

namespace vesk::legacy::test {
namespace {

struct ReaderCase {
    const char* what;
    const char* body;    // inside <zel:component-data zel:name="c">
    const char* events;  // between the root's events
};

const ReaderCase kReaderCases[] = {
    {"operations on nodes; anything but the exact texts modifies",
     R"(<node zel:name="a" zel:op="replace"/><group zel:name="b" zel:op="remove"/>
        <set zel:name="c" zel:op="Remove"/><zel:set zel:name="d" zel:op="modify"/>
        <zel:node zel:name="e"/><zel:group zel:name="f" zel:op="delete"/>)",
     "replaceNode(a,0) endNode removeNode(b) endNode modifyNode(c,0) endNode modifyNode(d,0) "
     "endNode modifyNode(e,0) endNode modifyNode(f,0) endNode"},
    {"finalisation: only lower-case true",
     R"(<node zel:name="a" zel:finalized="true"/><node zel:name="b" zel:finalized="True"/>
        <node zel:name="c" zel:finalized="1"/><prop zel:name="d" zel:finalized="true"/>)",
     "modifyNode(a,1) endNode modifyNode(b,0) endNode modifyNode(c,0) endNode "
     "modifyProperty(d,5,1) endProperty"},
    {"types: missing or unknown is a string; a removed prop still gets endProperty",
     R"(<prop zel:name="a"/><prop zel:name="b" zel:type="xs:float"/>
        <prop zel:name="c" zel:type="xs:hexBinary" zel:op="replace"/>
        <prop zel:name="d" zel:type="zel:hexBinary-list"/><prop zel:name="e" zel:op="remove"/>)",
     "modifyProperty(a,5,0) endProperty modifyProperty(b,5,0) endProperty "
     "replaceProperty(c,6,0) endProperty modifyProperty(d,13,0) endProperty removeNode(e) "
     "endProperty"},
    {"list splitting keeps empty items; an explicit separator wins",
     R"(<prop zel:name="l" zel:type="zel:string-list"><value>a  b </value>
        <value zel:separator=",">a b,c</value><value/><value zel:separator="">x y</value></prop>)",
     "modifyProperty(l,12,0) setListValue[a,,b,]@ setListValue[a b,c]@ setListValue[]@ "
     "setStringValue[x y]@ endProperty"},
    {"the type of a removal still sets the separator",
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
     R"(<node zel:name="R&amp;D"><prop zel:name="a&#38;b&amp;#38;" zel:type="zel:string-list">
        <value zel:separator="&amp;" xml:lang="x&amp;y">1&amp;2</value></prop></node>)",
     "modifyNode(R&D,0) modifyProperty(a&b&#38;,12,0) setListValue[1,2]@x&y endProperty endNode"},
    {"a nameless inner element is skipped with its content; an empty name is a name",
     R"(<node><prop zel:name="p"><value>v</value></prop><node zel:name="x"/></node>
        <prop zel:type="xs:int"><value>1</value></prop><node zel:name=""/>)",
     "modifyNode(,0) endNode"},
};

void PrintTo(const ReaderCase& c, std::ostream* out) {
    *out << c.what;
}

class ReaderCases : public ::testing::TestWithParam<ReaderCase> {};

TEST_P(ReaderCases, GivesTheseEvents) {
    const ReaderCase& c = GetParam();
    RecordingHandler handler;
    XmlUpdateLayer::ParseError error;
    std::string xml =
        std::string("<zel:component-data zel:name=\"c\">") + c.body + "</zel:component-data>";
    EXPECT_TRUE(layerOf(xml).read(handler, &error)) << error.message;
    EXPECT_EQ(handler.joined(),
              std::string("startTree modifyNode(c,0) ") + c.events + " endNode endTree")
        << c.what;
}

INSTANTIATE_TEST_SUITE_P(Format, ReaderCases, ::testing::ValuesIn(kReaderCases));

TEST(Reader, UnknownOuterElementGivesNoEventAndNamelessRootGetsEmptyName) {
    RecordingHandler handler;
    layerOf(R"(<other zel:op="remove"><node zel:name="x"/></other>)").read(handler);
    layerOf(R"(<node zel:op="replace"/>)").read(handler);
    EXPECT_EQ(
        handler.joined(),
        "startTree modifyNode(x,0) endNode endTree startTree replaceNode(,0) endNode endTree");
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
    EXPECT_EQ(handler.joined(),
              "startTree modifyNode(apps,0) replaceNode(startup_list,0) "
              "modifyProperty(command,5,0) setStringValue[run]@ endProperty "
              "modifyProperty(args,12,0) endTree");

    // The same layer reads the same way again; a good read clears the report.
    RecordingHandler again;
    EXPECT_FALSE(layer.read(again, &error));
    EXPECT_EQ(again.mEvents, handler.mEvents);
    EXPECT_TRUE(layerOf("<a/>").read(again, &error));
    EXPECT_FALSE(error.failed);
    EXPECT_TRUE(error.message.empty());
    EXPECT_FALSE(layerOf("").read(again, &error));
    EXPECT_TRUE(error.failed);
}

TEST(Reader, HandlerExceptionStopsTheParseAndReachesTheCaller) {
    for (size_t throwAt : {1, 3, 5}) {
        RecordingHandler handler(throwAt);
        XmlUpdateLayer layer = layerOf(R"(<c><node zel:name="a"><prop zel:name="p">
            <value>v</value></prop></node><node zel:name="b"/></c>)");
        EXPECT_THROW(layer.read(handler), Exception);
        EXPECT_EQ(handler.mEvents.size(), throwAt) << "no event after the throw";
    }
}

TEST(Reader, TypeNamesExactlyAsListedElseString) {
    const char* const kNames[] = {
        "xs:boolean",    "xs:short",        "xs:int",           "xs:long",           "xs:double",
        "xs:string",     "xs:hexBinary",    "zel:boolean-list", "zel:short-list",    "zel:int-list",
        "zel:long-list", "zel:double-list", "zel:string-list",  "zel:hexBinary-list"};
    for (int type = 0; type < 14; ++type) {
        RecordingHandler handler;
        layerOf(std::string("<prop zel:type='") + kNames[type] + "'/>").read(handler);
        EXPECT_EQ(handler.mEvents.at(1), "modifyProperty(," + std::to_string(type) + ",0)");
    }
    for (const char* nearMiss : {"zel:int", "xs:int-list", "zel:int-lis", "xs:int ", "xs:", "zel:",
                                 "int", "zel:hexbinary-list", "xs:string-list-list"}) {
        RecordingHandler handler;
        layerOf(std::string("<prop zel:type='") + nearMiss + "'/>").read(handler);
        EXPECT_EQ(handler.mEvents.at(1), "modifyProperty(,5,0)") << nearMiss;
    }
}

// The parser is fed the layer in pieces: text that spans pieces, and
// documents whose declared encoding libxml2 converts, still read whole.
TEST(Reader, LongTextAndDeclaredEncodingsReadWhole) {
    std::string longText;
    for (int i = 0; longText.size() < 300000; ++i) {
        longText += "word" + std::to_string(i) + (i % 7 == 0 ? "\n" : " ");
    }
    std::string utf16 = "\xff\xfe";  // byte order mark, little-endian
    for (char c : std::string(R"(<group><prop zel:name="p"><value>v</value></prop></group>)")) {
        utf16 += c;
        utf16 += '\0';
    }
    const struct {
        std::string document, events;
    } cases[] = {
        {"<group><prop zel:name=\"p\"><value>" + longText + "</value></prop></group>",
         "modifyProperty(p,5,0) setStringValue[" + longText + "]@ endProperty"},
        {"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>"
         "<group><prop zel:name=\"caf\xe9\"><value "
         "xml:lang=\"fr\">\xe9t\xe9</value></prop></group>",
         "modifyProperty(caf\xc3\xa9,5,0) setStringValue[\xc3\xa9t\xc3\xa9]@fr endProperty"},
        {utf16, "modifyProperty(p,5,0) setStringValue[v]@ endProperty"},
    };
    for (const auto& c : cases) {
        RecordingHandler handler;
        XmlUpdateLayer::ParseError error;
        EXPECT_TRUE(layerOf(c.document).read(handler, &error)) << error.message;
        EXPECT_EQ(handler.joined(), "startTree modifyNode(,0) " + c.events + " endNode endTree")
            << c.document.substr(0, 60);
    }
}

TEST(ParserContext, AttributeTextTurnsEveryEscapedAmpersandBack) {
    EXPECT_EQ(ParserContext::attributeText("plain"), "plain");
    EXPECT_EQ(ParserContext::attributeText("&#38;&#38;x&#38;"), "&&x&");
    EXPECT_EQ(ParserContext::attributeText("&#38;#38;"), "&#38;");
}

}  // namespace
}  // namespace vesk::legacy::test
