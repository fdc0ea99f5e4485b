// SPDX-License-Identifier: LGPL-2.1-or-later
// The JSON writer's and the terminal's escapes, byte for byte; that the tool's
// whole output parses as JSON is HollinctlTest's part.
#include <gtest/gtest.h>

#include <string>

#include "JsonWriter.h"
#include "TextEscape.h"

using namespace vesk::legacy::hollinctl;

namespace {

std::string json(const std::string& text) {
    std::string out;
    JsonWriter::appendString(out, text);
    return out;
}

TEST(JsonWriterTest, EscapesControlsAndReplacesBytesThatAreNotUtf8) {
    const std::pair<std::string, std::string> cases[] = {
        {"plain", "\"plain\""},
        {"q\"b\\", R"("q\"b\\")"},
        {"\n\r\t\b\f", R"("\n\r\t\b\f")"},
        {std::string("\x01\x1f\x7f", 3), R"("\u0001\u001f\u007f")"},
        {std::string("nul\0x", 5), R"("nul\u0000x")"},
        {"\xe2\x82\xac \xf0\x9f\x98\x80", "\"\xe2\x82\xac \xf0\x9f\x98\x80\""},  // kept as UTF-8
        {"\xe2\x80\xa8\xe2\x80\xa9", R"("\u2028\u2029")"},
        {"\xc2\x80\xc2\x85\xc2\x9b\xc2\x9f\xc2\xa0",
         "\"\\u0080\\u0085\\u009b\\u009f\xc2\xa0\""},  // C1
        {"\xe2\x80\xae\xe2\x81\xa6\xe2\x80\x8f\xef\xbb\xbf", R"("\u202e\u2066\u200f\ufeff")"},
        {"\xff", R"("\ufffd")"},
        {"\xc0\xaf", R"("\ufffd\ufffd")"},                      // overlong
        {"\xed\xa0\x80", R"("\ufffd\ufffd\ufffd")"},            // surrogate
        {"\xf4\x90\x80\x80", R"("\ufffd\ufffd\ufffd\ufffd")"},  // above U+10FFFF
        {"a\xe2\x82", R"("a\ufffd\ufffd")"},                    // cut short
    };
    for (const auto& [input, expected] : cases) {
        EXPECT_EQ(json(input), expected);
    }
}

TEST(JsonWriterTest, PrintableAndQuotedTextOnATerminal) {
    const std::pair<std::string, std::string> printed[] = {
        {"C:\\dir", "C:\\dir"},
        {"a\nb\tc\rd", "a\\nb\\tc\\rd"},
        {"\x1b[2J", "\\x1b[2J"},
        {"\xc2\x9b", "\\xc2\\x9b"},  // C1 control sequence introducer
        {"\xe2\x80\xaegnp.exe", "\\u{202E}gnp.exe"},
        {"caf\xc3\xa9 \xff", "caf\xc3\xa9 \\xff"},
    };
    for (const auto& [input, expected] : printed) {
        EXPECT_EQ(printable(input), expected);
    }
    EXPECT_EQ(quotedText("say \"C:\\\"\n"), R"("say \"C:\\\"\n")");
    EXPECT_EQ(displayWidth("caf\xc3\xa9"), 4u);
}

}  // namespace
