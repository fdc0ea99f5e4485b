// SPDX-License-Identifier: LGPL-2.1-or-later
// The kept copies: names that stay inside the folder, a copy written only when
// it changed, and copies that another user could have written left unread.
#include "access/TreeCache.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <memory>
#include <set>
#include <string>

#include "TestFiles.h"
#include "model/PropertyNode.h"
#include "model/StructuralNode.h"
#include "model/Tree.h"

using namespace vesk::legacy;
namespace fs = std::filesystem;

namespace {

std::unique_ptr<Tree> treeWith(const std::string& value) {
    auto tree = std::make_unique<Tree>();
    auto* root = new StructuralNode("comp");
    tree->setRoot(root);
    auto* property = new PropertyNode("p", TypeString);
    property->setStringValue(value, "");
    root->adoptChild(*property);
    return tree;
}

class TreeCacheTest : public ::testing::Test {
  protected:
    testsupport::TempDir mScratch{"hollin-cache"};
    const std::string mFolder = mScratch.path;
};

TEST_F(TreeCacheTest, EveryNameStaysOneFileInsideTheFolder) {
    const std::string names[] = {"",
                                 ".",
                                 "..",
                                 "../../etc/passwd",
                                 "a/b",
                                 ".hidden",
                                 "a@b",
                                 "a%2Fb",
                                 "\n\x01\xff",
                                 std::string(300, 'x'),
                                 std::string(299, 'x') + "y"};
    std::set<std::string> files;
    for (const char* connection : {"", "kiosk.default"}) {
        const TreeCache cache(connection, mFolder);
        for (const std::string& component : names) {
            const fs::path file = cache.fileOf(component);
            EXPECT_EQ(file.parent_path(), mFolder) << component;
            EXPECT_LE(file.filename().string().size(), 255u) << component;
            EXPECT_NE(file.filename().string()[0], '.') << component;
            files.insert(file.string());
        }
    }
    EXPECT_EQ(files.size(), 2 * std::size(names)) << "two names share a file";
}

TEST_F(TreeCacheTest, CopyIsWrittenWhenItChangedAndReadOnlyWhenTrusted) {
    const TreeCache cache("", mFolder + "/sub/hollin");
    EXPECT_FALSE(cache.load("comp"));
    cache.store("comp", *treeWith("one"), {"default 1", "users/a\nb 2"}, 1);
    const std::string file = cache.fileOf("comp");
    struct stat first;
    ASSERT_EQ(stat(file.c_str(), &first), 0);
    EXPECT_EQ(first.st_mode & 07777, 0600u);
    struct stat folder;
    ASSERT_EQ(stat((mFolder + "/sub/hollin").c_str(), &folder), 0);
    EXPECT_EQ(folder.st_mode & 07777, 0700u);

    std::optional<TreeCache::Copy> copy = cache.load("comp");
    ASSERT_TRUE(copy);
    EXPECT_EQ(
        copy->tree->getRoot()->asStructuralNode()->getChild("p")->asPropertyNode()->getStringValue(
            "default"),
        "one");
    EXPECT_EQ(copy->stamps, (std::vector<std::string>{"default 1", "users/a%0Ab 2"}));

    const struct {
        const char* value;
        std::vector<std::string> stamps;
        std::uint64_t digest;
        bool rewritten;
    } steps[] = {
        {"one", {"default 1", "users/a\nb 2"}, 1, false},
        {"two", {"default 1", "users/a\nb 2"}, 2, true},  // rewritten within the stamp's second
        {"two", {"default 3"}, 2, true},
    };
    ino_t inode = first.st_ino;
    for (const auto& step : steps) {
        cache.store("comp", *treeWith(step.value), step.stamps, step.digest);
        struct stat now;
        ASSERT_EQ(stat(file.c_str(), &now), 0);
        EXPECT_EQ(now.st_ino != inode, step.rewritten) << step.value;
        inode = now.st_ino;
    }

    // The stamps say whom the copy was made for; an older copy that does not
    // is still read from the user's own folder.
    const std::string stampsFile = file.substr(0, file.size() - 4) + ".stamps";
    const std::string stamps = testsupport::readFile(stampsFile);
    const size_t user = stamps.find("\nuser ") + 6;
    const std::string recorded = stamps.substr(user, stamps.find('\n', user) - user);
    const struct {
        std::string stamps;
        bool served;
    } records[] = {
        {std::string(stamps).replace(user, recorded.size(), "mallory"), false},
        {std::string(stamps).replace(stamps.find("connection "), 11, "connection x"), false},
        {"hollin tree copy 1\n1\ndefault 1\n", true},
    };
    for (const auto& record : records) {
        testsupport::writeFile(stampsFile, record.stamps);
        EXPECT_EQ(cache.load("comp").has_value(), record.served) << record.stamps;
    }

    chmod(file.c_str(), 0620);
    EXPECT_FALSE(cache.load("comp")) << "writable by the group";
    chmod(file.c_str(), 0600);
    chmod((mFolder + "/sub/hollin").c_str(), 0777);
    EXPECT_FALSE(cache.load("comp")) << "in a folder anyone may write";
    EXPECT_FALSE(TreeCache("", "").load("comp"));
    EXPECT_NE(TreeCache::digest(TreeCache::digest(TreeCache::kDigestStart, "ab"), "c"),
              TreeCache::digest(TreeCache::digest(TreeCache::kDigestStart, "a"), "bc"));
}

}  // namespace
