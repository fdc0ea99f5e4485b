// SPDX-License-Identifier: LGPL-2.1-or-later
// The settings component mapped onto dconf, against the desktop schemas
// installed on the machine (gsettings-desktop-schemas): types, choices,
// ranges, locks and the names that cannot be dconf's.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>

#include "DconfDatabase.h"
#include "FollowService.h"
#include "MandatoryProfile.h"
#include "SchemaIndex.h"
#include "SettingsCheck.h"
#include "SettingsMapping.h"
#include "TestFiles.h"
#include "layers/TreeMerger.h"
#include "model/Tree.h"
#include "policy/PapiLayer.h"

using namespace vesk::legacy;
using namespace vesk::legacy::settings;
using namespace testsupport;

namespace {

// The layers (component content only), merged in order.
std::unique_ptr<Tree> merged(const std::vector<std::string>& layers) {
    TreeMerger merger;
    for (const std::string& content : layers) {
        const std::string text =
            "<zel:component-data xmlns:zel=\"urn:vesk:policy-layer\" "
            "zel:name=\"com.orvek.ferrun.settings\">" +
            content + "</zel:component-data>";
        merger.merge(PapiLayer(text.data(), static_cast<int>(text.size()), "test 0"));
    }
    return std::unique_ptr<Tree>(merger.getTree());
}

// A property at a slash-separated path, with extra attributes on the last group.
std::string at(const std::string& path, const std::string& prop,
               const std::string& groupAttrs = "") {
    std::string open, close;
    for (size_t start = 0; start < path.size();) {
        const size_t end = path.find('/', start);
        const std::string name = path.substr(start, end - start);
        start = end == std::string::npos ? path.size() : end + 1;
        open += "<node zel:name=\"" + name + "\"" + (start >= path.size() ? " " + groupAttrs : "") +
                ">";
        close = "</node>" + close;
    }
    return open + prop + close;
}

std::string prop(const std::string& name, const std::string& type, const std::string& value,
                 const std::string& attrs = "") {
    return "<prop zel:name=\"" + name + "\" zel:type=\"" + type + "\" " + attrs + "><value>" +
           value + "</value></prop>";
}

class SettingsMappingTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (schemas.find("/org/gnome/desktop/screensaver/lock-delay") == nullptr) {
            GTEST_SKIP() << "gsettings-desktop-schemas is not installed";
        }
    }
    SettingsMapping::Result map(const std::vector<std::string>& layers) {
        tree = merged(layers);
        return SettingsMapping(schemas).map(tree ? tree->getRoot() : nullptr);
    }
    SchemaIndex schemas;
    std::unique_ptr<Tree> tree;
};

TEST_F(SettingsMappingTest, ValuesTakeTheSchemaTypeElseTheirOwn) {
    struct Case {
        const char* path;
        std::string prop;
        const char* written;  // the key file line, or "" when skipped
        const char* reason;   // part of the skip reason
    };
    const Case cases[] = {
        {"org/gnome/desktop/screensaver", prop("lock-delay", "xs:int", "300"),
         "lock-delay=uint32 300", ""},
        {"org/gnome/desktop/screensaver", prop("lock-delay", "xs:int", "-1"), "", "is no u"},
        {"org/gnome/desktop/screensaver", prop("lock-enabled", "xs:boolean", "1"),
         "lock-enabled=true", ""},
        {"org/gnome/desktop/interface", prop("color-scheme", "xs:string", "prefer-dark"),
         "color-scheme='prefer-dark'", ""},
        {"org/gnome/desktop/interface", prop("color-scheme", "xs:string", "pink"), "", "one of"},
        {"org/gnome/desktop/peripherals/mouse", prop("speed", "xs:double", "5"), "", "from"},
        {"org/gnome/desktop/interface", prop("cursor-size", "xs:string", "big"), "", "is no i"},
        {"org/gnome/desktop/input-sources",
         prop("sources", "xs:string", "[('xkb', 'de'), ('xkb', 'us')]"),
         "sources=[('xkb', 'de'), ('xkb', 'us')]", ""},
        {"org/gnome/desktop/input-sources", prop("sources", "xs:string", "de"), "", "is no a(ss)"},
        {"org/gnome/desktop/interface", prop("gtk-theme", "xs:string", "it's"),
         "gtk-theme=\"it's\"", ""},
        {"com/example", prop("count", "xs:long", "5"), "count=int64 5", ""},
        {"com/example", prop("small", "xs:short", "5"), "small=int16 5", ""},
        {"com/example", prop("small", "xs:short", "70000"), "", "is no n"},
        {"com/example", prop("ratio", "xs:double", "0.5"), "ratio=0.5", ""},
        {"com/example", prop("names", "zel:string-list", "a b"), "names=['a', 'b']", ""},
        {"com/example", prop("flags", "zel:boolean-list", "true 0"), "flags=[true, false]", ""},
        {"com/example", prop("bytes", "xs:hexBinary", "0041"), "bytes=[byte 0x00, 0x41]", ""},
        {"com/example", prop("bytes", "xs:hexBinary", "4g"), "", "not hexadecimal"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.prop);
        const SettingsMapping::Result result = map({at(c.path, c.prop)});
        if (*c.written != '\0') {
            EXPECT_NE(result.keyfile().find(std::string("[") + c.path + "]\n" + c.written + "\n"),
                      std::string::npos)
                << result.keyfile();
            EXPECT_TRUE(result.skipped.empty());
        } else {
            EXPECT_TRUE(result.empty()) << result.keyfile();
            ASSERT_EQ(result.skipped.size(), 1u);
            EXPECT_NE(result.skipped[0].reason.find(c.reason), std::string::npos)
                << result.skipped[0].reason;
        }
    }
}

