// SPDX-License-Identifier: LGPL-2.1-or-later
// The logger against the system log seam, which keeps only the label pointer
// and reads it again for every message, as syslog does.
#include <gtest/gtest.h>

#include <string>
#include <type_traits>
#include <vector>

#include "SyslogSeam.h"
#include "model/LogText.h"
#include "model/Logger.h"

using namespace vesk::legacy;
using Lines = std::vector<std::string>;

namespace {

class LoggerTest : public ::testing::Test {
  protected:
    void SetUp() override { reset(); }
    void TearDown() override { reset(); }
    static void reset() {
        Logger::uninitialise();
        unsetenv("VESKLEG_LOG");
        unsetenv("VESKLEG_LOG_LEVEL");
        syslogseam::clear();
    }
    static void setEnv(const char* name, const char* value) {
        value ? setenv(name, value, 1) : unsetenv(name);
    }
    // One message per level, 0 to 7; returns what reached standard error.
    static std::string logEveryLevel() {
        ::testing::internal::CaptureStderr();
        int level = 0;
        for (auto log : {Logger::emergency, Logger::alert, Logger::critical, Logger::error,
                         Logger::warning, Logger::notice, Logger::info, Logger::debug}) {
            log("%d", level++);
        }
        return ::testing::internal::GetCapturedStderr();
    }
    // The system log since the last clear, as "priority:text".
    static Lines logged() {
        Lines lines;
        for (const auto& message : syslogseam::messages()) {
            lines.push_back(std::to_string(message.priority) + ":" + message.text);
        }
        return lines;
    }
};

TEST_F(LoggerTest, EnvironmentDecidesTheStandardErrorCopy) {
    struct Case {
        const char *log, *level;
        std::string expected;
    } cases[] = {
        {nullptr, nullptr, ""},        {nullptr, "Info", ""},   {"1", nullptr, "0123"},
        {"true", "Debug", "01234567"}, {"1", "Emergency", "0"}, {"1", "Notice", "012345"},
        {"TRUE", "Debug", ""},         {"1 ", "Debug", ""},     {"", "Debug", ""},
        {"1", "debug", "0123"},        {"1", "", "0123"},
    };
    for (const Case& c : cases) {
        reset();
        setEnv("VESKLEG_LOG", c.log);
        setEnv("VESKLEG_LOG_LEVEL", c.level);
        Logger::initialise("test");
        EXPECT_EQ(logEveryLevel(), c.expected)
            << (c.log ? c.log : "unset") << " / " << (c.level ? c.level : "unset");
        // Every message reaches the system log, whatever the threshold.
        EXPECT_EQ(logged(), (Lines{"0:0", "1:1", "2:2", "3:3", "4:4", "5:5", "6:6", "7:7"}));
    }
}

TEST_F(LoggerTest, OpensOnceWithItsOwnCopyOfTheLabelAndClosesOnce) {
    setenv("VESKLEG_LOG", "1", 1);
    EXPECT_EQ(logEveryLevel(), "") << "no logger yet";
    const std::string expected = "Halvorn-with-a-label-that-is-not-stored-inline";
    Logger::initialise(std::string(expected));  // a heap copy, freed before the next message
    setenv("VESKLEG_LOG_LEVEL", "Debug", 1);
    Logger::initialise("second");  // ignored, environment included
    EXPECT_EQ(logEveryLevel(), "0123");
    EXPECT_EQ(syslogseam::opened(), Lines{expected + " 1 8"});  // LOG_PID, LOG_USER
    EXPECT_EQ(syslogseam::messages().back().label, expected);
    EXPECT_NE(Logger::getDefault(), nullptr);

    Logger::uninitialise();
    Logger::uninitialise();
    EXPECT_EQ(syslogseam::closed(), 1);
    EXPECT_EQ(Logger::getDefault(), nullptr);
    EXPECT_EQ(logEveryLevel(), "") << "logger gone";
    EXPECT_EQ(logged().size(), 24u);
}

TEST_F(LoggerTest, ArgumentsReachBothOutputsAndOddLevelsLogAsInfo) {
    setenv("VESKLEG_LOG", "true", 1);
    Logger::initialise("x");
    const std::string text = "Node changed: component=com.orvek.a, path=/b/c, n=42";
    ::testing::internal::CaptureStderr();
    // Each output consumes the arguments.
    Logger::error("Node changed: component=%s, path=%s, n=%d", "com.orvek.a", "/b/c", 42);
    Logger::log(static_cast<Logger::LogLevel>(-1), "|low %s", "a");  // signed: -1 <= 3
    Logger::log(static_cast<Logger::LogLevel>(8), "high");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), text + "|low a");  // no prefix, no end
    EXPECT_EQ(logged(), (Lines{"3:" + text, "6:|low a", "6:high"}));
}

// Out-of-range levels must be representable, not undefined: a fixed type.
static_assert(std::is_same_v<std::underlying_type_t<Logger::LogLevel>, int>);

TEST(LogTextTest, NoTextForgesALineOrSteersATerminal) {
    const std::pair<std::string, std::string> cases[] = {
        {"MERXcalc", "MERXcalc"},
        {"evil\nMay  1 host su: root login", "evil\\x0aMay  1 host su: root login"},
        {"cr\rtab\tesc\x1b[31mdel\x7f", "cr\\x0dtab\\x09esc\\x1b[31mdel\\x7f"},
        {std::string("nul\0in", 6), "nul\\x00in"},
        {"back\\slash \\x0a", "back\\x5cslash \\x5cx0a"},  // escapes stay unambiguous
        {"csi \xc2\x9b"
         "2J",
         "csi \\xc2\\x9b"
         "2J"},
        {"rlo \xe2\x80\xaegnp.exe", "rlo \\xe2\\x80\\xaegnp.exe"},
        {"isolate \xe2\x81\xa6", "isolate \\xe2\\x81\\xa6"},
        {"line sep \xe2\x80\xa8", "line sep \\xe2\\x80\\xa8"},
        {"Gr\xc3\xbc\xc3\x9f"
         "e \xe2\x82\xac \xf0\x9f\x99\x82",
         "Gr\xc3\xbc\xc3\x9f"
         "e \xe2\x82\xac \xf0\x9f\x99\x82"},
        {"bad \xff \xc0\xaf \xed\xa0\x80 cut \xe2\x82",
         "bad \\xff \\xc0\\xaf \\xed\\xa0\\x80 cut \\xe2\\x82"},
        {"Connection failure\n", "Connection failure"},  // the format ends the line
        {"two\n\n", "two\\x0a"},
    };
    for (const auto& [text, logged] : cases) {
        EXPECT_EQ(logText(text), logged) << text;
    }
}

}  // namespace
