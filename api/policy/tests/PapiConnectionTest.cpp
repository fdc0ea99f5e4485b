// SPDX-License-Identifier: LGPL-2.1-or-later
#include <gtest/gtest.h>

#include <thread>
#include <type_traits>

#include "FakePapi.h"
#include "policy/PapiConnection.h"
#include "policy/PapiException.h"
#include "policy/PolicyAccess.h"

using namespace vesk::legacy;
using fakepapi::Calls;

namespace {

// Copies would close a handle or give back a shared use twice.
static_assert(!std::is_copy_constructible_v<PapiConnection> &&
              !std::is_copy_assignable_v<PapiConnection> &&
              !std::is_copy_constructible_v<PolicyAccess> &&
              !std::is_copy_assignable_v<PolicyAccess>);

class PapiConnectionTest : public ::testing::Test {
  protected:
    void SetUp() override { fakepapi::reset(); }
    void TearDown() override {
        EXPECT_EQ(fakepapi::listsFreedOtherThanOnce(), std::vector<std::string>());
    }
};

TEST_F(PapiConnectionTest, StatusTexts) {
    EXPECT_NO_THROW(checkPapiStatus(0));
    std::string texts;
    for (PAPIStatus status : {1, 2, 3, 4, 5, 6, 7, 8, -1}) {
        try {
            checkPapiStatus(status);
        } catch (const PapiException& e) {
            texts += std::to_string(e.getStatus()) + " " + e.getMessage();
        }
    }
    EXPECT_EQ(texts,
              "1 Connection failure\n2 Authentication failure\n3 No such component\n"
              "4 Database error\n5 Invalid argument\n6 Out of memory\n7 Unknown failure\n"
              "8 Unknown error\n-1 Unknown error\n");
}

void noState(PAPIConnectionState, void*) {}

TEST_F(PapiConnectionTest, OpensWithNullForEmptyStringAndClosesEveryHandleOnce) {
    int data = 0;
    {
        PapiConnection plain("", nullptr, nullptr), kiosk("kiosk.default", nullptr, nullptr);
        PapiConnection watched("x", noState, &data);
        fakepapi::state().initStatus = PAPIConnectionFailure;
        EXPECT_THROW(PapiConnection("", nullptr, nullptr), PapiException);
        fakepapi::state().answerWithFailure = true;  // a handle with the failure is closed
        EXPECT_THROW(PapiConnection("", nullptr, nullptr), PapiException);
    }
    EXPECT_EQ(fakepapi::calls(),
              (Calls{"papiInitialise(null)=H1", "papiInitialise(kiosk.default)=H2",
                     "papiInitialiseWithListener(x,listener,data)=H3", "papiInitialise(null)=null",
                     "papiInitialise(null)=H4", "papiDeinitialise(H4)", "papiDeinitialise(H3)",
                     "papiDeinitialise(H2)", "papiDeinitialise(H1)"}));
    EXPECT_EQ(fakepapi::openHandles(), 0);
}

// Each read starts with one layer in the vector, which a failure leaves alone.
TEST_F(PapiConnectionTest, ReadsExactBytesAndFreesEveryListOnce) {
    using fakepapi::LayerRecord;
    const struct {
        std::vector<LayerRecord> records;  // none: a null list
        PAPIStatus status;
        bool withList;
        PAPIStatus thrown;
        const char* free;  // the list given back, if any
        const char* read;
    } cases[] = {
        {{{"a", "d"}, {"bcut", "u", 1}, {"", std::nullopt}}, 0, false, 0, "L1", "o|s a|d b|u | "},
        {{}, 0, false, 0, "null", "o|s "},
        {{{std::nullopt, "s", 0}}, 0, false, 0, "L1", "o|s |s "},
        {{{"a"}}, PAPILdbFailure, false, PAPILdbFailure, nullptr, "o|s "},
        {{{"a"}}, PAPILdbFailure, true, PAPILdbFailure, "L1", "o|s "},
        {{{"a"}, {"b", "s", -5}}, 0, false, PAPILdbFailure, "L1", "o|s "},
        {{{"a"}, {std::nullopt, "s", 3}}, 0, false, PAPILdbFailure, "L1", "o|s "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.read);
        fakepapi::reset();
        fakepapi::state().layers["c"] = c.records;
        fakepapi::state().readStatus = c.status;
        fakepapi::state().answerWithFailure = c.withList;
        PapiConnection connection("", nullptr, nullptr);
        std::vector<PapiLayer> layers{PapiLayer("o", 1, "s")};
        PAPIStatus thrown = 0;
        try {
            connection.readComponentLayers("c", layers);
        } catch (const PapiException& e) {
            thrown = e.getStatus();
        }
        EXPECT_EQ(thrown, c.thrown);
        std::string read;
        for (const PapiLayer& layer : layers) {
            read += layer.getText() + "|" + layer.getStamp() + " ";
        }
        EXPECT_EQ(read, c.read);
        Calls frees = fakepapi::calls();
        frees.erase(frees.begin(), frees.begin() + 2);  // the open and the read
        EXPECT_EQ(frees,
                  c.free ? Calls{"papiFreeLayerList(" + std::string(c.free) + ")"} : Calls());
        EXPECT_EQ(fakepapi::listsFreedOtherThanOnce(), std::vector<std::string>());
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
    fakepapi::state().initStatus = PAPIConnectionFailure;
    EXPECT_THROW(getSharedPapi("x"), PapiException);  // and tried again below
    fakepapi::state().initStatus = PAPISuccess;
    PapiConnection* x1 = getSharedPapi("x");
    PapiConnection* x2 = getSharedPapi("x");
    PapiConnection* y = getSharedPapi("y");
    EXPECT_EQ(x1, x2);
    EXPECT_NE(x1, y);
    EXPECT_EQ(x1->getUseCount(), 2);
    releaseSharedPapi(x1);
    releaseSharedPapi(nullptr);
    EXPECT_EQ(fakepapi::openHandles(), 2);
    releaseSharedPapi(x2);
    releaseSharedPapi(getSharedPapi("x"));  // a fresh handle
    releaseSharedPapi(y);
    // A connection that is not in the table is not the table's to close.
    PapiConnection own("y", nullptr, nullptr);
    releaseSharedPapi(&own);
    EXPECT_EQ(fakepapi::calls(),
              (Calls{"papiInitialise(x)=null", "papiInitialise(x)=H1", "papiInitialise(y)=H2",
                     "papiDeinitialise(H1)", "papiInitialise(x)=H3", "papiDeinitialise(H3)",
                     "papiDeinitialise(H2)", "papiInitialise(y)=H4"}));

    std::vector<std::thread> threads(4);
    for (auto& thread : threads) {
        thread = std::thread([] {
            for (int i = 0; i < 200; ++i) {
                releaseSharedPapi(getSharedPapi("x"));
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(fakepapi::openHandles(), 1);  // own
}

}  // namespace
