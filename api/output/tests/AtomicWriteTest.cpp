// SPDX-License-Identifier: LGPL-2.1-or-later
// Replacing a tree file: failing system calls, modes, symbolic links, and text
// that no XML document can carry.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "SyslogSeam.h"
#include "TreeText.h"
#include "output/AtomicFile.h"
#include "output/FileSystemCalls.h"
#include "output/NodeSerialize.h"

using namespace outputtest;

namespace {

const char kOldBytes[] = "old bytes, not even XML\n";

// The file's type and mode (of a link itself with link), 0 when there is none.
mode_t modeOf(const std::string& path, bool link = false) {
    struct stat status;
    return (link ? ::lstat : ::stat)(path.c_str(), &status) == 0 ? status.st_mode : 0;
}

class AtomicWriteTest : public ::testing::Test {
  protected:
    void SetUp() override {
        syslogseam::clear();
        property(root(mTree, "r"), "p", TypeString).setStringValue("new", "default");
    }
    void TearDown() override { FileSystemCalls::sCurrent = mSaved; }

    // Writes mTree over an old file; expects the old file and no other to be
    // left, and one error naming the file and saying why (what).
    void expectRefused(const std::string& what) {
        writeFile(mPath, kOldBytes);
        syslogseam::clear();
        mTree.serialize(mPath);
        FileSystemCalls::sCurrent = mSaved;
        EXPECT_EQ(kOldBytes, readFile(mPath));
        EXPECT_EQ(std::vector<std::string>{"tree.xml"}, testsupport::listDir(mScratch.path));
        const std::string logged = syslogseam::text();
        EXPECT_EQ(1u, syslogseam::messages().size()) << logged;
        EXPECT_EQ(0u, logged.find("Cannot write tree file " + mPath + ": " + what)) << logged;
    }
    // Refused in a file and in a text alike; a text gives the reason and logs nothing.
    void expectNodeRefused(const std::string& what) {
        expectRefused(what);
        syslogseam::clear();
        std::string text = "old";
        std::string problem;
        EXPECT_FALSE(NodeSerialize::toText(mTree.getRoot(), text, problem));
        EXPECT_EQ(0u, problem.find(what)) << problem;
        EXPECT_EQ("old", text);
        EXPECT_EQ("", syslogseam::text());
    }