TEST_F(SettingsMappingTest, LocksFollowFinalisedNodesAndReadOnlyLayers) {
    const std::string screensaver = "org/gnome/desktop/screensaver";
    // A finalised group locks every key the schema knows below it.
    SettingsMapping::Result result =
        map({at(screensaver, prop("lock-delay", "xs:int", "300"), "zel:finalized=\"true\"")});
    EXPECT_EQ(result.lockedKeys.count("/org/gnome/desktop/screensaver/lock-delay"), 1u);
    EXPECT_EQ(result.lockedKeys.count("/org/gnome/desktop/screensaver/picture-uri"), 1u);
    EXPECT_EQ(result.keyfile(), "[" + screensaver + "]\nlock-delay=uint32 300\n");
    // Finalised in an earlier layer: read-only, still locked, the later value refused.
    result = map({at(screensaver, prop("lock-delay", "xs:int", "300", "zel:finalized=\"true\"")),
                  at(screensaver, prop("lock-delay", "xs:int", "5") +
                                      prop("idle-activation-enabled", "xs:boolean", "true"))});
    EXPECT_EQ(result.locks(), "/org/gnome/desktop/screensaver/lock-delay\n");
    EXPECT_NE(result.keyfile().find("lock-delay=uint32 300"), std::string::npos);
    // A value without a lock is a default; a lock without a value pins the schema's.
    result = map({at(screensaver, prop("lock-delay", "xs:int", "300")) +
                  at("org/gnome/desktop/interface",
                     "<prop zel:name=\"gtk-theme\" zel:type=\"xs:string\" "
                     "zel:finalized=\"true\"/>")});
    EXPECT_EQ(result.locks(), "/org/gnome/desktop/interface/gtk-theme\n");
    // A wrong value drops its lock too: it would pin the user's own value.
    result = map({at(screensaver, prop("lock-delay", "xs:int", "x", "zel:finalized=\"true\""))});
    EXPECT_TRUE(result.empty());
}

TEST_F(SettingsMappingTest, NamesDconfCannotHoldAreSkippedAndTheRestApplies) {
    for (const char* name : {"with space", "a=b", "[x]", "caf\xc3\xa9"}) {
        SCOPED_TRACE(name);
        const SettingsMapping::Result result =
            map({at("com/example", prop(name, "xs:int", "1") + prop("ok", "xs:int", "2"))});
        ASSERT_EQ(result.skipped.size(), 1u);
        EXPECT_EQ(result.skipped[0].names.back(), name);
        EXPECT_EQ(result.keyfile(), "[com/example]\nok=2\n");
    }
    EXPECT_EQ(schemas.closest("/org/gnome/desktop/screensaver/lock-dely"),
              "/org/gnome/desktop/screensaver/lock-delay");
}

