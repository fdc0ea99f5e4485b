#include <gtest/gtest.h>

#include <atomic>
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
    void TearDown() override {
        EXPECT_TRUE(fakepapi::unfreedLists().empty());
        EXPECT_TRUE(fakepapi::listsFreedTwice().empty());
        fakepapi::reset();
    }
};

PapiException thrown(PAPIStatus status) {
    try {
        checkPapiStatus(status);
    } catch (const PapiException& e) {
        return e;
    }
    return PapiException("none", 0);
}

TEST_F(PapiConnectionTest, StatusTable) {
    EXPECT_NO_THROW(checkPapiStatus(0));
    const struct {
        PAPIStatus status;
        const char* message;
    } cases[] = {
        {1, "Connection failure\n"}, {2, "Authentication failure\n"}, {3, "No such component\n"},
        {4, "Database error\n"},     {5, "Invalid argument\n"},       {6, "Out of memory\n"},
        {7, "Unknown failure\n"},    {8, "Unknown error\n"},          {-1, "Unknown error\n"}};
    for (const auto& c : cases) {
        const PapiException e = thrown(c.status);
        EXPECT_EQ(e.getMessage(), c.message) << c.status;
        EXPECT_EQ(e.getStatus(), c.status);
    }
    // Callers that only know Exception still see the message.
    try {
        checkPapiStatus(3);
        FAIL();
    } catch (const Exception& e) {
        EXPECT_EQ(e.getMessage(), "No such component\n");
    }
}

void noState(PAPIConnectionState, void*) {}

TEST_F(PapiConnectionTest, OpensWithNullForEmptyStringAndClosesOnce) {
    int data = 0;
    {
        PapiConnection plain("", nullptr, nullptr);
        PapiConnection kiosk("kiosk.default", nullptr, nullptr);
        PapiConnection watched("x", noState, &data);
        EXPECT_EQ(plain.getUseCount(), 0);
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
        try {
            PapiConnection connection("", nullptr, nullptr);
            FAIL();
        } catch (const PapiException& e) {
            EXPECT_EQ(e.getStatus(), PAPIConnectionFailure);
        }
        EXPECT_TRUE(fakepapi::openHandles().empty());
        const Calls expected = withHandle ? Calls{"papiInitialise(null)=H1", "papiDeinitialise(H1)"}
                                          : Calls{"papiInitialise(null)=null"};
        EXPECT_EQ(fakepapi::calls(), expected);
    }
}

TEST_F(PapiConnectionTest, ReadAppendsExactBytesInOrderAndFreesOnce) {
    // Texts without NUL: ASan shows any read past size.
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
    EXPECT_EQ(layers[3].getText(), "");
    EXPECT_EQ(layers[3].getStamp(), "");  // null stamp
    EXPECT_EQ(fakepapi::calls()[1], "papiReadComponentLayers(H1,c)=L1");
    EXPECT_EQ(fakepapi::calls()[2], "papiFreeLayerList(L1)");
}

