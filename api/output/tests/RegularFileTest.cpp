// SPDX-License-Identifier: LGPL-2.1-or-later
// Reading a whole file that anyone may have put in place: what is refused,
// and the limit, which holds to the byte.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "TreeText.h"
#include "output/RegularFile.h"

using namespace outputtest;

namespace {

const char kTooLarge[] = "over the limit";

TEST(RegularFile, ReadsAWholeFileUpToTheLimit) {
    ScratchDirectory scratch;
    const std::string path = scratch.path + "/file";
    // Longer than one read, with a NUL inside.
    const std::string bytes = std::string(200000, 'a') + '\0' + "end";
    writeFile(path, bytes);
    std::string text = "left from before";
    std::string problem;
    ASSERT_TRUE(readRegularFile(path, bytes.size(), kTooLarge, text, problem)) << problem;
    EXPECT_EQ(bytes, text);

    EXPECT_FALSE(readRegularFile(path, bytes.size() - 1, kTooLarge, text, problem));
    EXPECT_EQ(kTooLarge, problem);
}

TEST(RegularFile, RefusesWhatIsNoRegularFileWithoutHanging) {
    ScratchDirectory scratch;
    const std::string fifo = scratch.path + "/fifo";
    ASSERT_EQ(0, ::mkfifo(fifo.c_str(), 0600));
    const struct {
        std::string path;
        std::string problem;
    } cases[] = {
        {fifo, "not a regular file"},
        {scratch.path, "not a regular file"},
        {"/dev/zero", "not a regular file"},
        {scratch.path + "/missing", "No such file or directory"},
    };
    for (const auto& c : cases) {
        std::string text;
        std::string problem;
        EXPECT_FALSE(readRegularFile(c.path, 1 << 20, kTooLarge, text, problem)) << c.path;
        EXPECT_EQ(c.problem, problem) << c.path;
    }
}

}  // namespace
