// SPDX-License-Identifier: LGPL-2.1-or-later
// The change path on several threads, against the real policy store: run under
// ThreadSanitizer by ./build.sh tsan (label concurrency), where a data race or
// a lock-order inversion fails the test, and in the other builds as well.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "TestFiles.h"
#include "access/ConfigurationAccess.h"
#include "change/INodeListener.h"
#include "model/Node.h"
#include "model/NodePath.h"
#include "model/PropertyNode.h"
#include "model/StructuralNode.h"
#include "model/Tree.h"
#include "papi.h"
#include "policy/IPolicyListener.h"
#include "policy/PolicyAccess.h"

namespace fs = std::filesystem;
using namespace vesk::legacy;
using namespace std::chrono_literals;

namespace {

// A store with one layer per component in its default scope, rewritten as an
// administrator's tool does: beside the file, then renamed into place.
class ConcurrencyTest : public testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(mStore / "default");
        setenv("VESK_POLICY_STORE", mStore.c_str(), 1);
    }
    void TearDown() override { unsetenv("VESK_POLICY_STORE"); }

  public:
    void writeLayer(const std::string& component, const std::string& value) {
        const fs::path temporary = mStore / "default" / ("." + component + ".tmp");
        std::ofstream(temporary)
            << "<zel:component-data zel:name=\"" << component
            << "\"><node zel:name=\"a\"><prop zel:name=\"p\"><value>" << value
            << "</value></prop><prop zel:name=\"l\" zel:type=\"zel:string-list\">"
            << "<value>" << value << " end</value></prop></node>"
            << "</zel:component-data>";
        fs::rename(temporary, mStore / "default" / (component + ".xml"));
    }

  private:
    testsupport::TempDir mScratch{"hollin-concurrency"};
    const fs::path mStore = mScratch.path;
};

NodePath pathOf(const std::string& text) {
    NodePath path;
    path.setPath(text);
    return path;
}

// Remembers the value the facade held during its last call, and keeps the
// tree the last change came with for other threads to read.
class ValueRecorder : public INodeListener {
  public:
    ValueRecorder(const ConfigurationAccess& access, std::string valuePath)
        : mAccess(access), mValuePath(std::move(valuePath)) {}

    void onNodeAdded(const NodePath&) override { record(); }
    void onNodeRemoved(const NodePath&) override { record(); }
    void onNodeChanged(const NodePath&) override { record(); }

    void onChangeCompleteWith(const ChangeOutcome& outcome) override {
        std::lock_guard<std::mutex> lock(mMutex);
        mOutcome = outcome.tree;
    }
    // The property's value in the kept tree; "" before the first change.
    std::string outcomeValue() {
        std::shared_ptr<const Tree> tree;
        {
            std::lock_guard<std::mutex> lock(mMutex);
            tree = mOutcome;
        }
        const StructuralNode* root = tree ? tree->getRoot()->asStructuralNode() : nullptr;
        const Node* group = root != nullptr ? root->findChild("a") : nullptr;
        const Node* property =
            group != nullptr ? group->asStructuralNode()->findChild("p") : nullptr;
        return property != nullptr ? property->asPropertyNode()->getStringValue("default") : "";
    }

    bool waitFor(const std::string& value, std::chrono::seconds timeout) {
        std::unique_lock<std::mutex> lock(mMutex);
        return mChanged.wait_for(lock, timeout, [&] { return mLastSeen == value; });
    }

  private:
    void record() {
        // Read during the call, when the new tree is in place.
        const std::string value = mAccess.getStringValue(mValuePath);
        std::lock_guard<std::mutex> lock(mMutex);
        mLastSeen = value;
        mChanged.notify_all();
    }

    const ConfigurationAccess& mAccess;
    const std::string mValuePath;
    std::mutex mMutex;
    std::condition_variable mChanged;
    std::string mLastSeen;
    std::shared_ptr<const Tree> mOutcome;
};

