// SPDX-License-Identifier: LGPL-2.1-or-later
// The group id parse and the exported entry points; nothing here touches the
// kiosk paths (KioskInstallTest does).
#include <dlfcn.h>
#include <gtest/gtest.h>

#include "VELAppsWriter.h"

namespace {

TEST(KioskGroupTool, OnlyAPlainDecimalIdIsAGroup) {
    const std::pair<const char*, gid_t> groups[] = {
        {"0\n", 0}, {"1234\n", 1234}, {"  42  \n", 42}, {"4294967294", 4294967294u}};
    for (const auto& [text, expected] : groups) {
        gid_t id = 777;
        EXPECT_TRUE(parseGroupId(text, id)) << text;
        EXPECT_EQ(id, expected) << text;
    }
    for (const char* text : {"4294967295", "99999999999999999999999", "-1\n", "+5", "12abc", "1 2",
                             "", "\n", "0x10"}) {
        gid_t id = 777;
        EXPECT_FALSE(parseGroupId(text, id)) << text;
        EXPECT_EQ(id, 777u) << text;
    }
}

// The end-to-end cases live in data/hostile.xml; these are the ones a layer
// cannot carry (invalid UTF-8) and the edges of each rule.
TEST(KioskChecks, NamesAndSettingsTheToolsCannotTakeAreRefused) {
    const std::pair<std::string, const char*> names[] = {
        {std::string(255, 'x'), ""},
        {std::string(256, 'x'), "name longer than 255 bytes"},
        {"#x", "name starts with \"#\", which the table takes for a comment"},
        {"x#", ""},
        {"caf\xc3\xa9 \xc2\xa0", ""},  // letters and the no-break space are fine
        {"c1\xc2\x80", "name contains a C1 control character"},
        {"c1\xc2\x9f", "name contains a C1 control character"},
        {"bad\xff", "name contains invalid UTF-8"},
        {"overlong\xc1\x81", "name contains invalid UTF-8"},
        {"surrogate\xed\xa0\x80", "name contains invalid UTF-8"},
        {"cut\xe2\x82", "name contains invalid UTF-8"},
    };
    for (const auto& [name, reason] : names) {
        EXPECT_EQ(checkApplicationName(name), reason) << name;
    }
    const std::pair<std::string, std::string> settings[] = {
        {"PATH", "setting name PATH would change the shell reading the file"},
        {"LD_LIBRARY_PATH", "setting name LD_LIBRARY_PATH would change the shell reading the file"},
        {"PROMPT_COMMAND", "setting name PROMPT_COMMAND would change the shell reading the file"},
        {"BASH_ENV", "setting name BASH_ENV would change the shell reading the file"},
        {"Path", ""},
        {"LD", ""},
        {"homepage", ""},
    };
    for (const auto& [name, reason] : settings) {
        EXPECT_EQ(checkApplicationSettings({{name, "/x"}, {"pathapp", "/x"}}), reason) << name;
    }
    EXPECT_EQ(checkApplicationSettings({{"pathapp", "/x\xc2\x9b"}}),
              "value of setting pathapp contains a C1 control character");
    EXPECT_EQ(checkApplicationSettings({{"pathapp", "/x\xfe"}}),
              "value of setting pathapp contains invalid UTF-8");
}

TEST(KioskPlugin, EntryPointsAreExportedWithCLinkageAndAcceptNull) {
    void* library = dlopen(HOLLIN_BINARY_DIR "/lib/libvelapps.so", RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    EXPECT_NE(dlsym(library, "velAppsInitialise"), nullptr);
    for (const char* name : {"velAppsExecute", "Uninitialise"}) {
        auto entry = reinterpret_cast<void (*)(void*)>(dlsym(library, name));
        ASSERT_NE(entry, nullptr) << name;
        entry(nullptr);
    }
    dlclose(library);
}

}  // namespace
