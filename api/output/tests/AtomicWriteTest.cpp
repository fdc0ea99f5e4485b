// Replacing a tree file: failing system calls, modes, symbolic links, and text
// that no XML document can carry.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "TreeText.h"
#include "model/PropertyNode.h"
#include "model/StructuralNode.h"
#include "model/Tree.h"
#include "output/FileSystemCalls.h"

using namespace vesk::legacy;
using namespace outputtest;

namespace {

const char kOldBytes[] = "old bytes, not even XML\n";

Tree& treeWith(Tree& tree, const std::string& value) {
    auto* root = new StructuralNode("r");
    tree.setRoot(root);
    auto* property = new PropertyNode("p", TypeString);
    property->setStringValue(value, "default");
    root->adoptChild(*property);
    return tree;
}

std::vector<std::string> entries(const std::string& directory) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(directory.c_str());
    while (const dirent* entry = dir ? ::readdir(dir) : nullptr) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    }
    if (dir) {
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

mode_t modeOf(const std::string& path) {
    struct stat status;
    return ::stat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
}

class AtomicWriteTest : public ::testing::Test {
  protected:
    void SetUp() override {
        mDirectory = makeTempDirectory();
        mPath = mDirectory + "/tree.xml";
        mSaved = FileSystemCalls::sCurrent;
        clearLog();
    }
    void TearDown() override {
        FileSystemCalls::sCurrent = mSaved;
        removeTree(mDirectory);
    }

    std::string mDirectory;
    std::string mPath;
    FileSystemCalls mSaved;
};

int sShortWrites = 0;

TEST_F(AtomicWriteTest, AFailingCallKeepsTheOldFileAndLeavesNoTemporaryFile) {
    struct Case {
        const char* call;
        void (*breakIt)(FileSystemCalls&);
    };
    const Case cases[] = {
        {"open",
         [](FileSystemCalls& c) {
             c.mOpen = [](const char*, int, mode_t) { return errno = EACCES, -1; };
         }},
        {"write",
         [](FileSystemCalls& c) {
             c.mWrite = [](int, const void*, size_t) -> ssize_t { return errno = ENOSPC, -1; };
         }},
        {"write of nothing",
         [](FileSystemCalls& c) {
             c.mWrite = [](int, const void*, size_t) -> ssize_t { return 0; };
         }},
        {"fsync", [](FileSystemCalls& c) { c.mSync = [](int) { return errno = EIO, -1; }; }},
        {"close",
         [](FileSystemCalls& c) {
             c.mClose = [](int fd) { return ::close(fd), errno = EIO, -1; };
         }},
        {"chmod",
         [](FileSystemCalls& c) { c.mChmod = [](int, mode_t) { return errno = EPERM, -1; }; }},
        {"rename",
         [](FileSystemCalls& c) {
             c.mRename = [](const char*, const char*) { return errno = EXDEV, -1; };
         }},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.call);
        writeFile(mPath, kOldBytes);
        clearLog();
        test.breakIt(FileSystemCalls::sCurrent);
        Tree tree;
        treeWith(tree, "new").serialize(mPath);
        FileSystemCalls::sCurrent = mSaved;

        EXPECT_EQ(kOldBytes, readFile(mPath));
        EXPECT_EQ(std::vector<std::string>{"tree.xml"}, entries(mDirectory));
        ASSERT_EQ(1u, loggedMessages().size()) << loggedText();
        EXPECT_EQ(0u, loggedMessages()[0].find("Cannot write tree file " + mPath + ": "));
    }
}

TEST_F(AtomicWriteTest, ShortAndInterruptedWritesAreCompleted) {
    sShortWrites = 0;
    FileSystemCalls::sCurrent.mWrite = [](int fd, const void* data, size_t size) -> ssize_t {
        if (++sShortWrites % 3 == 0) {
            return errno = EINTR, -1;
        }
        return ::write(fd, data, size > 5 ? 5 : size);
    };
    Tree tree;
    treeWith(tree, std::string(200000, 'v')).serialize(mPath);
    FileSystemCalls::sCurrent = mSaved;
    Tree back;
    back.unserialize(mPath);
    EXPECT_EQ(treeText(tree), treeText(back));
    EXPECT_EQ("", loggedText());
}

TEST_F(AtomicWriteTest, ModeOfAnExistingFileStaysAndANewFileFollowsTheMask) {
    Tree tree;
    treeWith(tree, "x");
    const mode_t previousMask = ::umask(027);
    tree.serialize(mPath);
    EXPECT_EQ(0640u, modeOf(mPath));

    ::chmod(mPath.c_str(), 0604);
    ::umask(077);
    tree.serialize(mPath);
    EXPECT_EQ(0604u, modeOf(mPath));
    ::umask(previousMask);
}