TEST_F(ConcurrencyTest, ReadersAndListenersOnSeveralThreadsWhilePolicyIsRewritten) {
    const std::string component = "race.rewrite";
    const std::string valuePath = component + "/a/p";
    writeLayer(component, "v0");
    ConfigurationAccess access("");

    // Registered for the whole run, at the component and at the property.
    ValueRecorder atComponent(access, valuePath);
    ValueRecorder atProperty(access, valuePath);
    access.addListener(pathOf(component), &atComponent);
    access.addListener(pathOf(valuePath), &atProperty);

    std::atomic<bool> stopReaders{false};
    std::atomic<bool> stopChurn{false};
    std::vector<std::thread> threads;
    // Readers use what they read: a value freed under them fails under the
    // sanitizers.
    for (int i = 0; i < 2; ++i) {
        threads.emplace_back([&] {
            while (!stopReaders) {
                const std::string kept = atComponent.outcomeValue();
                EXPECT_TRUE(kept.empty() || kept.compare(0, 1, "v") == 0 || kept == "last") << kept;
                const std::string value = access.getString(valuePath, "default", "none");
                EXPECT_EQ(value.compare(0, 1, "v") == 0 || value == "last", true) << value;
                const std::shared_ptr<const Tree> tree = access.snapshot(component);
                ASSERT_NE(tree->getRoot(), nullptr);
                EXPECT_EQ(tree->getRoot()->getName(), component);
                EXPECT_EQ(access.getNode(component + "/a/missing"), nullptr);
            }
        });
    }
    // Each churning thread adds and removes its listeners in turn and ends
    // with one of them registered for good.
    std::vector<std::unique_ptr<ValueRecorder>> churned;
    for (int i = 0; i < 6; ++i) {
        churned.push_back(std::make_unique<ValueRecorder>(access, valuePath));
    }
    std::vector<std::thread> churners;
    for (int t = 0; t < 2; ++t) {
        churners.emplace_back([&, t] {
            const NodePath paths[] = {pathOf(component), pathOf(component + "/a"),
                                      pathOf(valuePath)};
            for (int round = 0; !stopChurn; ++round) {
                ValueRecorder* listener = churned[static_cast<size_t>(t * 3 + round % 3)].get();
                access.addListener(paths[round % 3], listener);
                std::this_thread::yield();
                access.removeListener(paths[round % 3], listener);
            }
            access.addListener(paths[t], churned[static_cast<size_t>(t * 3)].get());
        });
    }

    // 200 rewrites; a pause after every tenth lets an event through.
    for (int i = 1; i < 200; ++i) {
        writeLayer(component, "v" + std::to_string(i));
        // The pace of the race: changes faster than events, and some quiet.
        std::this_thread::sleep_for(i % 10 == 0 ? 150ms : 1ms);
    }
    stopChurn = true;
    for (auto& thread : churners) {
        thread.join();
    }
    writeLayer(component, "last");

    // Every listener still registered hears of the last change.
    EXPECT_TRUE(atComponent.waitFor("last", 30s));
    EXPECT_TRUE(atProperty.waitFor("last", 30s));
    EXPECT_TRUE(churned[0]->waitFor("last", 30s));
    EXPECT_TRUE(churned[3]->waitFor("last", 30s));
    EXPECT_TRUE(testsupport::waitUntil([&] { return atComponent.outcomeValue() == "last"; }));
    stopReaders = true;
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(access.getStringValue(valuePath), "last");
    access.removeListener(pathOf(component), &atComponent);
    access.removeListener(pathOf(valuePath), &atProperty);
    access.removeListener(pathOf(component), churned[0].get());
    access.removeListener(pathOf(component + "/a"), churned[3].get());
}

// A reader thread that keeps what it read while the tree it came from is
// replaced: the values and the snapshot it holds stay its own.
TEST_F(ConcurrencyTest, ValuesReadOnOneThreadOutliveRewritesOnAnother) {
    const std::string component = "race.hold";
    writeLayer(component, "v0");
    ConfigurationAccess access("");
    ValueRecorder listener(access, component + "/a/p");
    access.addListener(pathOf(component), &listener);

    std::atomic<bool> stop{false};
    std::atomic<int> rounds{0};
    std::thread reader([&] {
        while (!stop) {
            const std::string value = access.getString(component + "/a/p", "default", "");
            const std::vector<std::string> list =
                access.getList(component + "/a/l", "default", {"none"});
            const std::shared_ptr<const Tree> tree = access.snapshot(component);
            const Node* held = tree->getRoot();
            // Held while the writer replaces the tree: the point of the test.
            std::this_thread::sleep_for(20ms);
            EXPECT_EQ(value.at(0), 'v');
            ASSERT_EQ(list.size(), 2u);
            EXPECT_EQ(list[0].at(0), 'v');
            EXPECT_EQ(list[1], "end");
            EXPECT_EQ(held->getName(), component);
            ++rounds;
        }
    });
    for (int i = 1; i <= 30; ++i) {
        writeLayer(component, "v" + std::to_string(i));
        ASSERT_TRUE(listener.waitFor("v" + std::to_string(i), 30s));
    }
    stop = true;
    reader.join();
    EXPECT_GT(rounds, 0);
    access.removeListener(pathOf(component), &listener);
}

