// The logger against the system log seam, which keeps only the label pointer
// and reads it again for every message, as syslog does.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "SyslogSeam.h"
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

}  // namespace
