// SPDX-License-Identifier: LGPL-2.1-or-later
// A recording stand-in for libvesk, linked into the policy and access tests in
// place of the real library: records every call with its arguments as one text,
// hands out programmed lists and statuses, and fires change events as the
// service's thread does (callbacks run without the fake's lock held).
//
//   fakepapi::reset();
//   fakepapi::state().layers["org.x"] = {{"<a/>"}};
//   ... code under test ...
//   EXPECT_EQ(fakepapi::calls(), (Calls{"papiInitialise(null)=H1", ...}));
//
// Handles are named H1, H2..., lists L1, L2..., listener handles R1, R2..., in
// the order handed out since the last reset; a null pointer is "null".
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "papi.h"

namespace fakepapi {

using Calls = std::vector<std::string>;

// One layer record to hand out; size -1 stands for the size of data.
struct LayerRecord {
    std::optional<std::string> data;                  // nullopt: null data
    std::optional<std::string> stamp = "default/ 1";  // nullopt: null stamp
    int size = -1;
};

// The answers; a component without records gets a null list.
struct State {
    PAPIStatus initStatus = 0, readStatus = 0, listStatus = 0, addStatus = 0, removeStatus = 0;
    // A failing open still returns a handle, a failing read or listing its list.
    bool answerWithFailure = false;
    std::map<std::string, std::vector<LayerRecord>> layers;
    std::vector<std::optional<std::string>> names;  // nullopt: a null name
    // Run once by the next papiAddListener before it registers: an edit made
    // while the caller registers, which no event reports.
    std::function<void()> beforeAddListener;
};

// Change the answers only while no other thread calls the fake.
State& state();
// Forgets calls, answers, handles, lists and registrations.
void reset();

Calls calls();
int openHandles();
// The listener handles registered and not removed, as "R1".
std::vector<std::string> registrations();
// Every list handed out and not freed exactly once, as "L2 freed 0 times".
std::vector<std::string> listsFreedOtherThanOnce();
// Calls every callback registered for the component with an event of the type;
// returns how many ran.
int fire(const std::string& component, int type);

}  // namespace fakepapi
