// The group id parse and the exported entry points; nothing here touches the
// kiosk paths (KioskInstallTest does, in its own mount namespace).
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
