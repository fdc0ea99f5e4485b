// SPDX-License-Identifier: LGPL-2.1-or-later
// What the fuzz targets check on trees: the invariants every tree keeps, and a
// structural comparison of two trees. A broken check is a finding: finding()
// prints what broke and aborts, so libFuzzer keeps the input and the
// regression test fails.
//
//   checkInvariants(tree);
//   const std::string difference = treeDifference(written, readBack, kProtection | kLocalisation);
//   if (!difference.empty()) finding("round trip: " + difference);
#pragma once

#include <string>

namespace vesk::legacy {
class Tree;
}

namespace vesk::legacy::fuzz {

[[noreturn]] void finding(const std::string& what);

// A group as the root, parent links, child names and order, attribute bits,
// property kinds and values; calls finding() on the first one broken.
void checkInvariants(const Tree& tree);

// What treeDifference compares beyond names, kinds, property types, locales
// and the value each locale reads as.
enum Compared {
    kValuesOnly = 0,
    kProtection = 1,    // the finalised, not finalised and read-only bits
    kLocalisation = 2,  // whether a property is localised
};

// Empty when both trees agree in what is compared; otherwise the path of the
// first difference and what differs there.
std::string treeDifference(const Tree& expected, const Tree& actual, int compared);

}  // namespace vesk::legacy::fuzz
