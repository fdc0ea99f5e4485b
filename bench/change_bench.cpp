// SPDX-License-Identifier: LGPL-2.1-or-later
// Tree comparison and change notification, each against a floor measured in
// the same iterations: a walk of the new tree that finds every node's
// counterpart in the old tree by name.
#include <benchmark/benchmark.h>

#include <time.h>

#include <memory>
#include <string>
#include <vector>

#include "RatioRows.h"
#include "change/DiffListener.h"
#include "change/INodeListener.h"
#include "change/TreeDiff.h"
#include "model/NodeVisitor.h"
#include "model/PropertyNode.h"
#include "model/StructuralNode.h"
#include "model/Tree.h"

using namespace vesk::legacy;

namespace {

// CPU time of this thread: the machine may be busy with other work.
double cpuSeconds() {
    timespec now;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Groups down to depth 4, ten properties under each deepest group; the root
// has rootFanOut children, every other group ten. rootFanOut 4 gives 44 445
// nodes.
Node* buildGroup(const std::string& name, int depth, int fanOut) {
    auto* group = new StructuralNode(name);
    for (int i = 0; i < fanOut; ++i) {
        if (depth == 4) {
            auto* property = new PropertyNode("p" + std::to_string(i), TypeString);
            property->setStringValue("value " + std::to_string(i), "default");
            group->adoptChild(*property);
        } else {
            group->adoptChild(*buildGroup("n" + std::to_string(i), depth + 1, 10));
        }
    }
    return group;
}

std::unique_ptr<Tree> buildTree(int rootFanOut) {
    auto tree = std::make_unique<Tree>();
    tree->setRoot(buildGroup("root", 0, rootFanOut));
    return tree;
}

StructuralNode* child(Node* node, const std::string& name) {
    return node->asStructuralNode()->getChild(name)->asStructuralNode();
}

class Floor : public NodeVisitor {
  public:
    explicit Floor(Node* otherRoot) : mOtherRoot(otherRoot) {}
    virtual ~Floor() = default;
    bool preChildrenProcess(Node& node) override {
        Node* context = mOtherRoot;
        if (!mStack.empty()) {
            StructuralNode* parent = mStack.back() ? mStack.back()->asStructuralNode() : nullptr;
            context = parent ? parent->getChild(node.getName()) : nullptr;
        }
        mFound += context != nullptr;
        mStack.push_back(context);
        return true;
    }
    bool postChildrenProcess(Node&) override {
        mStack.pop_back();
        return true;
    }
    std::size_t mFound = 0;

  private:
    Node* mOtherRoot;
    std::vector<Node*> mStack;
};

class Counter : public INodeListener {
  public:
    void onNodeAdded(const NodePath&) override { ++mCalls; }
    void onNodeRemoved(const NodePath&) override { ++mCalls; }
    void onNodeChanged(const NodePath&) override { ++mCalls; }
    std::size_t mCalls = 0;
};

std::size_t floorWalk(const Tree& newTree, const Tree& oldTree) {
    Floor floor(oldTree.getRoot());
    newTree.getRoot()->visit(floor);
    return floor.mFound;
}

std::size_t notify(const Tree& newTree, Tree& oldTree) {
    DiffListener registry("comp");
    Counter counter;
    NodePath root("comp", {});
    registry.addListener(root, &counter);
    TreeDiff diff("comp", &registry, &oldTree);
    newTree.substract(oldTree, diff);
    return counter.mCalls;
}

// Runs floor and subject alternately and reports the subject's time, with
// the ratio subject / floor as a counter.
template <typename Floor, typename Subject>
void compare(benchmark::State& state, std::size_t nodes, Floor floor, Subject subject) {
    double floorSeconds = 0;
    double subjectSeconds = 0;
    for (auto _ : state) {
        const double t0 = cpuSeconds();
        benchmark::DoNotOptimize(floor());
        const double t1 = cpuSeconds();
        benchmark::DoNotOptimize(subject());
        const double t2 = cpuSeconds();
        floorSeconds += t1 - t0;
        subjectSeconds += t2 - t1;
        state.SetIterationTime(t2 - t1);
    }
    state.counters["nodes"] = static_cast<double>(nodes);
    state.counters["ratio"] = subjectSeconds / floorSeconds;
    state.counters["ns_per_node"] =
        subjectSeconds * 1e9 / static_cast<double>(state.iterations()) / nodes;
}

void BM_SubstractOneChange(benchmark::State& state) {
    auto oldTree = buildTree(4);
    Tree newTree(*oldTree);
    auto* property = child(child(child(child(newTree.getRoot(), "n3"), "n7"), "n1"), "n5")
                         ->getChild("p2")
                         ->asPropertyNode();
    property->setStringValue("changed", "default");
    compare(
        state, 44445, [&] { return floorWalk(newTree, *oldTree); },
        [&] { return notify(newTree, *oldTree); });
}
BENCHMARK(BM_SubstractOneChange)->UseManualTime()->Unit(benchmark::kMillisecond);

// One in four of the deepest groups (with their ten properties) removed:
// 1 000 removed subtrees at root fan-out 4, 500 at 2. The floor also walks
// the old tree, since removals are reported from it.
void BM_SubstractRemovals(benchmark::State& state) {
    const int rootFanOut = static_cast<int>(state.range(0));
    auto oldTree = buildTree(rootFanOut);
    Tree newTree(*oldTree);
    int removed = 0;
    int seen = 0;
    for (int a = 0; a < rootFanOut; ++a) {
        for (int b = 0; b < 10; ++b) {
            for (int c = 0; c < 10; ++c) {
                StructuralNode* parent =
                    child(child(child(newTree.getRoot(), "n" + std::to_string(a)),
                                "n" + std::to_string(b)),
                          "n" + std::to_string(c));
                for (int d = 0; d < 10; ++d) {
                    if ((seen++ % 4) != 0) {
                        continue;
                    }
                    const std::string name = "n" + std::to_string(d);
                    delete parent->getChild(name);
                    parent->removeChild(name);
                    ++removed;
                }
            }
        }
    }
    state.counters["removed"] = removed;
    const std::size_t nodes = 1 + 11111 * static_cast<std::size_t>(rootFanOut);
    compare(
        state, nodes,
        [&] {
            Floor back(nullptr);
            oldTree->getRoot()->visit(back);
            return floorWalk(newTree, *oldTree) + back.mFound;
        },
        [&] { return notify(newTree, *oldTree); });
}
BENCHMARK(BM_SubstractRemovals)->Arg(2)->Arg(4)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioRows rows({{"BM_SubstractOneChange/manual_time",
                     "substract 44 k nodes, one change / walk with counterpart lookups", 1.5}});
    benchmark::RunSpecifiedBenchmarks(&rows);
    benchmark::Shutdown();
    return 0;
}
