// Runs the built startlist in a scratch HOME against a scratch policy store
// and checks the session-manual it leaves. Expected files are under data/;
// STARTLIST_UPDATE_GOLDEN=1 rewrites them (review the diff before committing).
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <sstream>

#include "StartlistRun.h"

namespace {

using startlist_test::Application;
using startlist_test::fixture;
using startlist_test::StartlistRun;

// Blank lines are the configuration layer's layout between sections, not
// ours; every other line (comments, keys, their order and escaping) counts.
std::string withoutBlankLines(const std::string& text) {
    std::istringstream in(text);
    std::string result;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty()) {
            result += line + "\n";
        }
    }
    return result;
}

void expectGolden(const std::string& name, const std::string& actual) {
    if (getenv("STARTLIST_UPDATE_GOLDEN") != nullptr) {
        startlist_test::writeFile(
            std::string(HOLLIN_SOURCE_DIR) + "/plugins/startupApps/tests/data/" + name, actual);
    }
    EXPECT_EQ(withoutBlankLines(actual), withoutBlankLines(fixture(name)))
        << "golden file " << name;
}

struct GoldenCase {
    const char* session;  // fixture installed as session-manual
    std::vector<Application> apps;
    const char* expected;
};

// Each case starts from a session file, runs once, and compares the whole result.
TEST(StartlistEndToEnd, SessionListsAgainstGoldenFiles) {
    const std::vector<Application> none;
    const GoldenCase cases[] = {
        // Old entries 0 and 2 kept as they were (priority and style as text,
        // an empty style too), the recorded entry 1 dropped, and the two
        // applications in node-name order: a before b, whatever their order.
        {"three-entries-one-ours",
         {{"b", "xbiff", "10"}, {"a", "xload -update 5", ""}},
         "three-entries-one-ours.expected"},
        {"user-entry-without-trailing-blank", none, "user-entry-without-trailing-blank.expected"},
        // Two recorded occurrences drop the two lowest entries; the third stays.
        {"duplicate-commands", none, "duplicate-commands.expected"},
        // A kept entry's other keys move with it; those of the dropped entry go;
        // keys that belong to no entry of the list stay where they are.
        {"extra-keys", {{"clock", "xclock", ""}}, "extra-keys.expected"},
        {"num-clients-zero", none, "num-clients-zero.expected"},
        {"num-clients-negative", none, "num-clients-negative.expected"},
        {"dropped-entry-without-priority", none, "dropped-entry-without-priority.expected"},
        {"huge-record-count", {{"clock", "xclock", ""}}, "huge-record-count.expected"},
    };
    for (const GoldenCase& c : cases) {
        SCOPED_TRACE(c.session);
        StartlistRun run;
        run.installSession(fixture(c.session));
        if (c.apps.empty()) {
            run.removeApplications();
        } else {
            run.setApplications(c.apps);
        }
        EXPECT_EQ(run.run(), 0);
        EXPECT_EQ(run.errors(), "");
        expectGolden(c.expected, run.session());
    }
}

TEST(StartlistEndToEnd, ARunReplacesExactlyTheEntriesOfThePreviousRun) {
    StartlistRun run;
    run.installSession(fixture("user-entry-without-trailing-blank"));
    run.setApplications({{"a", "alpha", "1"}, {"b", "beta", "2"}, {"c", "alpha", "3"}});
    ASSERT_EQ(run.run(), 0);
    expectGolden("rerun-first.expected", run.session());

    // One "alpha" and "beta" go, "gamma" comes; the user's entry stays first.
    run.setApplications({{"b", "beta", "2"}, {"c", "alpha", "3"}, {"d", "gamma", ""}});
    ASSERT_EQ(run.run(), 0);
    EXPECT_EQ(run.errors(), "");
    expectGolden("rerun-second.expected", run.session());
}

TEST(StartlistEndToEnd, NothingConfiguredAndNothingThereWritesNothing) {
    StartlistRun run;
    run.setApplications({});
    EXPECT_EQ(run.run(), 0);
    EXPECT_EQ(run.errors(), "");
    EXPECT_FALSE(std::filesystem::exists(run.home() + "/.gnome2"));

    run.removeApplications();
    EXPECT_EQ(run.run(), 0);
    EXPECT_FALSE(std::filesystem::exists(run.home() + "/.gnome2"));
}

// A session file startlist cannot use is never rewritten, and the run still
// ends with status 0 and says why on standard error.
TEST(StartlistEndToEnd, BrokenSessionFilesStayByteIdentical) {
    const struct {
        const char* session;
        const char* message;
    } cases[] = {
        {"corrupted-entry-without-restart-command",
         "An error occurred while running the startup applications plugin: "
         "Corrupted session-manual\n"},
        {"corrupted-kept-entry-without-priority",
         "An error occurred while running the startup applications plugin: "
         "Corrupted session-manual\n"},
        {"unparsable-stray-line", "The session list could not be saved"},
        {"unparsable-key-before-first-section", "The session list could not be saved"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.session);
        StartlistRun run;
        run.setApplications({{"clock", "xclock", "20"}});
        run.installSession(fixture(c.session));
        EXPECT_EQ(run.run(), 0);
        EXPECT_EQ(run.session(), fixture(c.session));
        EXPECT_NE(run.errors().find(c.message), std::string::npos) << run.errors();
    }
}

TEST(StartlistEndToEnd, UnreachablePolicyKeepsTheUsersEntriesAndDropsOurs) {
    StartlistRun run;
    run.installSession(fixture("three-entries-one-ours"));
    run.breakStore();
    EXPECT_EQ(run.run(), 0);
    EXPECT_EQ(run.errors().rfind("An error occurred starting the applications: ", 0), 0u)
        << run.errors();
    expectGolden("three-entries-one-ours.store-unreachable.expected", run.session());
}

// Commands are values: a line break, "=" or "[" in one can add no key or
// section, and the next run still recognises the entry as its own.
TEST(StartlistEndToEnd, CommandsThatLookLikeKeysOrSectionsStayValues) {
    StartlistRun run;
    const std::vector<Application> apps = {
        {"a", "sh -c 'echo hi'&#10;[Default]&#10;num_clients=99", "1"},
        {"b", "env A=B prog", "2"},
        {"c", "[MERX]", "3"},
        {"d", " \\leading blank and backslash\\", "4"},
    };
    run.setApplications(apps);
    ASSERT_EQ(run.run(), 0);
    EXPECT_EQ(run.errors(), "");
    expectGolden("hostile-commands.expected", run.session());

    ASSERT_EQ(run.run(), 0);
    EXPECT_EQ(run.errors(), "");
    expectGolden("hostile-commands.expected", run.session());
}

}  // namespace
