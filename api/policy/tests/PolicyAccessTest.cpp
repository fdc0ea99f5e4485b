#include <gtest/gtest.h>
#include <syslog.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <stdexcept>
#include <thread>

#include "FakePapi.h"
#include "SyslogSeam.h"
#include "policy/PapiException.h"
#include "policy/PolicyAccess.h"

using namespace vesk::legacy;
using fakepapi::Calls;

namespace {

// Records its calls; an optional action runs inside each call.
class Listener : public IPolicyListener {
  public:
    mutable std::vector<std::string> calls;
    mutable std::atomic<int> count{0};  // readable while events arrive
    std::function<void()> action;

    void onComponentAdd(const std::string& c) const override { record("add " + c); }
    void onComponentRemove(const std::string& c) const override { record("remove " + c); }
    void onComponentModify(const std::string& c) const override { record("modify " + c); }

  private:
    void record(const std::string& call) const {
        calls.push_back(call);
        ++count;
        if (action) {
            action();
        }
    }
};

NodePath pathOf(const std::string& text) {
    NodePath path;
    path.setPath(text);
    return path;
}

class PolicyAccessTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fakepapi::reset();
        syslogseam::clear();
    }
    void TearDown() override {
        // Every test gives its connection back and leaves nothing registered.
        EXPECT_TRUE(fakepapi::openHandles().empty());
        EXPECT_TRUE(fakepapi::registrations().empty());
        EXPECT_TRUE(fakepapi::listsFreedOtherThanOnce().empty());
    }
};

TEST_F(PolicyAccessTest, OneServiceRegistrationPerComponent) {
    PolicyAccess access;
    Listener first, second;
    access.addListener(pathOf("a/x"), &first);
    access.addListener(pathOf("a/y"), &second);
    access.addListener(pathOf("a"), &second);  // the same listener again
    EXPECT_EQ(fakepapi::registrations().at("R1").userData, &access);

    EXPECT_EQ(fakepapi::fire("a", PAPIEventComponentModified), 1);
    EXPECT_EQ(first.calls, (std::vector<std::string>{"modify a"}));
    EXPECT_EQ(second.calls, (std::vector<std::string>{"modify a"}));

    access.removeListener(pathOf("a"), &first);
    EXPECT_EQ(fakepapi::registrations().size(), 1u);
    access.removeListener(pathOf("b"), &first);  // no entry: nothing
    access.removeListener(pathOf("a/y"), &second);
    EXPECT_EQ(fakepapi::calls(), (Calls{"papiInitialise(null)=H1", "papiAddListener(H1,a)=R1",
                                        "papiRemoveListener(H1,R1)"}));

    access.addListener(pathOf("a"), &first);  // registers anew
    EXPECT_EQ(fakepapi::registrations().count("R2"), 1u);
    access.removeListener(pathOf("a"), &first);
}

TEST_F(PolicyAccessTest, EventTypesAndComponents) {
    PolicyAccess access("kiosk.default");
    Listener listener;
    access.addListener(pathOf("a"), &listener);
    const struct {
        int type;
        const char* component;
    } events[] = {{0, "a"}, {2, "a"}, {3, "a"}, {-1, "a"}, {1, "b"}, {1, nullptr}, {1, "a"}};
    for (const auto& e : events) {
        const PAPIEvent event{e.type, e.component};
        componentChange(&event, &access);
    }
    componentChange(nullptr, &access);
    const PAPIEvent event{1, "a"};
    componentChange(&event, nullptr);
    EXPECT_EQ(listener.calls, (std::vector<std::string>{"add a", "remove a", "modify a"}));
    access.removeListener(pathOf("a"), &listener);
}

