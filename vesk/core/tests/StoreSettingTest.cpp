// SPDX-License-Identifier: LGPL-2.1-or-later
// The store setting file: what is taken from it and what makes it refused.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "StoreSetting.h"
#include "TestFiles.h"

using vesk::legacy::store::StoreSetting;

namespace {

TEST(StoreSetting, TakesTheFirstLineOfAFileOnlyItsOwnerMayWrite) {
    testsupport::TempDir scratch;
    const std::string path = scratch / "store.conf";
    const uid_t me = getuid();
    const struct {
        const char* text;
        mode_t mode;
        uid_t owner;  // the owner asked for
        const char *store, *why;
    } rows[] = {
        {"/srv/policy\n", 0644, me, "/srv/policy", ""},
        {"  /srv/policy \t\r\nsecond line\n", 0600, me, "/srv/policy", ""},
        {"ldap://a.example/dc=x ldap://b.example/dc=x", 0444, me,
         "ldap://a.example/dc=x ldap://b.example/dc=x", ""},
        {"\n/srv/policy\n", 0644, me, "", ""},  // an empty first line: the default
        {"", 0644, me, "", ""},
        {"/srv/policy\n", 0664, me, "", ": writable by others than its owner"},
        {"/srv/policy\n", 0646, me, "", ": writable by others than its owner"},
        {"/srv/policy\n", 0644, me + 1, "", ": not owned by root"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        unlink(path.c_str());
        testsupport::writeFile(path, row.text);
        chmod(path.c_str(), row.mode);
        std::string why;
        EXPECT_EQ(StoreSetting::read(path, row.owner, why), row.store);
        EXPECT_EQ(why, row.why[0] == '\0' ? "" : path + row.why);
    }
    std::string why;
    testsupport::writeFile(path, std::string(5000, 'x'));
    EXPECT_EQ(StoreSetting::read(path, me, why), "");
    EXPECT_EQ(why, path + ": the first line is longer than 4096 bytes");
    EXPECT_EQ(StoreSetting::read(scratch / "missing", me, why), "");  // no setting: no fault
    EXPECT_EQ(why, "");
    symlink(path.c_str(), (scratch / "link").c_str());
    EXPECT_EQ(StoreSetting::read(scratch / "link", me, why), "");
    EXPECT_NE(why, "");
    EXPECT_EQ(StoreSetting::read(scratch.path, me, why), "");
    EXPECT_EQ(why, scratch.path + ": not a regular file");
}

}  // namespace
