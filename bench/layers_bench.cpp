// SPDX-License-Identifier: LGPL-2.1-or-later
// Reading and merging one component layer, against the floor of the bare
// libxml2 SAX1 parse of the same bytes with callbacks that do nothing.
//
// The layers are generated like a real component's: groups nested at most 8
// deep, values of 10 to 100 bytes, a quarter of the properties lists, some
// names in a second language. The small one is about 20 KB; the large one
// about 10 MB, some 100 000 nodes. The "ratio" counter is reader+merger time
// over bare-parse time, both measured alternately in the same iterations.
#include <benchmark/benchmark.h>
#include <libxml/parser.h>
#include <malloc.h>

#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <string>

#include "RatioRows.h"
#include "layers/ITreeHandler.h"
#include "layers/TreeMerger.h"
#include "layers/XmlUpdateLayer.h"
#include "model/Tree.h"

using namespace vesk::legacy;

namespace {

class Random {
  public:
    explicit Random(uint64_t seed) : mState(seed) {}
    uint32_t next(uint32_t bound) {
        mState = mState * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<uint32_t>(mState >> 33) % bound;
    }

  private:
    uint64_t mState;
};

class LayerWriter {
  public:
    explicit LayerWriter(size_t targetBytes) : mRandom(targetBytes) {
        mText.reserve(targetBytes + 4096);
        mText += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
        mText += "<zel:component-data zel:name=\"com.orvek.bench\">\n";
        for (int group = 0; mText.size() < targetBytes; ++group) {
            writeGroup("group" + std::to_string(group), 2, targetBytes);
        }
        mText += "</zel:component-data>\n";
    }

    std::string mText;
    int mNodes = 1;

  private:
    void writeGroup(const std::string& name, int depth, size_t targetBytes) {
        ++mNodes;
        mText += "<node zel:name=\"" + name + "\"" +
                 (mRandom.next(20) == 0 ? " zel:finalized=\"true\">\n" : ">\n");
        const uint32_t properties = 3 + mRandom.next(8);
        for (uint32_t i = 0; i < properties; ++i) {
            writeProperty("prop" + std::to_string(i));
        }
        if (depth < 8) {
            const uint32_t groups = mRandom.next(depth < 4 ? 4 : 3);
            for (uint32_t i = 0; i < groups && mText.size() < targetBytes; ++i) {
                writeGroup("sub" + std::to_string(i), depth + 1, targetBytes);
            }
        }
        mText += "</node>\n";
    }

    void writeProperty(const std::string& name) {
        ++mNodes;
        const bool list = mRandom.next(4) == 0;
        mText += "<prop zel:name=\"" + name + "\" zel:type=\"" +
                 (list ? "zel:string-list" : "xs:string") + "\"><value>";
        writeValue();
        mText += "</value>";
        if (!list && mRandom.next(10) == 0) {
            mText += "<value xml:lang=\"de\">";
            writeValue();
            mText += "</value>";
        }
        mText += "</prop>\n";
    }

    void writeValue() {
        static const char kLetters[] =
            "abcdefghijklmnopqrstuvwxyz ABCDEFGHIJKLMNOPQRSTUVWXYZ 0123456789";
        const uint32_t length = 10 + mRandom.next(91);
        for (uint32_t i = 0; i < length; ++i) {
            mText += kLetters[mRandom.next(sizeof(kLetters) - 1)];
        }
    }

