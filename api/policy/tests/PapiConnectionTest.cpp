#include <gtest/gtest.h>

#include <thread>

#include "FakePapi.h"
#include "policy/PapiConnection.h"
#include "policy/PapiException.h"

using namespace vesk::legacy;
using fakepapi::Calls;
using fakepapi::LayerRecord;

namespace {

class PapiConnectionTest : public ::testing::Test {
  protected:
    void SetUp() override { fakepapi::reset(); }
    void TearDown() override { EXPECT_TRUE(fakepapi::listsFreedOtherThanOnce().empty()); }
};

TEST_F(PapiConnectionTest, StatusTable) {
    EXPECT_NO_THROW(checkPapiStatus(0));
    const std::pair<PAPIStatus, const char*> cases[] = {
        {1, "Connection failure\n"}, {2, "Authentication failure\n"}, {3, "No such component\n"},
        {4, "Database error\n"},     {5, "Invalid argument\n"},       {6, "Out of memory\n"},
        {7, "Unknown failure\n"},    {8, "Unknown error\n"},          {-1, "Unknown error\n"}};
    for (const auto& [status, message] : cases) {
        try {
            checkPapiStatus(status);
            ADD_FAILURE() << status;
        } catch (const PapiException& e) {  // also an Exception
            const Exception& base = e;
            EXPECT_EQ(base.getMessage(), message);
            EXPECT_EQ(e.getStatus(), status);
        }
    }
}

void noState(PAPIConnectionState, void*) {}

TEST_F(PapiConnectionTest, OpensWithNullForEmptyStringAndClosesOnce) {
    int data = 0;
    {
        PapiConnection plain("", nullptr, nullptr);
        PapiConnection kiosk("kiosk.default", nullptr, nullptr);
        PapiConnection watched("x", noState, &data);
    }
    EXPECT_EQ(fakepapi::calls(),
              (Calls{"papiInitialise(null)=H1", "papiInitialise(kiosk.default)=H2",
                     "papiInitialiseWithListener(x,listener,data)=H3", "papiDeinitialise(H3)",
                     "papiDeinitialise(H2)", "papiDeinitialise(H1)"}));
}

TEST_F(PapiConnectionTest, FailedOpenClosesAHandleReturnedWithTheFailure) {
    for (bool withHandle : {false, true}) {
        fakepapi::reset();
        fakepapi::state().initStatus = PAPIConnectionFailure;
        fakepapi::state().answerWithFailure = withHandle;
        EXPECT_THROW(PapiConnection("", nullptr, nullptr), PapiException);
        EXPECT_TRUE(fakepapi::openHandles().empty());
        const Calls expected = withHandle ? Calls{"papiInitialise(null)=H1", "papiDeinitialise(H1)"}
                                          : Calls{"papiInitialise(null)=null"};
        EXPECT_EQ(fakepapi::calls(), expected);
    }
}

TEST_F(PapiConnectionTest, ReadAppendsExactBytesInOrder) {
    fakepapi::state().layers["c"] = {
        {"<a/>", "default/ 1"}, {"<b/>trailing", "users/u 2", 4}, {"", std::nullopt}};
    PapiConnection connection("", nullptr, nullptr);
    std::vector<PapiLayer> layers{PapiLayer("<old/>", 6, "before")};
    connection.readComponentLayers("c", layers);
    ASSERT_EQ(layers.size(), 4u);
    EXPECT_EQ(layers[0].getStamp(), "before");
    EXPECT_EQ(layers[1].getText(), "<a/>");
    EXPECT_EQ(layers[1].getStamp(), "default/ 1");
    EXPECT_EQ(layers[2].getText(), "<b/>");
    EXPECT_EQ(layers[3].getStamp(), "");  // from a null stamp
    EXPECT_EQ(fakepapi::calls(),
              (Calls{"papiInitialise(null)=H1", "papiReadComponentLayers(H1,c)=L1",
                     "papiFreeLayerList(L1)"}));
}

TEST_F(PapiConnectionTest, ReadFailuresLeaveTheVectorAndFreeTheList) {
    const struct {
        const char* name;
        std::vector<LayerRecord> records;  // none: a null list
        PAPIStatus status;
        bool withList;
        PAPIStatus thrown;
        Calls frees;
    } cases[] = {
        {"no layers", {}, PAPISuccess, false, 0, {"papiFreeLayerList(null)"}},
        {"null data, size 0",
         {{std::nullopt, "s", 0}},
         PAPISuccess,
         false,
         0,
         {"papiFreeLayerList(L1)"}},
        {"failure", {{"<a/>"}}, PAPILdbFailure, false, PAPILdbFailure, {}},
        {"list with failure",
         {{"<a/>"}},
         PAPILdbFailure,
         true,
         PAPILdbFailure,
         {"papiFreeLayerList(L1)"}},
        {"negative size",
         {{"<a/>"}, {"<b/>", "s", -5}},
         PAPISuccess,
         false,
         PAPILdbFailure,
         {"papiFreeLayerList(L1)"}},
        {"null data, positive size",
         {{"<a/>"}, {std::nullopt, "s", 3}},
         PAPISuccess,
         false,
         PAPILdbFailure,
         {"papiFreeLayerList(L1)"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fakepapi::reset();
        fakepapi::state().layers["c"] = c.records;
        fakepapi::state().readStatus = c.status;
        fakepapi::state().answerWithFailure = c.withList;
        PapiConnection connection("", nullptr, nullptr);
        std::vector<PapiLayer> layers{PapiLayer("<old/>", 6, "before")};
        PAPIStatus thrown = 0;
        try {
            connection.readComponentLayers("c", layers);
        } catch (const PapiException& e) {
            thrown = e.getStatus();
        }
        EXPECT_EQ(thrown, c.thrown);
        EXPECT_EQ(layers.size(), thrown ? 1u : 1u + c.records.size());
        const Calls calls = fakepapi::calls();
        EXPECT_EQ(Calls(calls.begin() + 2, calls.end()), c.frees);
        EXPECT_TRUE(fakepapi::listsFreedOtherThanOnce().empty());
    }
}

TEST_F(PapiConnectionTest, ListComponentNames) {
    fakepapi::state().names = {"a.one", "a.two"};
    PapiConnection connection("", nullptr, nullptr);
    std::vector<std::string> names{"kept"};
    connection.listComponentNames("a.", names);
    EXPECT_EQ(names, (std::vector<std::string>{"kept", "a.one", "a.two"}));

    fakepapi::state().names = {"a.one", std::nullopt};
    EXPECT_THROW(connection.listComponentNames("", names), PapiException);
    fakepapi::state().listStatus = PAPIOutOfMemoryFailure;
    fakepapi::state().answerWithFailure = true;
    EXPECT_THROW(connection.listComponentNames("", names), PapiException);
    EXPECT_EQ(names.size(), 3u);
    EXPECT_EQ(fakepapi::calls().size(), 7u);  // open, then each listing and its free
}

TEST_F(PapiConnectionTest, SharedConnectionsOpenOnceAndCloseAtZero) {
    PapiConnection* x1 = getSharedPapi("x");
    PapiConnection* x2 = getSharedPapi("x");
    PapiConnection* y = getSharedPapi("y");
    EXPECT_EQ(x1, x2);
    EXPECT_NE(x1, y);
    EXPECT_EQ(x1->getUseCount(), 2);
    releaseSharedPapi(x1);
    releaseSharedPapi(nullptr);
    EXPECT_EQ(fakepapi::openHandles(), (std::vector<std::string>{"H1", "H2"}));
    releaseSharedPapi(x2);
    releaseSharedPapi(getSharedPapi("x"));  // a fresh handle
    releaseSharedPapi(y);
    EXPECT_EQ(fakepapi::calls(),
              (Calls{"papiInitialise(x)=H1", "papiInitialise(y)=H2", "papiDeinitialise(H1)",
                     "papiInitialise(x)=H3", "papiDeinitialise(H3)", "papiDeinitialise(H2)"}));

    // A connection that is not in the table is not the table's to close.
    PapiConnection own("y", nullptr, nullptr);
    releaseSharedPapi(&own);
    EXPECT_EQ(fakepapi::openHandles(), (std::vector<std::string>{"H4"}));
}

TEST_F(PapiConnectionTest, SharedOpenFailureIsRetried) {
    fakepapi::state().initStatus = PAPIConnectionFailure;
    EXPECT_THROW(getSharedPapi(""), PapiException);
    fakepapi::state().initStatus = PAPISuccess;
    PapiConnection* connection = getSharedPapi("");
    EXPECT_EQ(connection->getUseCount(), 1);
    releaseSharedPapi(connection);
    EXPECT_TRUE(fakepapi::openHandles().empty());
}

TEST_F(PapiConnectionTest, SharedTableIsSafeAcrossThreads) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([] {
            for (int i = 0; i < 200; ++i) {
                PapiConnection* a = getSharedPapi("x");
                PapiConnection* b = getSharedPapi("x");
                EXPECT_EQ(a, b);
                releaseSharedPapi(a);
                releaseSharedPapi(b);
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_TRUE(fakepapi::openHandles().empty());
}

}  // namespace
