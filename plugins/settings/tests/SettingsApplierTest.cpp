// SPDX-License-Identifier: LGPL-2.1-or-later
// One user's apply from a folder store into scratch folders, through the
// steps of a policy's life, and the users the service serves.
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>

#include "FollowService.h"
#include "SettingsApplier.h"
#include "TestFiles.h"

using namespace vesk::legacy::settings;
using namespace testsupport;

namespace {

std::string layer(const std::string& delay) {
    return "<zel:component-data xmlns:zel=\"urn:vesk:policy-layer\" "
           "zel:name=\"com.orvek.ferrun.settings\"><node zel:name=\"com\"><node "
           "zel:name=\"example\"><prop zel:name=\"delay\" zel:type=\"xs:int\" "
           "zel:finalized=\"true\"><value>" +
           delay + "</value></prop></node></node></zel:component-data>\n";
}

TEST(SettingsApplierTest, OutcomesThroughAPolicysLife) {
    const struct passwd* me = ::getpwuid(::getuid());
    ASSERT_NE(me, nullptr);
    TempDir dir;
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent", 1);
    ::setenv("VESK_POLICY_STORE", (dir.path + "/store").c_str(), 1);
    std::filesystem::create_directories(dir.path + "/store/default");
    std::filesystem::create_directories(dir.path + "/db");
    SettingsApplier::Places places{dir.path + "/db", dir.path + "/run/user", dir.path + "/cache"};
    const SettingsApplier applier(places);
    const std::string db = dir.path + "/db/" + SettingsApplier::databaseName(me->pw_uid);
    const std::string profile = dir.path + "/run/user/" + std::to_string(me->pw_uid);
    const std::string layerFile = dir.path + "/store/default/com.orvek.ferrun.settings.xml";
    using Outcome = SettingsApplier::Outcome;
    struct Step {
        const char* what;
        std::string layer;  // "" removes it; "down" moves the store away
        Outcome outcome;
        const char* keyfile;  // expected after the step; "" for no database
    };
    const Step steps[] = {
        {"nothing yet", "", Outcome::NoPolicy, ""},
        {"first policy", layer("3"), Outcome::Written, "[com/example]\ndelay=3\n"},
        {"the same again", layer("3"), Outcome::Unchanged, "[com/example]\ndelay=3\n"},
        {"an edit", layer("4"), Outcome::Written, "[com/example]\ndelay=4\n"},
        {"a broken layer keeps it", "<zel:component-data", Outcome::Unchanged,
         "[com/example]\ndelay=4\n"},
        {"a stopped store keeps it", "down", Outcome::Unchanged, "[com/example]\ndelay=4\n"},
        {"no layer left", "", Outcome::Removed, ""},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        if (step.layer == "down") {
            std::filesystem::rename(dir.path + "/store", dir.path + "/stopped");
        } else if (step.layer.empty()) {
            std::filesystem::remove(layerFile);
        } else {
            writeFile(layerFile, step.layer);
        }
        EXPECT_EQ(applier.apply(me->pw_name), step.outcome);
        if (step.layer == "down") {
            std::filesystem::rename(dir.path + "/stopped", dir.path + "/store");
        }
        const bool applied = *step.keyfile != '\0';
        EXPECT_EQ(std::filesystem::exists(db), applied);
        EXPECT_EQ(std::filesystem::exists(profile), applied);
        if (applied) {
            EXPECT_EQ(readFile(db + ".d/hollin"), step.keyfile);
            EXPECT_EQ(readFile(db + ".d/locks/hollin"), "/com/example/delay\n");
        }
    }
    EXPECT_THROW(applier.apply("no-such-user-of-hollin"), std::runtime_error);
}

TEST(SettingsApplierTest, FollowServesItsProfilesAndSessionsFromUidMin) {
    TempDir dir;
    SettingsApplier::Places places{dir.path + "/db", dir.path + "/profiles", ""};
    std::filesystem::create_directories(places.profiles);
    std::filesystem::create_directories(dir.path + "/sessions");
    writeFile(dir.path + "/login.defs", "UID_MIN 2000\n");
    writeFile(places.profiles + "/5",
              "# written by hollin-dconf: the user's settings policy comes "
              "first\nuser-db:user\nsystem-db:hollin_5\n");
    writeFile(places.profiles + "/6", "user-db:user\nsystem-db:hollin_6\n");  // the site's
    for (const char* session : {"120", "2000", "2001", "x1"}) {
        std::filesystem::create_directories(dir.path + "/sessions/" + session);
    }
    const SettingsApplier applier(places);
    const FollowService service(applier, places, dir.path + "/sessions", dir.path + "/login.defs");
    EXPECT_EQ(service.users(), (std::set<uid_t>{5, 2000, 2001}));
}

}  // namespace