    ScratchDirectory mScratch;
    const std::string mPath = mScratch.path + "/tree.xml";
    const FileSystemCalls mSaved = FileSystemCalls::sCurrent;
    Tree mTree;
};

TEST_F(AtomicWriteTest, AFailingCallKeepsTheOldFileAndLeavesNoTemporaryFile) {
    FileSystemCalls& calls = FileSystemCalls::sCurrent;
    calls.mOpen = [](const char*, int, mode_t) { return errno = EACCES, -1; };
    expectRefused("cannot create ");
    calls.mWrite = [](int, const void*, size_t) -> ssize_t { return errno = ENOSPC, -1; };
    expectRefused("cannot write ");
    calls.mWrite = [](int, const void*, size_t) -> ssize_t { return 0; };
    expectRefused("cannot write ");
    calls.mSync = [](int) { return errno = EIO, -1; };
    expectRefused("cannot flush ");
    calls.mClose = [](int fd) { return ::close(fd), errno = EIO, -1; };
    expectRefused("cannot close ");
    calls.mChmod = [](int, mode_t) { return errno = EPERM, -1; };
    expectRefused("cannot set the mode ");
    calls.mRename = [](const char*, const char*) { return errno = EXDEV, -1; };
    expectRefused("cannot rename ");
}

TEST_F(AtomicWriteTest, ShortAndInterruptedWritesAreCompleted) {
    static int sCalls;
    FileSystemCalls::sCurrent.mWrite = [](int fd, const void* data, size_t size) -> ssize_t {
        return ++sCalls % 3 == 0 ? (errno = EINTR, -1) : ::write(fd, data, size > 5 ? 5 : size);
    };
    property(*mTree.getRoot()->asStructuralNode(), "q", TypeString)
        .setStringValue(std::string(200000, 'v'), "default");
    mTree.serialize(mPath);
    Tree back;
    back.unserialize(mPath);
    EXPECT_EQ(treeText(mTree), treeText(back));
}

TEST_F(AtomicWriteTest, AnExistingFileKeepsItsSafeModeANewOneFollowsTheMask) {
    const mode_t previousMask = ::umask(027);
    mTree.serialize(mPath);
    EXPECT_EQ(S_IFREG | 0640u, modeOf(mPath));
    ::umask(077);
    // Never setuid, setgid or sticky, never writable by others.
    for (const auto& [before, after] : {std::pair<mode_t, mode_t>{0604, 0604},
                                        {04755, 0755},
                                        {02775, 0755},
                                        {0666, 0644},
                                        {01700, 0700}}) {
        ::chmod(mPath.c_str(), before);
        mTree.serialize(mPath);
        EXPECT_EQ(S_IFREG | after, modeOf(mPath)) << std::oct << before;
    }
    ::umask(previousMask);
}

TEST_F(AtomicWriteTest, SymbolicLinksAreWrittenThroughNotReplaced) {
    const std::string real = mScratch.path + "/real";
    ASSERT_EQ(0, ::mkdir(real.c_str(), 0755));
    writeFile(real + "/tree.xml", kOldBytes);
    ::chmod((real + "/tree.xml").c_str(), 0600);
    // A relative link to a link to the file, and a link to a file not there yet.
    ASSERT_EQ(0, ::symlink("real/tree.xml", (mScratch.path + "/hop").c_str()));
    ASSERT_EQ(0, ::symlink("hop", mPath.c_str()));
    ASSERT_EQ(0, ::symlink((real + "/later.xml").c_str(), (mScratch.path + "/dangling").c_str()));

    mTree.serialize(mPath);
    mTree.serialize(mScratch.path + "/dangling");
    EXPECT_EQ("", syslogseam::text());
    EXPECT_TRUE(S_ISLNK(modeOf(mPath, true)));
    EXPECT_TRUE(S_ISLNK(modeOf(mScratch.path + "/dangling", true)));
    EXPECT_EQ(S_IFREG | 0600u, modeOf(real + "/tree.xml"));
    EXPECT_NE(std::string::npos, readFile(real + "/tree.xml").find("\nnew\n"));
    EXPECT_EQ(readFile(real + "/tree.xml"), readFile(real + "/later.xml"));
    EXPECT_EQ((std::vector<std::string>{"later.xml", "tree.xml"}), testsupport::listDir(real));
}

// A file that must be new, in a folder others may write into: whatever was
// planted at its name (a link to a file of ours, a file of theirs) stays as
// it is, the write fails with EEXIST, and no temporary file is left.
TEST_F(AtomicWriteTest, AFileThatMustBeNewRefusesAnythingPlantedAtItsName) {
    const std::string victim = mScratch.path + "/victim";
    writeFile(victim, kOldBytes);
    for (const bool link : {true, false}) {
        if (link) {
            ASSERT_EQ(0, ::symlink(victim.c_str(), mPath.c_str()));
        } else {
            writeFile(mPath, "planted");
        }
        AtomicFile file(mPath, 0644, AtomicFile::Links::Refuse);
        EXPECT_FALSE(file.open() && file.write("new") && file.commit()) << link;
        EXPECT_EQ(EEXIST, file.getErrorNumber());
        EXPECT_EQ(link, S_ISLNK(modeOf(mPath, true)));
        EXPECT_EQ(kOldBytes, readFile(victim));
        EXPECT_EQ((std::vector<std::string>{"tree.xml", "victim"}),
                  testsupport::listDir(mScratch.path));
        ::unlink(mPath.c_str());
    }
    AtomicFile file(mPath, 0644, AtomicFile::Links::Refuse);
    ASSERT_TRUE(file.open() && file.write("new") && file.commit()) << file.getError();
    EXPECT_EQ("new", readFile(mPath));
}

TEST_F(AtomicWriteTest, TextXmlCannotCarryIsRefusedAndLogged) {
    StructuralNode& top = *mTree.getRoot()->asStructuralNode();
    PropertyNode& value = *top.getChild("p")->asPropertyNode();
    for (const std::string& text :
         {std::string("nul\0inside", 10), std::string("bell\a"), std::string("invalid \xff"),
          std::string("overlong \xc0\xaf"), std::string("surrogate \xed\xa0\x80"),
          std::string("cut \xe2\x82"), std::string("non-character \xef\xbf\xbe")}) {
        SCOPED_TRACE(text);
        value.setStringValue(text, "default");
        expectNodeRefused("node /r/p ");
    }
    value.setStringValue("fine", "default");
    PropertyNode& list = property(top, "list", TypeStringList);
    list.setListValue({"fine", "del\x7f is fine, \x1b is not"}, "default");
    expectNodeRefused("node /r/list ");
    list.setListValue({}, "default");
    PropertyNode& local = property(top, "local", TypeString);
    local.localise();
    local.setStringValue("v", "de\x02");
    expectNodeRefused("node /r/local ");
}

}  // namespace
