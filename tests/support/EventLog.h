// SPDX-License-Identifier: LGPL-2.1-or-later
// A tree handler for tests that records each event as one text line and can be
// read again as a layer, and play() to send events written in that notation.
//
//   EventLog log;
//   play("startTree; modifyNode r 1; setStringValue v de; endNode; endTree", wrapper);
//   EXPECT_EQ(log.lines, (Lines{"startTree", "modifyNode r 1", ...}));
//
// Lines are "<event> <arguments>": modifyNode and replaceNode name and bits,
// modifyProperty and replaceProperty name, type number and bits, removeNode the
// name, setStringValue value and locale, setListValue and addListValues the
// items and then the locale.
#pragma once

#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "layers/ITreeHandler.h"
#include "layers/IUpdateLayer.h"

namespace testsupport {

using vesk::legacy::ITreeHandler;
using vesk::legacy::PropertyType;
using Lines = std::vector<std::string>;

class EventLog : public ITreeHandler, public vesk::legacy::IUpdateLayer {
  public:
    // attributeMask is applied to the attributes of recorded events.
    explicit EventLog(int attributeMask = ~0) : mMask(attributeMask) {}
    Lines lines;

    void startTree() override {
        add("startTree", [](ITreeHandler& h) { h.startTree(); });
    }
    void endTree() override {
        add("endTree", [](ITreeHandler& h) { h.endTree(); });
    }
    void modifyNode(const std::string& n, int a) override {
        a &= mMask;
        add("modifyNode " + n + " " + num(a), [=](ITreeHandler& h) { h.modifyNode(n, a); });
    }
    void replaceNode(const std::string& n, int a) override {
        a &= mMask;
        add("replaceNode " + n + " " + num(a), [=](ITreeHandler& h) { h.replaceNode(n, a); });
    }
    void removeNode(const std::string& n) override {
        add("removeNode " + n, [=](ITreeHandler& h) { h.removeNode(n); });
    }
    void endNode() override {
        add("endNode", [](ITreeHandler& h) { h.endNode(); });
    }
    void modifyProperty(const std::string& n, PropertyType t, int a) override {
        a &= mMask;
        add("modifyProperty " + n + " " + num(t) + " " + num(a),
            [=](ITreeHandler& h) { h.modifyProperty(n, t, a); });
    }
    void replaceProperty(const std::string& n, PropertyType t, int a) override {
        a &= mMask;
        add("replaceProperty " + n + " " + num(t) + " " + num(a),
            [=](ITreeHandler& h) { h.replaceProperty(n, t, a); });
    }
    void endProperty() override {
        add("endProperty", [](ITreeHandler& h) { h.endProperty(); });
    }
    void setStringValue(const std::string& v, const std::string& l) override {
        add("setStringValue " + v + " " + l, [=](ITreeHandler& h) { h.setStringValue(v, l); });
    }
    void setListValue(const Lines& v, const std::string& l) override {
        add("setListValue" + items(v) + " " + l, [=](ITreeHandler& h) { h.setListValue(v, l); });
    }
    void addListValues(const Lines& v, const std::string& l) override {
        add("addListValues" + items(v) + " " + l, [=](ITreeHandler& h) { h.addListValues(v, l); });
    }

    // Replays the recorded events.
    void read(ITreeHandler& handler) const override {
        for (const auto& event : mEvents) {
            event(handler);
        }
    }

  private:
    static std::string num(int value) { return std::to_string(value); }
    static std::string items(const Lines& values) {
        std::string text;
        for (const auto& item : values) {
            text += " " + item;
        }
        return text;
    }
    void add(std::string line, std::function<void(ITreeHandler&)> event) {
        lines.push_back(std::move(line));
        mEvents.push_back(std::move(event));
    }

    int mMask;
    std::vector<std::function<void(ITreeHandler&)>> mEvents;
};

// Sends the events of a script: lines as EventLog writes them, separated by
// ";". Names, values and locales hold no blank; a missing locale is "", except
// that list events always end in their locale.
inline void play(const std::string& script, ITreeHandler& h) {
    std::istringstream events(script);
    for (std::string line; std::getline(events, line, ';');) {
        std::istringstream in(line);
        std::string event;
        Lines args;
        if (!(in >> event)) {
            continue;
        }
        for (std::string arg; in >> arg;) {
            args.push_back(arg);
        }
        auto arg = [&](std::size_t i) { return i < args.size() ? args[i] : std::string(); };
        auto bits = [&](std::size_t i) { return std::stoi(arg(i)); };
        const Lines items(args.begin(), args.end() - (args.empty() ? 0 : 1));
        const std::map<std::string, std::function<void()>> calls = {
            {"startTree", [&] { h.startTree(); }},
            {"endTree", [&] { h.endTree(); }},
            {"modifyNode", [&] { h.modifyNode(arg(0), bits(1)); }},
            {"replaceNode", [&] { h.replaceNode(arg(0), bits(1)); }},
            {"removeNode", [&] { h.removeNode(arg(0)); }},
            {"endNode", [&] { h.endNode(); }},
            {"modifyProperty", [&] { h.modifyProperty(arg(0), PropertyType(bits(1)), bits(2)); }},
            {"replaceProperty", [&] { h.replaceProperty(arg(0), PropertyType(bits(1)), bits(2)); }},
            {"endProperty", [&] { h.endProperty(); }},
            {"setStringValue", [&] { h.setStringValue(arg(0), arg(1)); }},
            {"setListValue", [&] { h.setListValue(items, arg(args.size() - 1)); }},
            {"addListValues", [&] { h.addListValues(items, arg(args.size() - 1)); }},
        };
        calls.at(event)();
    }
}

}  // namespace testsupport
