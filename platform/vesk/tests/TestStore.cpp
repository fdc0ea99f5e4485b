#include "TestStore.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace vesk::legacy::store::test {

namespace fs = std::filesystem;

namespace {

void writeFile(const std::string& path, const std::string& data) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << data;
}

}  // namespace

void TestStore::SetUp() {
    char pattern[] = "/tmp/vesk-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    mTemp = pattern;
    mRoot = mTemp + "/store";
    makeFolder("");
    ASSERT_EQ(setenv("VESK_POLICY_STORE", mRoot.c_str(), 1), 0);
}

void TestStore::TearDown() {
    unsetenv("VESK_POLICY_STORE");
    fs::remove_all(mTemp);
}

void TestStore::makeFolder(const std::string& relative) {
    fs::create_directories(path(relative));
}

void TestStore::removeTree(const std::string& relative) {
    fs::remove_all(path(relative));
}

void TestStore::writeStoreFile(const std::string& relative, const std::string& data) {
    fs::create_directories(fs::path(path(relative)).parent_path());
    writeFile(path(relative), data);
}

void TestStore::writeLayer(const std::string& scope, const std::string& component,
                           const std::string& data, long mtime) {
    const std::string file = scope + "/" + component + ".xml";
    writeStoreFile(file, data);
    if (mtime >= 0) {
        const struct timespec times[2] = {{mtime, 0}, {mtime, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, path(file).c_str(), times, 0), 0);
    }
}

void TestStore::replaceLayer(const std::string& scope, const std::string& component,
                             const std::string& data) {
    makeFolder(scope);
    // Outside the scope folder, so that only the rename is seen there.
    const std::string temporary = mTemp + "/" + component + ".new";
    writeFile(temporary, data);
    fs::rename(temporary, path(scope + "/" + component + ".xml"));
}

void TestStore::removeLayer(const std::string& scope, const std::string& component) {
    ASSERT_TRUE(fs::remove(path(scope + "/" + component + ".xml")));
}

}  // namespace vesk::legacy::store::test
