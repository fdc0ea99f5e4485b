// SPDX-License-Identifier: LGPL-2.1-or-later
// Replaces the name services' answer to "which groups is this user in" in a
// test binary, so that group scopes are tested with names the test chooses.
// Until set() and after clear(), the real lookups answer.
//
//   groupseam::set({"wheel", "audio"});
//   ... open a handle: its stack holds groups/audio and groups/wheel ...
//   groupseam::clear();
#pragma once

#include <string>
#include <vector>

namespace groupseam {

// The user's groups in the order the name services list them; an empty name
// stands for a group id that has no name.
void set(const std::vector<std::string>& names);
void clear();

}  // namespace groupseam
