// A recording stand-in for libvesk, linked into the policy tests in place of the
// real library. It records every call with its arguments as one text, hands out
// programmed lists and statuses, and fires change events like the service's
// watcher thread (callbacks run without the fake's lock held).
//
//   fakepapi::reset();
//   fakepapi::state().layers["org.x"] = {{"<a/>"}};
//   ... code under test ...
//   EXPECT_EQ(fakepapi::calls(), (Calls{"papiInitialise(null)=H1", ...}));
//
// Handles are named H1, H2..., lists L1, L2..., listener handles R1, R2... in the
// order handed out since the last reset; a null pointer is "null".
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "papi.h"

namespace fakepapi {

using Calls = std::vector<std::string>;

// One layer record to hand out. size -1 means data.size(); any other value is
// handed out as is. data is allocated with exactly size bytes and no NUL.
struct LayerRecord {
    std::optional<std::string> data;                  // nullopt: a null data pointer
    std::optional<std::string> stamp = "default/ 1";  // nullopt: a null stamp
    int size = -1;
};

struct Registration {
    std::string handle;
    std::string component;
    PAPIListener callback;
    void* userData;
};

struct State {
    // Answers. A component missing from layers gets a null list.
    PAPIStatus initStatus = PAPISuccess;
    // A failing papiInitialise still returns a handle, a failing read or listing
    // still returns its list.
    bool answerWithFailure = false;
    std::map<std::string, std::vector<LayerRecord>> layers;
    PAPIStatus readStatus = PAPISuccess;
    std::optional<std::vector<std::optional<std::string>>> names;  // nullopt: null list
    PAPIStatus listStatus = PAPISuccess;
    PAPIStatus addStatus = PAPISuccess;
    PAPIStatus removeStatus = PAPISuccess;
};

// The answers to program; change them only while no other thread calls the fake.
State& state();
// Forgets all calls, answers, handles and registrations; frees the lists.
void reset();

Calls calls();
// Handles opened and not yet closed, by name.
std::vector<std::string> openHandles();
// Lists handed out and never freed, and lists freed more than once, by name.
std::vector<std::string> unfreedLists();
std::vector<std::string> listsFreedTwice();
// Listener registrations still in place, by listener handle name.
std::map<std::string, Registration> registrations();

// Calls the callback of every registration for the component with an event of
// the type, as the service does; returns how many callbacks ran.
int fire(const std::string& component, int type);

}  // namespace fakepapi
