// Runs the built startlist in a scratch HOME against a scratch policy store
// and checks the session-manual it leaves against files in data/
// (STARTLIST_UPDATE_GOLDEN=1 rewrites them; review the diff before committing).
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <filesystem>
#include <stdexcept>
#include <vector>

#include "TestFiles.h"

namespace {

namespace fs = std::filesystem;

struct App {
    std::string node, command, order;  // XML text; an empty one is left out
};

// A scratch HOME and policy store, removed at the end.
class Scratch {
  public:
    Scratch() {
        char name[] = "/tmp/startlist-e2e-XXXXXX";
        if (mkdtemp(name) == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
        mRoot = name;
        fs::create_directories(mRoot + "/home/.gnome2");
        fs::create_directories(mRoot + "/store/default");
    }
    ~Scratch() { fs::remove_all(mRoot); }

    // The store's only layer lists these applications; none: no layer at all.
    void policy(const std::vector<App>& apps) const {
        const std::string layer = mRoot + "/store/default/com.orvek.ferrun.applications.xml";
        if (apps.empty()) {
            fs::remove(layer);
            return;
        }
        auto prop = [](const char* name, const std::string& value) {
            return value.empty()
                       ? value
                       : std::string("<prop zel:name=\"") + name +
                             "\" zel:type=\"xs:string\"><value>" + value + "</value></prop>";
        };
        std::string xml =
            "<zel:component-data xmlns:zel=\"urn:vesk:policy-layer\""
            " zel:name=\"com.orvek.ferrun.applications\">"
            "<node zel:name=\"startup_list\" zel:op=\"replace\">\n";
        for (const App& app : apps) {
            xml += "<node zel:name=\"" + app.node + "\">" + prop("command", app.command) +
                   prop("order", app.order) + "</node>\n";
        }
        writeFile(layer, xml + "</node></zel:component-data>\n");
    }

    // Exit status of startlist (-1 if it did not exit); its stderr in mErrors.
    int run(const std::string& store = "store") {
        const std::string command =
            "env -u VESKLEG_LOG_LEVEL HOME=" + mRoot + "/home VESK_POLICY_STORE=" + mRoot + "/" +
            store + " VESKLEG_LOG=1 " + HOLLIN_BINARY_DIR + "/bin/startlist 2>" + mRoot + "/err";
        const int status = system(command.c_str());
        mErrors = readFile(mRoot + "/err");
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::string sessionPath() const { return mRoot + "/home/.gnome2/session-manual"; }
    std::string session() const { return readFile(sessionPath()); }
    void install(const std::string& name) const { writeFile(sessionPath(), fixture(name)); }

    std::string mRoot, mErrors;
};

// Blank lines are the configuration layer's layout between sections, not
// ours; every other line (comments, keys, their order and escaping) counts.
std::string withoutBlankLines(const std::string& text) {
    std::istringstream in(text);
    std::string result;
    for (std::string line; std::getline(in, line);) {
        result += line.empty() ? "" : line + "\n";
    }
    return result;
}

void expectGolden(const std::string& name, const std::string& actual) {
    if (getenv("STARTLIST_UPDATE_GOLDEN") != nullptr) {
        writeFile(dataPath(name), actual);
    }
    EXPECT_EQ(withoutBlankLines(actual), withoutBlankLines(fixture(name))) << name;
}

TEST(StartlistEndToEnd, SessionListsAgainstGoldenFiles) {
    const struct {
        const char* session;  // installed as session-manual; run; compared with <session>.expected
        std::vector<App> apps;
    } cases[] = {
        // Old entries 0 and 2 kept as they were (priority and style as text, an
        // empty one too), our entry 1 dropped, the applications in node-name order.
        {"three-entries-one-ours", {{"b", "xbiff", "10"}, {"a", "xload -update 5", ""}}},
        {"user-entry-without-trailing-blank", {}},
        {"duplicate-commands", {}},  // two recorded: the two lowest entries go
        // Other keys move with their kept entry and go with a dropped one; keys
        // of no entry of the list stay where they are.
        {"extra-keys", {{"clock", "xclock", ""}}},
        {"num-clients-zero", {}},  // the record is not even read
        {"num-clients-negative", {}},
        {"dropped-entry-without-priority", {}},
        {"huge-record-count", {{"clock", "xclock", ""}}},
    };
    for (const auto& c : cases) {
        Scratch scratch;
        scratch.install(c.session);
        scratch.policy(c.apps);
        EXPECT_EQ(scratch.run(), 0) << c.session;
        EXPECT_EQ(scratch.mErrors, "") << c.session;
        expectGolden(c.session + std::string(".expected"), scratch.session());
    }
}

TEST(StartlistEndToEnd, ARunReplacesExactlyTheEntriesOfThePreviousRun) {
    Scratch scratch;
    scratch.install("user-entry-without-trailing-blank");
    scratch.policy({{"a", "alpha", "1"}, {"b", "beta", "2"}, {"c", "alpha", "3"}});
    ASSERT_EQ(scratch.run(), 0);
    expectGolden("rerun-first.expected", scratch.session());
    scratch.policy({{"b", "beta", "2"}, {"c", "alpha", "3"}, {"d", "gamma", ""}});
    ASSERT_EQ(scratch.run(), 0);
    expectGolden("rerun-second.expected", scratch.session());
}

TEST(StartlistEndToEnd, NothingConfiguredAndNothingThereWritesNothing) {
    Scratch scratch;
    fs::remove(scratch.mRoot + "/home/.gnome2");
    EXPECT_EQ(scratch.run(), 0);
    EXPECT_EQ(scratch.mErrors, "");
    EXPECT_FALSE(fs::exists(scratch.mRoot + "/home/.gnome2"));
}

// A file startlist cannot use is never rewritten; the run says why and exits 0.
TEST(StartlistEndToEnd, BrokenSessionFilesStayByteIdentical) {
    const std::string corrupted =
        "An error occurred while running the startup applications plugin: "
        "Corrupted session-manual\n";
    const std::string unsaved = "The session list could not be saved";
    const std::pair<const char*, std::string> cases[] = {
        {"corrupted-entry-without-restart-command", corrupted},
        {"corrupted-kept-entry-without-priority", corrupted},
        {"unparsable-stray-line", unsaved},
        {"unparsable-key-before-first-section", unsaved},
    };
    for (const auto& [session, message] : cases) {
        Scratch scratch;
        scratch.policy({{"clock", "xclock", "20"}});
        scratch.install(session);
        EXPECT_EQ(scratch.run(), 0) << session;
        EXPECT_EQ(scratch.session(), fixture(session));
        EXPECT_NE(scratch.mErrors.find(message), std::string::npos) << scratch.mErrors;
    }
}

TEST(StartlistEndToEnd, UnreachablePolicyKeepsTheUsersEntriesAndDropsOurs) {
    Scratch scratch;
    scratch.install("three-entries-one-ours");
    EXPECT_EQ(scratch.run("missing-store"), 0);
    EXPECT_EQ(scratch.mErrors.rfind("An error occurred starting the applications: ", 0), 0u)
        << scratch.mErrors;
    expectGolden("three-entries-one-ours.store-unreachable.expected", scratch.session());
}

// Commands are values: a line break, "=" or "[" adds no key or section, and
// the next run still recognises each entry as its own.
TEST(StartlistEndToEnd, CommandsThatLookLikeKeysOrSectionsStayValues) {
    Scratch scratch;
    scratch.policy({{"a", "sh -c 'echo hi'&#10;[Default]&#10;num_clients=99", "1"},
                    {"b", "env A=B prog", "2"},
                    {"c", "[MERX]", "3"},
                    {"d", " \\leading blank and backslash\\", "4"}});
    for (int run = 0; run < 2; ++run) {
        ASSERT_EQ(scratch.run(), 0);
        EXPECT_EQ(scratch.mErrors, "");
        expectGolden("hostile-commands.expected", scratch.session());
    }
}

}  // namespace