TEST_F(PapiConnectionTest, ReadOutcomes) {
    const struct {
        const char* name;
        std::vector<LayerRecord> records;  // none: the service returns a null list
        PAPIStatus status;
        bool withList;
        PAPIStatus thrown;     // 0: no exception
        const char* freeCall;  // null: no free call expected
    } cases[] = {
        {"no layers", {}, PAPISuccess, false, 0, "papiFreeLayerList(null)"},
        {"failure", {{"<a/>"}}, PAPILdbFailure, false, PAPILdbFailure, nullptr},
        {"list with failure",
         {{"<a/>"}},
         PAPILdbFailure,
         true,
         PAPILdbFailure,
         "papiFreeLayerList(L1)"},
        {"negative size",
         {{"<a/>"}, {"<b/>", "s", -5}},
         PAPISuccess,
         false,
         PAPILdbFailure,
         "papiFreeLayerList(L1)"},
        {"null data, positive size",
         {{"<a/>"}, {std::nullopt, "s", 3}},
         PAPISuccess,
         false,
         PAPILdbFailure,
         "papiFreeLayerList(L1)"},
        {"null data, size 0",
         {{std::nullopt, "s", 0}},
         PAPISuccess,
         false,
         0,
         "papiFreeLayerList(L1)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fakepapi::reset();
        fakepapi::state().layers["c"] = c.records;
        fakepapi::state().readStatus = c.status;
        fakepapi::state().answerWithFailure = c.withList;
        PapiConnection connection("", nullptr, nullptr);
        std::vector<PapiLayer> layers{PapiLayer("<old/>", 6, "before")};
        PAPIStatus status = 0;
        try {
            connection.readComponentLayers("c", layers);
        } catch (const PapiException& e) {
            status = e.getStatus();
        }
        EXPECT_EQ(status, c.thrown);
        if (c.thrown != 0) {
            ASSERT_EQ(layers.size(), 1u);  // unchanged
        }
        const Calls calls = fakepapi::calls();
        const Calls frees(calls.begin() + 2, calls.end());
        EXPECT_EQ(frees, c.freeCall ? Calls{c.freeCall} : Calls{});
        EXPECT_TRUE(fakepapi::unfreedLists().empty());
    }
}

TEST_F(PapiConnectionTest, ListComponentNames) {
    fakepapi::state().names = std::vector<std::optional<std::string>>{"a.one", "a.two"};
    PapiConnection connection("", nullptr, nullptr);
    std::vector<std::string> names{"kept"};
    connection.listComponentNames("a.", names);
    EXPECT_EQ(names, (std::vector<std::string>{"kept", "a.one", "a.two"}));

    fakepapi::state().names = std::vector<std::optional<std::string>>{"a.one", std::nullopt};
    EXPECT_THROW(connection.listComponentNames("", names), PapiException);
    EXPECT_EQ(names.size(), 3u);

    fakepapi::state().listStatus = PAPIOutOfMemoryFailure;
    fakepapi::state().answerWithFailure = true;
    EXPECT_THROW(connection.listComponentNames("", names), PapiException);
    EXPECT_EQ(
        fakepapi::calls(),
        (Calls{"papiInitialise(null)=H1", "papiListComponentNames(H1,a.)=L1",
               "papiFreeStringList(L1)", "papiListComponentNames(H1,)=L2", "papiFreeStringList(L2)",
               "papiListComponentNames(H1,)=L3", "papiFreeStringList(L3)"}));
}

void onEvent(const PAPIEvent*, void*) {}

TEST_F(PapiConnectionTest, ListenerCallsPassHandlesAndStatuses) {
    PapiConnection connection("", nullptr, nullptr);
    int data = 0;
    void* id = connection.addListener("c", onEvent, &data);
    auto registrations = fakepapi::registrations();
    ASSERT_EQ(registrations.count("R1"), 1u);
    EXPECT_EQ(registrations["R1"].userData, &data);
    EXPECT_EQ(registrations["R1"].callback, &onEvent);
    connection.removeListener(id);
    EXPECT_TRUE(fakepapi::registrations().empty());

    fakepapi::state().addStatus = PAPIInvalidArg;
    EXPECT_THROW(connection.addListener("c", onEvent, &data), PapiException);
    fakepapi::state().removeStatus = PAPIInvalidArg;
    EXPECT_THROW(connection.removeListener(id), PapiException);
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
    PapiConnection* x3 = getSharedPapi("x");  // a fresh handle
    releaseSharedPapi(x3);
    releaseSharedPapi(y);
    EXPECT_EQ(fakepapi::calls(),
              (Calls{"papiInitialise(x)=H1", "papiInitialise(y)=H2", "papiDeinitialise(H1)",
                     "papiInitialise(x)=H3", "papiDeinitialise(H3)", "papiDeinitialise(H2)"}));

    // A connection not from the table is not the table's to close.
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
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&go] {
            while (!go) {
                std::this_thread::yield();
            }
            for (int i = 0; i < 200; ++i) {
                PapiConnection* a = getSharedPapi("x");
                PapiConnection* b = getSharedPapi("x");
                EXPECT_EQ(a, b);
                releaseSharedPapi(a);
                releaseSharedPapi(b);
            }
        });
    }
    go = true;
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_TRUE(fakepapi::openHandles().empty());
}

}  // namespace