TEST(SettingsFilesTest, DatabaseNamesProfilesAndFirstUserId) {
    for (const auto& [name, valid] : std::vector<std::pair<std::string, bool>>{
             {"hollin_1000", true}, {"hollin-1000", false}, {"", false}, {"a/b", false}}) {
        EXPECT_EQ(DconfDatabase::isValidName(name), valid) << name;
    }
    TempDir dir;
    writeFile(dir.path + "/site",
              "# the site\nuser-db:user\n  system-db:site  \nsystem-db:hollin_7\n"
              "file-db:/x\nsystem-db:local\n");
    MandatoryProfile profile(7, dir.path + "/user", {dir.path + "/missing", dir.path + "/site"});
    const std::string text = profile.text("hollin_7");
    EXPECT_EQ(text.substr(text.find('\n') + 1),
              "user-db:user\nsystem-db:hollin_7\nsystem-db:site\nsystem-db:local\n");
    EXPECT_FALSE(profile.remove("hollin_7"));
    writeFile(dir.path + "/login.defs", "# UID_MIN 5\nUID_MIN\t\t 2000\nUID_MAX 60000\n");
    EXPECT_EQ(FollowService::firstUserId(dir.path + "/login.defs"), 2000u);
    EXPECT_EQ(FollowService::firstUserId(dir.path + "/missing"), 1000u);
}

TEST(SettingsFilesTest, DatabaseIsCompiledOnlyWhenChangedAndTheOldFileInvalidated) {
    TempDir dir;
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent", 1);  // no real bus
    DconfDatabase database("hollin_7", dir.path);
    const std::string keyfile = "[org/x]\na=uint32 3\n";
    ASSERT_TRUE(database.write(keyfile, "/org/x/a\n"));
    EXPECT_FALSE(database.write(keyfile, "/org/x/a\n"));
    writeFile(dir.path + "/profile", "file-db:" + database.file() + "\n");
    const std::string read =
        "DCONF_PROFILE=" + dir.path + "/profile dconf read /org/x/a > " + dir.path + "/read";
    ASSERT_EQ(std::system(read.c_str()), 0);
    EXPECT_EQ(readFile(dir.path + "/read"), "uint32 3\n");

    // A session with the old file mapped must see it replaced.
    std::ifstream old(database.file(), std::ios::binary);
    ASSERT_TRUE(database.write("[org/x]\na=uint32 4\n", ""));
    char header[8] = {1};
    old.read(header, sizeof header);
    EXPECT_EQ(std::string(header, 8), std::string(8, '\0'));
    ASSERT_EQ(std::system(read.c_str()), 0);
    EXPECT_EQ(readFile(dir.path + "/read"), "uint32 4\n");

    EXPECT_TRUE(database.remove());
    EXPECT_FALSE(database.remove());
    EXPECT_EQ(listDir(dir.path), (std::vector<std::string>{"profile", "read"}));
}

TEST(SettingsFilesTest, ProfileIsOnlyRewrittenWhenChangedAndOnlyOursRemoved) {
    TempDir dir;
    MandatoryProfile profile(7, dir.path + "/run/user", {dir.path + "/site"});
    EXPECT_TRUE(profile.write("hollin_7"));
    EXPECT_FALSE(profile.write("hollin_7"));
    EXPECT_TRUE(profile.isOurs("hollin_7"));
    EXPECT_FALSE(profile.isOurs("hollin_8"));
    writeFile(profile.file(), "user-db:user\nsystem-db:hollin_7\n");  // the site's own
    EXPECT_FALSE(profile.remove("hollin_7"));
    EXPECT_EQ(readFile(profile.file()), "user-db:user\nsystem-db:hollin_7\n");
    EXPECT_TRUE(profile.write("hollin_7"));
    EXPECT_TRUE(profile.remove("hollin_7"));
}

TEST_F(SettingsMappingTest, CheckNamesUnknownKeysAndLocksTheSiteHoldsAlready) {
    TempDir dir;
    std::filesystem::create_directories(dir.path + "/site.d/locks");
    writeFile(dir.path + "/site.d/locks/00", "/org/gnome/desktop/screensaver/lock-delay \n# no\n");
    EXPECT_EQ(SettingsCheck::siteLocks({"system-db:site", "system-db:gone"}, dir.path),
              (std::set<std::string>{"/org/gnome/desktop/screensaver/lock-delay"}));
    tree = merged({at("org/gnome/desktop/screensaver", prop("lock-dely", "xs:int", "3"))});
    const std::vector<std::string> warnings = SettingsCheck::run(tree->getRoot());
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("did you mean /org/gnome/desktop/screensaver/lock-delay?"),
              std::string::npos)
        << warnings[0];
}

}  // namespace
