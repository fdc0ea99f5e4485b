// Checks of the writer's untrusted-input rules and of the exported entry
// points; nothing here touches the kiosk paths.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>

#include "VELAppsWriter.h"

namespace {

TEST(KioskNames, ApplicationNamesThatCannotBeFileNames) {
    struct Case {
        std::string name;
        const char* reason;  // "" when the name is accepted
    } cases[] = {
        {"app1", ""},
        {"B\xc3\xbcro tools", ""},
        {".hidden", ""},
        {"a$b`c\\", ""},  // a file name may hold these; the value check decides
        {"", "empty name"},
        {".", "name \".\" is not a file name"},
        {"..", "name \"..\" is not a file name"},
        {"a/b", "name contains \"/\""},
        {"/", "name contains \"/\""},
        {"a\nb", "name contains a line break"},
        {"a\rb", "name contains a line break"},
        {"a\tb", "name contains a control character"},
        {std::string("a\0b", 3), "name contains a control character"},
        {"a\x7f", "name contains a control character"},
        {"a\"b", "name contains a double quote"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(checkApplicationName(c.name), c.reason) << c.name;
}

TEST(KioskNames, SettingsThatCannotBeWrittenAsNameValueLines) {
    struct Case {
        std::string key, value;
        std::string reason;
    } cases[] = {
        {"label", "A b, c/d (e) 'f' & <g> #h %i", ""},
        {"_x9", "\xc3\xa9t\xc3\xa9", ""},
        {"x-y", "1", "invalid setting name \"x-y\""},
        {"9x", "1", "invalid setting name \"9x\""},
        {"x y", "1", "invalid setting name \"x y\""},
        {"x\ny", "1", "invalid setting name \"x\\x0ay\""},
        {"label", "a\"b", "value of setting label contains a double quote"},
        {"label", "a\\b", "value of setting label contains a backslash"},
        {"label", "$HOME", "value of setting label contains \"$\""},
        {"label", "`id`", "value of setting label contains a backquote"},
        {"label", "a\nb", "value of setting label contains a line break"},
        {"label", "a\rb", "value of setting label contains a line break"},
        {"label", "a\tb", "value of setting label contains a control character"},
        {"label", "a\x7f", "value of setting label contains a control character"},
    };
    for (const Case& c : cases) {
        ApplicationSettings settings{{"name", "app"}, {"pathapp", "/bin/x"}, {c.key, c.value}};
        EXPECT_EQ(checkApplicationSettings(settings), c.reason) << c.key << "=" << c.value;
    }
}

TEST(KioskGroupTool, OnlyAPlainDecimalIdIsAGroup) {
    struct Case {
        const char* text;
        bool ok;
        gid_t id;
    } cases[] = {
        {"0\n", true, 0},         {"1234\n", true, 1234},
        {"  42  \n", true, 42},   {"4294967294", true, 4294967294u},
        {"4294967295", false, 0}, {"99999999999999999999999", false, 0},
        {"-1\n", false, 0},       {"+5", false, 0},
        {"12abc", false, 0},      {"1 2", false, 0},
        {"", false, 0},           {"\n", false, 0},
        {"0x10", false, 0},
    };
    for (const Case& c : cases) {
        gid_t id = 777;
        EXPECT_EQ(parseGroupId(c.text, id), c.ok) << c.text;
        EXPECT_EQ(id, c.ok ? c.id : 777u) << c.text;
    }
}

TEST(KioskPlugin, EntryPointsAreExportedWithCLinkageAndAcceptNull) {
    void* library = dlopen(HOLLIN_BINARY_DIR "/lib/libvelapps.so", RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    auto initialise = reinterpret_cast<void* (*)()>(dlsym(library, "velAppsInitialise"));
    auto execute = reinterpret_cast<void (*)(void*)>(dlsym(library, "velAppsExecute"));
    auto uninitialise = reinterpret_cast<void (*)(void*)>(dlsym(library, "Uninitialise"));
    EXPECT_NE(initialise, nullptr);
    ASSERT_NE(execute, nullptr);
    ASSERT_NE(uninitialise, nullptr);
    execute(nullptr);
    uninitialise(nullptr);
    dlclose(library);
}

}  // namespace
