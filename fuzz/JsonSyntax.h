// SPDX-License-Identifier: LGPL-2.1-or-later
// Whether a text is one JSON value (RFC 8259) and nothing else, for the fuzz
// targets that check a tool's JSON output without a JSON library.
//
//   if (!JsonSyntax::isValid(output)) finding("not JSON: " + output);
#pragma once

#include <string>

namespace vesk::legacy::fuzz {

class JsonSyntax {
  public:
    // One value, blanks around it allowed; strings must be valid UTF-8 without
    // raw control characters.
    static bool isValid(const std::string& text);
};

}  // namespace vesk::legacy::fuzz
