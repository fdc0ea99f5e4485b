// SPDX-License-Identifier: LGPL-2.1-or-later
// Cuts a fuzz input into fields at a separator: at most maxFields, the last
// one taking the rest, separators included.
//
//   splitFields(data, size, "\n%%\n", 3);   // "a\n%%\nb" -> {"a", "b"}
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vesk::legacy::fuzz {

std::vector<std::string> splitFields(const uint8_t* data, size_t size, const std::string& separator,
                                     size_t maxFields);

}  // namespace vesk::legacy::fuzz
