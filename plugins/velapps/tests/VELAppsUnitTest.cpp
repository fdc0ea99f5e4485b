// The group id parse and the exported entry points; nothing here touches the
// kiosk paths (the naming rules are checked on them, in KioskInstallTest).
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>

#include "VELAppsWriter.h"

namespace {

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