// A listener that stays busy in every call long enough for another thread to
// act meanwhile, and counts the calls that come after it was withdrawn.
class SlowListener : public IPolicyListener, public INodeListener {
  public:
    void onComponentAdd(const std::string&) const override { run(); }
    void onComponentRemove(const std::string&) const override { run(); }
    void onComponentModify(const std::string&) const override { run(); }
    void onNodeAdded(const NodePath&) override { run(); }
    void onNodeRemoved(const NodePath&) override { run(); }
    void onNodeChanged(const NodePath&) override { run(); }

    void run() const {
        if (mWithdrawn) {
            ++*mCallsAfterWithdrawal;
        }
        {
            std::lock_guard<std::mutex> lock(mMutex);
            mInCall = true;
            mEntered.notify_all();
        }
        // Busy by design, so that another thread acts during the call.
        std::this_thread::sleep_for(150ms);
        std::lock_guard<std::mutex> lock(mMutex);
        mInCall = false;
    }
    bool waitForCall() {
        std::unique_lock<std::mutex> lock(mMutex);
        return mEntered.wait_for(lock, 10s, [&] { return mInCall; });
    }
    bool busy() {
        std::lock_guard<std::mutex> lock(mMutex);
        return mInCall;
    }
    // Calls after this count in *counter, which outlives the listener.
    void withdraw(std::atomic<int>& counter) {
        mCallsAfterWithdrawal = &counter;
        mWithdrawn = true;
    }

  private:
    mutable std::mutex mMutex;
    mutable std::condition_variable mEntered;
    mutable bool mInCall = false;
    std::atomic<int>* mCallsAfterWithdrawal = nullptr;
    std::atomic<bool> mWithdrawn{false};
};

void slowPapiCallback(const PAPIEvent*, void* userData) {
    static_cast<SlowListener*>(userData)->run();
}

TEST_F(ConcurrencyTest, PapiRemoveListenerWaitsForTheCallbackInProgressAndNoneFollows) {
    const std::string component = "race.papi";
    writeLayer(component, "v0");
    PAPIStatus status = PAPISuccess;
    PAPI* handle = papiInitialise(nullptr, &status);
    ASSERT_EQ(status, PAPISuccess);
    std::atomic<int> callsAfterRemoval{0};

    for (int round = 0; round < 4; ++round) {
        auto listener = std::make_unique<SlowListener>();
        PAPIListenerId id =
            papiAddListener(handle, component.c_str(), slowPapiCallback, listener.get(), &status);
        ASSERT_EQ(status, PAPISuccess);
        writeLayer(component, "v" + std::to_string(round));
        ASSERT_TRUE(listener->waitForCall());

        papiRemoveListener(handle, id, &status);
        EXPECT_EQ(status, PAPISuccess);
        EXPECT_FALSE(listener->busy()) << "papiRemoveListener returned during its callback";
        listener->withdraw(callsAfterRemoval);
        // Freed at once, as a caller may: a later callback would touch freed memory.
        listener.reset();
        writeLayer(component, "after" + std::to_string(round));
        // A bounded wait for a call that must not come.
        EXPECT_FALSE(testsupport::waitUntil([&] { return callsAfterRemoval > 0; }, 300ms));
    }
    EXPECT_EQ(callsAfterRemoval, 0);
    papiDeinitialise(handle, &status);
}

// Destroys the access object that events are for while a call for it is in
// progress, or while an event is still pending; no call may follow.
template <typename Access>
void destroyWhileEventsArrive(ConcurrencyTest& test, const std::string& component,
                              bool inProgress) {
    test.writeLayer(component, "v0");
    std::atomic<int> callsAfterDestruction{0};
    SlowListener listener;
    {
        Access access("");
        access.addListener(pathOf(component), &listener);
        test.writeLayer(component, "v1");
        if (inProgress) {
            ASSERT_TRUE(listener.waitForCall());
        }
    }
    EXPECT_FALSE(listener.busy()) << "destroyed during a call";
    listener.withdraw(callsAfterDestruction);
    test.writeLayer(component, "v2");
    // A bounded wait for a call that must not come.
    EXPECT_FALSE(testsupport::waitUntil([&] { return callsAfterDestruction > 0; }, 1200ms));
}

TEST_F(ConcurrencyTest, AccessDestroyedWhileEventsForItArrive) {
    for (const bool inProgress : {true, false}) {
        SCOPED_TRACE(inProgress ? "call in progress" : "event pending");
        destroyWhileEventsArrive<PolicyAccess>(*this, "race.policy", inProgress);
        destroyWhileEventsArrive<ConfigurationAccess>(*this, "race.facade", inProgress);
    }
}

}  // namespace