TEST_F(PolicyAccessTest, GetPolicyLayersCarriesThePath) {
    fakepapi::state().layers["a"] = {{"<x/>", "default/ 1"}, {"<y/>", "users/u 2"}};
    PolicyAccess access;
    const NodePath path = pathOf("a/n");
    std::vector<PolicyLayer> layers;
    layers.emplace_back(pathOf("old"), PapiLayer("", 0, ""));
    access.getPolicyLayers(path, layers);
    ASSERT_EQ(layers.size(), 3u);
    EXPECT_EQ(layers[1].getLayer().getText(), "<x/>");
    EXPECT_EQ(layers[2].getLayer().getStamp(), "users/u 2");
    EXPECT_EQ(layers[2].getPath().getPath(), "/n");

    fakepapi::state().readStatus = PAPIConnectionFailure;
    EXPECT_THROW(access.getPolicyLayers(path, layers), PapiException);
    EXPECT_EQ(layers.size(), 3u);
}

TEST_F(PolicyAccessTest, FailedRegistrationIsRetriedAndRemovedWithoutServiceCall) {
    PolicyAccess access;
    Listener listener;
    fakepapi::state().addStatus = PAPIConnectionFailure;
    EXPECT_THROW(access.addListener(pathOf("a"), &listener), PapiException);
    access.removeListener(pathOf("a"), &listener);  // no handle to unregister
    EXPECT_THROW(access.addListener(pathOf("a"), &listener), PapiException);
    fakepapi::state().addStatus = PAPISuccess;
    access.addListener(pathOf("a"), &listener);
    fakepapi::fire("a", 1);
    EXPECT_EQ(listener.calls.size(), 1u);
    access.removeListener(pathOf("a"), &listener);
    EXPECT_EQ(fakepapi::calls(), (Calls{"papiInitialise(null)=H1", "papiAddListener(H1,a)=null",
                                        "papiAddListener(H1,a)=null", "papiAddListener(H1,a)=R1",
                                        "papiRemoveListener(H1,R1)"}));
}

TEST_F(PolicyAccessTest, FailedUnregistrationIsKeptForLater) {
    Listener listener;
    {
        PolicyAccess access;
        access.addListener(pathOf("a"), &listener);
        fakepapi::state().removeStatus = PAPIConnectionFailure;
        EXPECT_THROW(access.removeListener(pathOf("a"), &listener), PapiException);
        fakepapi::fire("a", 1);  // the service still calls: nobody listens
        EXPECT_TRUE(listener.calls.empty());
        access.addListener(pathOf("a"), &listener);  // takes the registration over
        fakepapi::state().removeStatus = PAPISuccess;
    }
    EXPECT_EQ(fakepapi::calls(), (Calls{"papiInitialise(null)=H1", "papiAddListener(H1,a)=R1",
                                        "papiRemoveListener(H1,R1)", "papiRemoveListener(H1,R1)",
                                        "papiDeinitialise(H1)"}));
}

TEST_F(PolicyAccessTest, DestructorUnregistersEveryComponentBeforeRelease) {
    Listener listener;
    auto* other = new PolicyAccess;  // keeps the shared connection open
    for (PAPIStatus removeStatus : {PAPISuccess, PAPIInvalidArg}) {
        {
            PolicyAccess access;
            access.addListener(pathOf("a"), &listener);
            access.addListener(pathOf("b"), &listener);
            fakepapi::state().removeStatus = removeStatus;
        }
        fakepapi::state().removeStatus = PAPISuccess;
        // (The service keeps what it refused to drop; firing it would reach a
        // destroyed object, which no code can prevent.)
        EXPECT_EQ(fakepapi::registrations().size(), removeStatus ? 2u : 0u);
    }
    delete other;
    EXPECT_EQ(fakepapi::calls(), (Calls{"papiInitialise(null)=H1", "papiAddListener(H1,a)=R1",
                                        "papiAddListener(H1,b)=R2", "papiRemoveListener(H1,R1)",
                                        "papiRemoveListener(H1,R2)", "papiAddListener(H1,a)=R3",
                                        "papiAddListener(H1,b)=R4", "papiRemoveListener(H1,R3)",
                                        "papiRemoveListener(H1,R4)", "papiDeinitialise(H1)"}));
    // Each refusal is logged and the next one still tried.
    const auto messages = syslogseam::messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].priority, LOG_ERR);
    EXPECT_EQ(messages[0].text, "Cannot stop watching policy component a: Invalid argument\n");
    fakepapi::reset();  // the fake keeps the registrations it refused to drop
}

