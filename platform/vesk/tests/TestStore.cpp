#include "TestStore.h"

#include <fcntl.h>
#include <ftw.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>

namespace vesk::legacy::store::test {

namespace {

int removeEntry(const char* path, const struct stat*, int, struct FTW*) {
    return remove(path);
}

void writeFile(const std::string& path, const std::string& data) {
    FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr) << path;
    ASSERT_EQ(std::fwrite(data.data(), 1, data.size(), file), data.size());
    ASSERT_EQ(std::fclose(file), 0);
}

}  // namespace

void TestStore::SetUp() {
    char pattern[] = "/tmp/vesk-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    mTemp = pattern;
    mRoot = mTemp + "/store";
    ASSERT_EQ(mkdir(mRoot.c_str(), 0755), 0);
    ASSERT_EQ(setenv("VESK_POLICY_STORE", mRoot.c_str(), 1), 0);
}

void TestStore::TearDown() {
    unsetenv("VESK_POLICY_STORE");
    nftw(mTemp.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
}

void TestStore::makeFolder(const std::string& relative) {
    std::string partial = mRoot;
    size_t start = 0;
    while (start <= relative.size()) {
        const size_t slash = std::min(relative.find('/', start), relative.size());
        partial += "/" + relative.substr(start, slash - start);
        mkdir(partial.c_str(), 0755);
        start = slash + 1;
    }
}

void TestStore::removeTree(const std::string& relative) {
    nftw(path(relative).c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
}

void TestStore::writeLayer(const std::string& scope, const std::string& component,
                           const std::string& data, long mtime) {
    makeFolder(scope);
    const std::string file = path(scope + "/" + component + ".xml");
    writeFile(file, data);
    if (mtime >= 0) {
        const struct timespec times[2] = {{mtime, 0}, {mtime, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
    }
}

void TestStore::replaceLayer(const std::string& scope, const std::string& component,
                             const std::string& data) {
    makeFolder(scope);
    // Outside the scope folder, so that only the rename is seen there.
    const std::string temporary = mTemp + "/" + component + ".new";
    writeFile(temporary, data);
    ASSERT_EQ(rename(temporary.c_str(), path(scope + "/" + component + ".xml").c_str()), 0);
}

void TestStore::writeStoreFile(const std::string& relative, const std::string& data) {
    const size_t slash = relative.rfind('/');
    if (slash != std::string::npos) {
        makeFolder(relative.substr(0, slash));
    }
    writeFile(path(relative), data);
}

void TestStore::removeLayer(const std::string& scope, const std::string& component) {
    ASSERT_EQ(unlink(path(scope + "/" + component + ".xml").c_str()), 0);
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
    if (child < 0) {
        return -1;
    }
    if (child == 0) {
        alarm(10);
        _exit(body());
    }
    int waited = 0;
    if (waitpid(child, &waited, 0) != child || !WIFEXITED(waited)) {
        return -1;
    }
    return WEXITSTATUS(waited);
}

std::vector<std::string> TestStore::describe(PAPI* handle, const std::string& component,
                                             PAPIStatus& status) {
    status = 0;
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
