// Hostile layers kept as fixtures: external entities, entity expansion, deep nesting.
#include <gtest/gtest.h>
#include <libxml/parser.h>

#include <chrono>
#include <memory>

#include "LayerTestSupport.h"
#include "layers/TreeMerger.h"
#include "model/NodeVisitor.h"

namespace vesk::legacy::test {
namespace {

class DepthCounter : public NodeVisitor {
  public:
    bool preChildrenProcess(Node&) override {
        mMax = std::max(mMax, ++mDepth);
        return true;
    }
    bool postChildrenProcess(Node&) override {
        --mDepth;
        return true;
    }
    int mDepth = 0;
    int mMax = 0;
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
        EXPECT_EQ(handler.joined().find("root:"), std::string::npos) << name;
        EXPECT_EQ(error.message.find("root:"), std::string::npos) << name;
        EXPECT_NE(handler.joined().find("startTree modifyNode(c,0)"), std::string::npos) << name;
    }
    xmlSubstituteEntitiesDefault(oldSubstitute);
    xmlLoadExtDtdDefaultValue = oldLoadDtd;
}

TEST(UntrustedInput, BillionLaughsEndsQuicklyAndSmall) {
    const auto start = std::chrono::steady_clock::now();
    RecordingHandler handler;
    XmlUpdateLayer::ParseError error;
    EXPECT_FALSE(layerOf(fixture("billion_laughs.xml")).read(handler, &error));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_LT(handler.joined().size(), 1000u) << handler.joined().substr(0, 200);
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

}  // namespace
}  // namespace vesk::legacy::test
