// SPDX-License-Identifier: LGPL-2.1-or-later
// Turns names, values and locales into text that a tree file can carry: markup
// characters, tab, line feed and carriage return, and the invisible controls
// that steer terminals (C1, bidirectional overrides, line separators) become
// references, so the text reads back exactly and shows safely; what XML 1.0
// cannot carry at all is refused.
//
//   std::string out;
//   if (!XmlText::escape(value, out)) { /* control character or broken UTF-8 */ }
#pragma once

#include <string>

namespace vesk::legacy {

class XmlText {
  public:
    // Appends the escaped text to out and returns true; returns false, with out
    // unchanged, when the text holds a character XML 1.0 does not allow (a
    // control character other than tab, line feed and carriage return, U+FFFE,
    // U+FFFF) or is not well-formed UTF-8.
    static bool escape(const std::string& text, std::string& out);

    // True when every character of text may stand in an XML document.
    static bool isRepresentable(const std::string& text);
};

}  // namespace vesk::legacy