    Random mRandom;
};

const LayerWriter& layerOfSize(int64_t which) {
    static const LayerWriter kSmall(20 * 1024);
    static const LayerWriter kLarge(10 * 1024 * 1024);
    return which == 0 ? kSmall : kLarge;
}

void noStart(void*) {}
void noElement(void*, const xmlChar*, const xmlChar**) {}
void noEnd(void*, const xmlChar*) {}
void noCharacters(void*, const xmlChar*, int) {}

// The floor: the same SAX1 parse with the callbacks the reader uses, doing nothing.
void bareParse(const std::string& text) {
    xmlSAXHandler sax{};
    sax.startDocument = noStart;
    sax.endDocument = noStart;
    sax.startElement = noElement;
    sax.endElement = noEnd;
    sax.characters = noCharacters;
    int user = 0;
    xmlSAXUserParseMemory(&sax, &user, text.data(), static_cast<int>(text.size()));
}

// Thread CPU time: the machine is shared, and wall time would count the others.
double cpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

double secondsOf(const std::function<void()>& work) {
    const double start = cpuSeconds();
    work();
    return cpuSeconds() - start;
}

void BM_BareParse(benchmark::State& state) {
    const std::string& text = layerOfSize(state.range(0)).mText;
    xmlInitParser();
    for (auto _ : state) {
        state.SetIterationTime(secondsOf([&] { bareParse(text); }));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

// Reader alone, into a handler that does nothing: separates parsing from merging.
class NullHandler : public ITreeHandler {
  public:
    void startTree() override {}
    void endTree() override {}
    void modifyNode(const std::string&, int) override {}
    void replaceNode(const std::string&, int) override {}
    void removeNode(const std::string&) override {}
    void endNode() override {}
    void modifyProperty(const std::string&, PropertyType, int) override {}
    void replaceProperty(const std::string&, PropertyType, int) override {}
    void endProperty() override {}
    void setStringValue(const std::string&, const std::string&) override {}
    void setListValue(const std::vector<std::string>&, const std::string&) override {}
    void addListValues(const std::vector<std::string>&, const std::string&) override {}
};

void BM_ReadOnly(benchmark::State& state) {
    const std::string& text = layerOfSize(state.range(0)).mText;
    const XmlUpdateLayer update(text.data(), static_cast<int>(text.size()));
    NullHandler handler;
    double ours = 0;
    double floor = 0;
    for (auto _ : state) {
        const double seconds = secondsOf([&] { update.read(handler); });
        state.SetIterationTime(seconds);
        ours += seconds;
        floor += secondsOf([&] { bareParse(text); });
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
    state.counters["ratio"] = floor > 0 ? ours / floor : 0;
}

void BM_ReadAndMerge(benchmark::State& state) {
    const LayerWriter& layer = layerOfSize(state.range(0));
    const XmlUpdateLayer update(layer.mText.data(), static_cast<int>(layer.mText.size()));
    double ours = 0;
    double floor = 0;
    for (auto _ : state) {
        std::unique_ptr<Tree> tree;
        const double seconds = secondsOf([&] {
            TreeMerger merger;
            merger.merge(update);
            tree.reset(merger.getTree());
        });
        state.SetIterationTime(seconds);
        ours += seconds;
        tree.reset();  // destroying the tree is not part of building it
        floor += secondsOf([&] { bareParse(layer.mText); });
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * layer.mText.size()));
    state.counters["ratio"] = floor > 0 ? ours / floor : 0;
    state.counters["nodes"] = layer.mNodes;
    state.counters["KB"] = static_cast<double>(layer.mText.size()) / 1024;
}

// The large layer with a fault in its third line, against the bare parse of
// the whole well-formed layer: a broken layer is refused where it breaks, so
// the ratio stays far below 1 however long the rest is.
void BM_BrokenEarly(benchmark::State& state) {
    const std::string& whole = layerOfSize(1).mText;
    std::string broken = whole;
    const size_t thirdLine = broken.find('\n', broken.find('\n') + 1) + 1;
    broken.insert(thirdLine, "<node zel:name=\"a\" & >\n");
    const XmlUpdateLayer update(broken.data(), static_cast<int>(broken.size()));
    double ours = 0;
    double floor = 0;
    for (auto _ : state) {
        const double seconds = secondsOf([&] {
            TreeMerger merger;
            XmlUpdateLayer::ParseError error;
            if (update.read(merger, &error) || !error.failed) {
                state.SkipWithError("the broken layer was read as well-formed");
            }
            std::unique_ptr<Tree> tree(merger.getTree());
        });
        state.SetIterationTime(seconds);
        ours += seconds;
        floor += secondsOf([&] { bareParse(whole); });
    }
    state.counters["ratio"] = floor > 0 ? ours / floor : 0;
}

// A layer that removes a group again and again, merged over a layer that
// locks every child of that group: each removal must cost the same however
// often it repeats, so the time per removal stays flat from 1 000 to 100 000.
void BM_RepeatedRemoval(benchmark::State& state) {
    constexpr int kLocks = 1000;
    std::string locks = "<group><node zel:name=\"g\">";
    for (int i = 0; i < kLocks; ++i) {
        locks += "<prop zel:name=\"p" + std::to_string(i) + "\" zel:finalized=\"true\"/>";
    }
    locks += "</node></group>";
    std::string removals = "<group>";
    for (int64_t i = 0; i < state.range(0); ++i) {
        removals += "<node zel:name=\"g\" zel:op=\"remove\"/>";
    }
    removals += "</group>";
    const XmlUpdateLayer locking(locks.data(), static_cast<int>(locks.size()));
    const XmlUpdateLayer removing(removals.data(), static_cast<int>(removals.size()));
    double ours = 0;
    double floor = 0;
    for (auto _ : state) {
        TreeMerger merger;
        merger.merge(locking);
        const double seconds = secondsOf([&] { merger.merge(removing); });
        std::unique_ptr<Tree> tree(merger.getTree());
        state.SetIterationTime(seconds);
        ours += seconds;
        floor += secondsOf([&] { bareParse(removals); });
    }
    state.counters["ratio"] = floor > 0 ? ours / floor : 0;
    state.counters["ns/removal"] =
        1e9 * ours / static_cast<double>(state.iterations() * state.range(0));
}

}  // namespace

BENCHMARK(BM_RepeatedRemoval)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BareParse)->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadOnly)->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadAndMerge)->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BrokenEarly)->UseManualTime()->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    // Without fast bins glibc merges freed chunks when they are freed. With
    // them, the ~300 000 chunks of a destroyed tree are merged at the next
    // large allocation, which would charge the next build (or floor) with the
    // previous tree's destruction.
    mallopt(M_MXFAST, 0);
    benchmark::Initialize(&argc, argv);
    RatioRows rows(
        {{"BM_ReadAndMerge/1/manual_time", "read+merge / bare SAX1 parse, 10 MB layer", 1.5},
         {"BM_ReadAndMerge/0/manual_time", "read+merge / bare SAX1 parse, 20 KB layer", 1.5},
         {"BM_RepeatedRemoval/1000/manual_time", "1 000 removals over 1 000 locks / bare parse",
          3.0},
         {"BM_RepeatedRemoval/100000/manual_time", "100 000 removals over 1 000 locks / bare parse",
          3.0}});
    benchmark::RunSpecifiedBenchmarks(&rows);
    benchmark::Shutdown();
    return 0;
}
