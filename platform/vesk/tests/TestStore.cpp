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

std::string TestStore::userName() {
    const struct passwd* entry = getpwuid(getuid());
    return entry != nullptr ? entry->pw_name : "";
}

std::vector<std::string> TestStore::groupNames() {
    const struct passwd* entry = getpwuid(getuid());
    std::vector<gid_t> gids(256);
    int count = static_cast<int>(gids.size());
    if (entry == nullptr || getgrouplist(entry->pw_name, entry->pw_gid, gids.data(), &count) < 0) {
        return {};
    }
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i) {
        if (const struct group* group = getgrgid(gids[static_cast<size_t>(i)])) {
            names.push_back(group->gr_name);
        }
    }
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
    return names;
}

std::string TestStore::hostName() {
    char name[HOST_NAME_MAX + 1] = {};
    gethostname(name, sizeof name - 1);
    return name;
}

int TestStore::runInChild(const std::function<int()>& body) {
    const pid_t child = fork();
    if (child == 0) {
        alarm(10);
        _exit(body());
    }
    int waited = 0;
    if (child < 0 || waitpid(child, &waited, 0) != child || !WIFEXITED(waited)) {
        return -1;
    }
    return WEXITSTATUS(waited);
}

std::vector<std::string> TestStore::describe(PAPI* handle, const std::string& component,
                                             PAPIStatus& status) {
    status = -1;
    PAPILayerEntry* layers = papiReadComponentLayers(handle, component.c_str(), &status);
    std::vector<std::string> described;
    for (const PAPILayerEntry* layer = layers; layer != nullptr; layer = layer->next) {
        // Exactly size bytes: the data carries no NUL to stop at.
        described.push_back(std::string(layer->stamp) + "=" +
                            std::string(layer->data, static_cast<size_t>(layer->size)));
    }
    papiFreeLayerList(layers);
    return described;
}

}  // namespace vesk::legacy::store::test