TEST_F(AtomicWriteTest, SymbolicLinksAreWrittenThroughNotReplaced) {
    ASSERT_EQ(0, ::mkdir((mDirectory + "/real").c_str(), 0755));
    writeFile(mDirectory + "/real/tree.xml", kOldBytes);
    ::chmod((mDirectory + "/real/tree.xml").c_str(), 0600);
    // A relative link to a link to the file, and a link to a file not there yet.
    ASSERT_EQ(0, ::symlink("real/tree.xml", (mDirectory + "/hop").c_str()));
    ASSERT_EQ(0, ::symlink("hop", mPath.c_str()));
    ASSERT_EQ(
        0, ::symlink((mDirectory + "/real/later.xml").c_str(), (mDirectory + "/dangling").c_str()));

    Tree tree;
    treeWith(tree, "through");
    tree.serialize(mPath);
    tree.serialize(mDirectory + "/dangling");
    EXPECT_EQ("", loggedText());

    struct stat status;
    ASSERT_EQ(0, ::lstat(mPath.c_str(), &status));
    EXPECT_TRUE(S_ISLNK(status.st_mode));
    ASSERT_EQ(0, ::lstat((mDirectory + "/dangling").c_str(), &status));
    EXPECT_TRUE(S_ISLNK(status.st_mode));
    EXPECT_EQ(0600u, modeOf(mDirectory + "/real/tree.xml"));
    const std::string written = readFile(mDirectory + "/real/tree.xml");
    EXPECT_NE(std::string::npos, written.find("\nthrough\n"));
    EXPECT_EQ(written, readFile(mDirectory + "/real/later.xml"));
    EXPECT_EQ((std::vector<std::string>{"later.xml", "tree.xml"}), entries(mDirectory + "/real"));
}

TEST_F(AtomicWriteTest, TextXmlCannotCarryIsRefusedAndLogged) {
    const std::string refused[] = {
        std::string("nul\0inside", 10),
        "bell\a",
        "escape\x1b[31m",
        "invalid \xff utf-8",
        "overlong \xc0\xaf",
        "surrogate \xed\xa0\x80",
        "truncated \xe2\x82",
        "non-character \xef\xbf\xbe",
    };
    for (const auto& text : refused) {
        SCOPED_TRACE(text);
        writeFile(mPath, kOldBytes);
        clearLog();
        Tree tree;
        treeWith(tree, text).serialize(mPath);
        EXPECT_EQ(kOldBytes, readFile(mPath));
        EXPECT_EQ(std::vector<std::string>{"tree.xml"}, entries(mDirectory));
        ASSERT_EQ(1u, loggedMessages().size());
        EXPECT_EQ(0u, loggedMessages()[0].find("Cannot write tree file " + mPath + ": node /r/p "));
    }
    // In a name, a locale or a list item, and with no old file to keep.
    Tree badName;
    badName.setRoot(new StructuralNode("bad\x01name"));
    auto* local = new PropertyNode("local", TypeString);
    local->localise();
    local->setStringValue("v", "de\x02");
    auto* list = new PropertyNode("list", TypeStringList);
    list->setListValue({"fine", "bad\x7f\xfe"}, "default");
    for (Node* node : {static_cast<Node*>(local), static_cast<Node*>(list)}) {
        Tree tree;
        auto* root = new StructuralNode("r");
        tree.setRoot(root);
        root->adoptChild(*node);
        clearLog();
        tree.serialize(mDirectory + "/new.xml");
        EXPECT_EQ(1u, loggedMessages().size());
    }
    clearLog();
    badName.serialize(mDirectory + "/new.xml");
    EXPECT_EQ(1u, loggedMessages().size());
    EXPECT_NE(std::string::npos, loggedText().find("node /bad?name "));
    EXPECT_EQ(std::vector<std::string>{"tree.xml"}, entries(mDirectory));
}

TEST_F(AtomicWriteTest, ADirectoryInThePlaceOfTheFileIsNotReplaced) {
    ASSERT_EQ(0, ::mkdir(mPath.c_str(), 0755));
    Tree tree;
    treeWith(tree, "x").serialize(mPath);
    EXPECT_EQ(1u, loggedMessages().size());
    struct stat status;
    ASSERT_EQ(0, ::stat(mPath.c_str(), &status));
    EXPECT_TRUE(S_ISDIR(status.st_mode));
}

}  // namespace