TEST_F(PolicyAccessTest, ComponentChangeContainsListenerExceptions) {
    PolicyAccess access;
    Listener listeners[3];
    listeners[0].action = [] { throw PapiException("No such component\n", 3); };
    listeners[1].action = [] { throw std::runtime_error("boom"); };
    for (Listener& l : listeners) {
        access.addListener(pathOf("a"), &l);
    }
    EXPECT_NO_THROW(fakepapi::fire("a", 1));
    for (Listener& l : listeners) {
        EXPECT_EQ(l.calls.size(), 1u);  // one throwing listener stops no other
    }
    const auto messages = syslogseam::messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].text, "A policy listener failed with an unexpected exception\n");
    EXPECT_EQ(messages[1].text, "No such component\n");
    EXPECT_EQ(messages[1].priority, LOG_ERR);

    // Called directly, processEvent hands the first failure to its caller.
    const PAPIEvent event{1, "a"};
    EXPECT_THROW(access.processEvent(event), PapiException);
    for (Listener& l : listeners) {
        access.removeListener(pathOf("a"), &l);
    }
}

TEST_F(PolicyAccessTest, ListenersChangedDuringDispatch) {
    PolicyAccess access;
    Listener listeners[3];  // called in address order
    Listener added;
    listeners[0].action = [&] {
        access.removeListener(pathOf("a"), &listeners[1]);
        access.addListener(pathOf("a"), &added);
    };
    listeners[2].action = [&] {
        // The last ones remove themselves, the last one unregistering from
        // inside the callback.
        access.removeListener(pathOf("a"), &listeners[0]);
        access.removeListener(pathOf("a"), &listeners[2]);
        access.removeListener(pathOf("a"), &added);
    };
    for (Listener& l : listeners) {
        access.addListener(pathOf("a"), &l);
    }
    fakepapi::fire("a", 1);
    EXPECT_EQ(listeners[0].calls.size(), 1u);
    EXPECT_TRUE(listeners[1].calls.empty());  // removed before its turn
    EXPECT_EQ(listeners[2].calls.size(), 1u);
    EXPECT_TRUE(added.calls.empty());  // not in the snapshot
    EXPECT_TRUE(fakepapi::registrations().empty());
}

TEST_F(PolicyAccessTest, RemovalWaitsForACallInProgressOnTheEventThread) {
    PolicyAccess access;
    Listener listeners[2];
    std::atomic<bool> inCall{false}, callEnded{false};
    listeners[0].action = [&] {
        inCall = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        callEnded = true;
    };
    access.addListener(pathOf("a"), &listeners[0]);
    access.addListener(pathOf("a"), &listeners[1]);
    std::thread events([] { fakepapi::fire("a", 1); });
    while (!inCall) {
        std::this_thread::yield();
    }
    access.removeListener(pathOf("a"), &listeners[1]);
    EXPECT_TRUE(callEnded);  // returned only after the dispatch ended...
    events.join();
    EXPECT_TRUE(listeners[1].calls.empty());  // ...which skipped the removed one
    access.removeListener(pathOf("a"), &listeners[0]);
}

TEST_F(PolicyAccessTest, EventsWhileListenersComeAndGo) {
    PolicyAccess access;
    Listener steady;
    access.addListener(pathOf("a"), &steady);
    std::atomic<bool> stop{false};
    std::thread events([&] {
        while (!stop) {
            fakepapi::fire("a", 1);
            fakepapi::fire("b", 1);
        }
    });
    while (steady.count == 0) {
        std::this_thread::yield();
    }
    for (int i = 0; i < 300; ++i) {
        Listener passing;
        access.addListener(pathOf("b"), &passing);
        access.addListener(pathOf("a"), &passing);
        access.removeListener(pathOf("a"), &passing);
        access.removeListener(pathOf("b"), &passing);
    }
    stop = true;
    events.join();
    access.removeListener(pathOf("a"), &steady);
}

}  // namespace
