#include <gtest/gtest.h>
#include <syslog.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "model/Exception.h"
#include "model/Logger.h"

using namespace vesk::legacy;

// The system log seam: these definitions replace libc's for this binary and
// record what the logger hands to syslog. Like syslog, the seam keeps only the
// label pointer and reads it again for every message.
namespace {

struct SyslogRecord {
    std::string label;
    int priority;
    std::string text;
};

const char* sOpenLabel = nullptr;
std::vector<std::string> sOpened;  // "label option facility"
std::vector<SyslogRecord> sMessages;
int sCloseCount = 0;

}  // namespace

extern "C" void openlog(const char* ident, int option, int facility) {
    sOpenLabel = ident;
    sOpened.push_back(std::string(ident) + " " + std::to_string(option) + " " +
                      std::to_string(facility));
}

extern "C" void vsyslog(int priority, const char* format, va_list args) {
    char text[512];
    std::vsnprintf(text, sizeof text, format, args);
    sMessages.push_back({sOpenLabel ? sOpenLabel : "<none>", priority, text});
}

extern "C" void closelog(void) {
    sOpenLabel = nullptr;
    ++sCloseCount;
}

namespace {

class LoggerTest : public ::testing::Test {
  protected:
    void SetUp() override { reset(); }
    void TearDown() override { reset(); }
    void reset() {
        Logger::uninitialise();
        unsetenv("VESKLEG_LOG");
        unsetenv("VESKLEG_LOG_LEVEL");
        sOpened.clear();
        sMessages.clear();
        sCloseCount = 0;
    }

    // One message per level, 0 to 7; returns what reached standard error.
    static std::string logEveryLevel() {
        ::testing::internal::CaptureStderr();
        Logger::emergency("0");
        Logger::alert("1");
        Logger::critical("2");
        Logger::error("3");
        Logger::warning("4");
        Logger::notice("5");
        Logger::info("6");
        Logger::debug("7");
        return ::testing::internal::GetCapturedStderr();
    }

    static void setEnv(const char* name, const char* value) {
        if (value) {
            setenv(name, value, 1);
        } else {
            unsetenv(name);
        }
    }
};

}  // namespace

TEST_F(LoggerTest, EnvironmentDecidesTheStandardErrorCopy) {
    struct Case {
        const char* log;
        const char* level;
        std::string expected;
    } cases[] = {
        {nullptr, nullptr, ""},  {nullptr, "Info", ""},
        {"1", nullptr, "0123"},  {"true", "Debug", "01234567"},
        {"1", "Emergency", "0"}, {"1", "Notice", "012345"},
        {"TRUE", "Debug", ""},   {"yes", "Debug", ""},
        {"1 ", "Debug", ""},     {"", "Debug", ""},
        {"1", "debug", "0123"},  {"1", "Verbose", "0123"},
        {"1", "", "0123"},
    };
    for (const Case& c : cases) {
        reset();
        setEnv("VESKLEG_LOG", c.log);
        setEnv("VESKLEG_LOG_LEVEL", c.level);
        Logger::initialise("test");
        EXPECT_EQ(logEveryLevel(), c.expected)
            << (c.log ? c.log : "unset") << " / " << (c.level ? c.level : "unset");
        // Every message reaches the system log, whatever the threshold.
        ASSERT_EQ(sMessages.size(), 8u);
        for (int level = 0; level < 8; ++level) {
            EXPECT_EQ(sMessages[level].text, std::to_string(level));
            EXPECT_EQ(sMessages[level].priority, level);
        }
    }
}

TEST_F(LoggerTest, OpensOnceWithItsOwnCopyOfTheLabel) {
    setenv("VESKLEG_LOG", "1", 1);
    {
        // Long enough to live on the heap; freed before the first message.
        std::string label = "Halvorn-with-a-label-that-is-not-stored-inline";
        Logger::initialise(label);
    }
    setenv("VESKLEG_LOG_LEVEL", "Debug", 1);
    Logger::initialise("second");  // ignored, environment included
    Logger::warning("w\n");
    ASSERT_EQ(sOpened,
              std::vector<std::string>{"Halvorn-with-a-label-that-is-not-stored-inline 1 8"});
    ASSERT_EQ(sMessages.size(), 1u);
    EXPECT_EQ(sMessages[0].label, "Halvorn-with-a-label-that-is-not-stored-inline");
    EXPECT_NE(Logger::getDefault(), nullptr);

    Logger::uninitialise();
    Logger::uninitialise();
    EXPECT_EQ(sCloseCount, 1);
    EXPECT_EQ(Logger::getDefault(), nullptr);
}

TEST_F(LoggerTest, WithoutLoggerOnlyTheSystemLogHearsIt) {
    setenv("VESKLEG_LOG", "1", 1);
    EXPECT_EQ(logEveryLevel(), "");  // before initialise
    Logger::initialise("x");
    Logger::uninitialise();
    EXPECT_EQ(logEveryLevel(), "");  // after uninitialise
    EXPECT_EQ(sMessages.size(), 16u);
}

// The arguments are consumed by syslog and then again for standard error.
TEST_F(LoggerTest, SeveralArgumentsReachBothOutputsIntact) {
    setenv("VESKLEG_LOG", "true", 1);
    Logger::initialise("x");
    const std::string expected = "Node changed: component=com.orvek.a, path=/b/c, n=42";
    ::testing::internal::CaptureStderr();
    Logger::error("Node changed: component=%s, path=%s, n=%d", "com.orvek.a", "/b/c", 42);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), expected);  // no prefix, no line end
    ASSERT_EQ(sMessages.size(), 1u);
    EXPECT_EQ(sMessages[0].text, expected);
    EXPECT_EQ(sMessages[0].priority, LOG_ERR);
}

TEST_F(LoggerTest, LevelsOutOfRange) {
    setenv("VESKLEG_LOG", "1", 1);
    Logger::initialise("x");
    ::testing::internal::CaptureStderr();
    Logger::log(static_cast<Logger::LogLevel>(-1), "low %s", "a");  // signed: -1 <= 3
    Logger::log(static_cast<Logger::LogLevel>(8), "high");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "low a");
    ASSERT_EQ(sMessages.size(), 2u);
    EXPECT_EQ(sMessages[0].priority, LOG_INFO);
    EXPECT_EQ(sMessages[1].priority, LOG_INFO);

    const int expected[] = {0, 1, 2, 3, 4, 5, 6, 7};
    for (int level = 0; level < 8; ++level) {
        EXPECT_EQ(getPriority(static_cast<Logger::LogLevel>(level)), expected[level]);
    }
    EXPECT_EQ(getPriority(static_cast<Logger::LogLevel>(-7)), LOG_INFO);
    EXPECT_EQ(getPriority(static_cast<Logger::LogLevel>(1000)), LOG_INFO);
    EXPECT_STREQ(kLogLevels[Logger::Warning], "Warning");
}

TEST(Exception, CarriesItsMessageByValue) {
    try {
        throw Exception("Cannot read layer 3");
    } catch (const Exception& e) {
        EXPECT_EQ(e.getMessage(), "Cannot read layer 3");
    }
}
