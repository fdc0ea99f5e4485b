// SPDX-License-Identifier: LGPL-2.1-or-later
// Policy texts (names, values, locales, stamps) are untrusted: these make them
// safe to put on a terminal. Control characters, bidirectional overrides and
// bytes that are not UTF-8 are shown as escapes instead of being written raw,
// so a value cannot move the cursor, recolour the terminal or hide itself.
//
//   printable("a\nb")  ->  a\nb         (backslash and n)
//   quotedText("say \"hi\"") -> "say \"hi\""
#pragma once

#include <cstdint>
#include <string>

namespace vesk::legacy::hollinctl {

// The length of the well-formed UTF-8 sequence at pos (1 to 4) with its code
// point in codePoint, or 0 when the byte at pos starts no such sequence
// (overlong forms, surrogates and values above U+10FFFF are not well-formed).
size_t decodeUtf8(const std::string& text, size_t pos, std::uint32_t& codePoint);

// Characters that change how the text around them is displayed without
// showing themselves: direction marks, embeddings, overrides and isolates,
// zero-width characters, line and paragraph separators, the byte order mark.
bool isInvisibleControl(std::uint32_t codePoint);

// The text with every unsafe character escaped (\n, \t, \r, \xNN for other
// control characters and stray bytes, \u{XXXX} for invisible direction
// controls). Backslashes stay as they are.
std::string printable(const std::string& text);

// The text between double quotes, escaped as by printable and with the quote
// and the backslash escaped too, so that the quoted form is unambiguous.
std::string quotedText(const std::string& text);

// The columns a printable text takes: one per character (wide characters are
// rare in policy and counted as one).
size_t displayWidth(const std::string& text);

}  // namespace vesk::legacy::hollinctl
