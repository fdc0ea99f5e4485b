// SPDX-License-Identifier: LGPL-2.1-or-later
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
using Texts = std::vector<std::string>;

namespace {

// Records its calls; the action runs inside each call.
struct Listener : IPolicyListener {
    mutable Texts calls;
    std::function<void()> action = [] {};

    void onComponentAdd(const std::string& c) const override { record("add " + c); }
    void onComponentRemove(const std::string& c) const override { record("remove " + c); }
    void onComponentModify(const std::string& c) const override { record("modify " + c); }
    void record(const std::string& call) const {
        calls.push_back(call);
        action();
    }
};

const NodePath kA("a", {}), kB("b", {});

class PolicyAccessTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fakepapi::reset();
        syslogseam::clear();
    }
    void TearDown() override {
        // Every test gives its connection back and leaves nothing registered.
        EXPECT_EQ(fakepapi::openHandles(), 0);
        EXPECT_EQ(fakepapi::registrations(), Texts());
        EXPECT_EQ(fakepapi::listsFreedOtherThanOnce(), Texts());
    }
};

TEST_F(PolicyAccessTest, LayersAndOneServiceRegistrationPerComponent) {
    fakepapi::state().layers["a"] = {{"<x/>", "default/ 1"}};
    PolicyAccess access("kiosk.default");
    std::vector<PolicyLayer> layers;
    access.getPolicyLayers(NodePath("a", {"n"}), layers);
    ASSERT_EQ(layers.size(), 1u);
    EXPECT_EQ(layers[0].getLayer().getText() + layers[0].getPath().getPath(), "<x/>/n");

    Listener first, second;
    access.addListener(NodePath("a", {"x"}), &first);
    access.addListener(NodePath("a", {"y"}), &second);
    access.addListener(kA, &second);  // the same listener again
    EXPECT_EQ(fakepapi::fire("a", PAPIEventComponentModified), 1);
    for (const auto& [type, component] : std::vector<std::pair<int, const char*>>{
             {0, "a"}, {2, "a"}, {3, "a"}, {-1, "a"}, {1, "b"}, {1, nullptr}}) {
        const PAPIEvent event{type, component};
        componentChange(&event, &access);
    }
    const PAPIEvent event{1, "a"};
    componentChange(nullptr, &access);
    componentChange(&event, nullptr);
    EXPECT_EQ(first.calls, (Texts{"modify a", "add a", "remove a"}));
    EXPECT_EQ(second.calls, first.calls);

    access.removeListener(kA, &first);
    EXPECT_EQ(fakepapi::registrations(), Texts{"R1"});
    access.removeListener(kB, &first);  // no entry: nothing
    access.removeListener(NodePath("a", {"y"}), &second);
    access.addListener(kA, &first);  // registers anew
    access.removeListener(kA, &first);
    EXPECT_EQ(fakepapi::calls(), (Calls{"papiInitialise(kiosk.default)=H1",
                                        "papiReadComponentLayers(H1,a)=L1", "papiFreeLayerList(L1)",
                                        "papiAddListener(H1,a)=R1", "papiRemoveListener(H1,R1)",
                                        "papiAddListener(H1,a)=R2", "papiRemoveListener(H1,R2)"}));
}

// A failed registration leaves no handle to unregister and is tried again. A
// refused unregistration is kept: for the next addListener, then the destructor,
// which logs each refusal and still tries the next, all before the release.
TEST_F(PolicyAccessTest, ServiceRefusals) {
    Listener listener;
    {
        PolicyAccess access;
        fakepapi::state().addStatus = PAPIConnectionFailure;
        EXPECT_THROW(access.addListener(kA, &listener), PapiException);
        access.removeListener(kA, &listener);
        fakepapi::state().addStatus = PAPISuccess;
        access.addListener(kA, &listener);
        fakepapi::state().removeStatus = PAPIInvalidArg;
        EXPECT_THROW(access.removeListener(kA, &listener), PapiException);
        fakepapi::fire("a", 1);  // the service still calls: nobody listens
        EXPECT_EQ(listener.calls, Texts());
        access.addListener(kA, &listener);  // takes the registration over
        access.addListener(kB, &listener);
        fakepapi::fire("a", 1);
        EXPECT_EQ(listener.calls, Texts{"modify a"});
    }
    EXPECT_EQ(fakepapi::calls(), (Calls{"papiInitialise(null)=H1", "papiAddListener(H1,a)=null",
                                        "papiAddListener(H1,a)=R1", "papiRemoveListener(H1,R1)",
                                        "papiAddListener(H1,b)=R2", "papiRemoveListener(H1,R1)",
                                        "papiRemoveListener(H1,R2)", "papiDeinitialise(H1)"}));
    const auto messages = syslogseam::messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].priority, LOG_ERR);
    EXPECT_EQ(messages[0].text, "Cannot stop watching policy component a: Invalid argument\n");
    fakepapi::reset();  // the fake keeps the registrations it refused to drop
}

TEST_F(PolicyAccessTest, ListenerExceptionsStayOutOfTheService) {
    PolicyAccess access;
    Listener listeners[3];
    listeners[0].action = [] { throw PapiException("No such component\n", 3); };
    listeners[1].action = [] { throw std::runtime_error("boom"); };
    for (Listener& l : listeners) {
        access.addListener(kA, &l);
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
    EXPECT_THROW(access.processEvent(PAPIEvent{1, "a"}), PapiException);
}

TEST_F(PolicyAccessTest, ListenersChangedDuringDispatch) {
    PolicyAccess access;
    Listener listeners[3];  // called in address order
    Listener added;
    listeners[0].action = [&] {
        access.removeListener(kA, &listeners[1]);
        access.addListener(kA, &added);
    };
    // The last one unregisters the component from inside the callback.
    listeners[2].action = [&] {
        for (Listener* l : {&listeners[0], &listeners[2], &added}) {
            access.removeListener(kA, l);
        }
    };
    for (Listener& l : listeners) {
        access.addListener(kA, &l);
    }
    fakepapi::fire("a", 1);
    EXPECT_EQ(listeners[0].calls.size() + listeners[2].calls.size(), 2u);
    EXPECT_EQ(listeners[1].calls.size() + added.calls.size(), 0u);  // removed; not in the snapshot
}

// Events keep arriving on another thread while listeners come and go; a
// removal returns only after a call in progress ended, which skips the removed.
TEST_F(PolicyAccessTest, EventsOnAnotherThread) {
    PolicyAccess access;
    Listener listeners[2];  // called in address order
    Listener &slow = listeners[0], &removed = listeners[1];
    std::atomic<int> calls{0};
    std::atomic<bool> ended{false}, stop{false};
    slow.action = [&] {
        if (++calls == 1) {
            // Slow by design: the removal must wait for this call.
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            ended = true;
        }
    };
    access.addListener(kA, &slow);
    access.addListener(kA, &removed);
    std::thread events([&] {
        while (!stop) {
            fakepapi::fire("a", 1);
            fakepapi::fire("b", 1);
        }
    });
    while (calls == 0) {
        std::this_thread::yield();
    }
    access.removeListener(kA, &removed);
    EXPECT_TRUE(ended);
    for (int i = 0; i < 300; ++i) {
        Listener passing;
        access.addListener(i % 2 ? kA : kB, &passing);
        access.removeListener(i % 2 ? kA : kB, &passing);
    }
    stop = true;
    events.join();
    EXPECT_EQ(removed.calls, Texts());
}

}  // namespace
