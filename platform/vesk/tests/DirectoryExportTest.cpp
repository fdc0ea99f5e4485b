// hollinctl export-ldif, loaded with ldapadd into the private directory: the
// directory then serves every entity the same layers, in the same scopes and
// order, byte for byte, as the file store did; what it cannot hold is reported.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "DirectoryPolicyStore.h"
#include "TestSupport.h"

namespace vesk::legacy::store::test {
namespace {

namespace fs = std::filesystem;

const std::string kHollinctl = std::string(HOLLIN_BINARY_DIR) + "/bin/hollinctl";

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeFile(const std::string& path, const std::string& data) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << data;
}

// Every component's layers as "scope=data" (the stamp's time left out), for
// the user and for the kiosk entity.
std::vector<std::string> everything() {
    std::vector<std::string> all;
    for (const char* connection : {"", "kiosk.default"}) {
        PAPIStatus status = -1;
        PAPI* handle = papiInitialise(connection, &status);
        EXPECT_EQ(status, PAPISuccess) << connection;
        PAPINameEntry* names = papiListComponentNames(handle, "", &status);
        for (const PAPINameEntry* name = names; name != nullptr; name = name->next) {
            PAPILayerEntry* layers = papiReadComponentLayers(handle, name->name, &status);
            EXPECT_EQ(status, PAPISuccess) << name->name;
            for (const PAPILayerEntry* layer = layers; layer != nullptr; layer = layer->next) {
                const std::string stamp = layer->stamp;
                all.push_back(std::string(connection) + "|" + name->name + "|" +
                              stamp.substr(0, stamp.rfind(' ')) + "=" +
                              std::string(layer->data, static_cast<size_t>(layer->size)));
            }
            papiFreeLayerList(layers);
        }
        papiFreeStringList(names);
        papiDeinitialise(handle, &status);
    }
    return all;
}

TEST(DirectoryExportTest, ExportedStoreServesTheSameLayersFromTheDirectory) {
    if (!fs::exists(kHollinctl)) {
        GTEST_SKIP() << "hollinctl is not built";
    }
    std::string error;
    TestDirectory* directory = sharedDirectory(error);
    ASSERT_NE(directory, nullptr) << error;
    ASSERT_TRUE(directory->start(error)) << error;

    const std::string scratch = directory->folder() + "/export";
    const std::string store = scratch + "/store";
    const std::string user = "users/" + userName();
    writeFile(store + "/default/org.bytes.xml", std::string(" <a>\n\0\xff</a> ", 13));
    writeFile(store + "/default/empty.xml", "");
    writeFile(store + "/default/a,b+c.xml", "<specials/>");
    writeFile(store + "/default/caf\xc3\xa9.xml", "<utf8/>");
    writeFile(store + "/default/notes.txt", "not a layer");
    writeFile(store + "/groups/" + groupNames().front() + "/org.a.xml", "<group/>");
    writeFile(store + "/hosts/" + hostName() + "/org.a.xml", "<host/>");
    writeFile(store + "/" + user + "/org.a.xml", std::string(300, 'u'));
    writeFile(store + "/entities/kiosk.default/org.k.xml", "<kiosk/>");
    writeFile(store + "/entities/other/org.k.xml", "<other/>");
    // What a directory cannot hold.
    // Differs from Org.A only in case: the later name in byte order is left out.
    writeFile(store + "/default/Org.A.xml", "<capital/>");
    writeFile(store + "/default/org.a.xml", "<small/>");
    writeFile(store + "/default/\xff.xml", "<not utf-8/>");
    ASSERT_EQ(mkfifo((store + "/default/fifo.xml").c_str(), 0644), 0);

    struct Case {
        std::string store;
        int status;
        size_t leftOut;
    };
    const std::vector<Case> cases{{store, 1, 3}, {HOLLIN_SOURCE_DIR "/examples/store", 0, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.store);
        const std::string base =
            "ou=export" + std::to_string(&c - cases.data()) + "," + TestDirectory::kSuffix;
        const std::string ldif = scratch + "/policy.ldif";
        const std::string errors = scratch + "/errors";
        fs::remove(errors);
        ASSERT_EQ(TestDirectory::runTool(
                      {"/bin/sh", "-c", "exec \"$0\" export-ldif \"$1\" \"$2\" >\"$3\" 2>\"$4\"",
                       kHollinctl, c.store, base, ldif, errors},
                      scratch + "/sh.log"),
                  c.status)
            << readFile(errors);
        const std::string complaints = readFile(errors);
        EXPECT_EQ(static_cast<size_t>(std::count(complaints.begin(), complaints.end(), '\n')),
                  c.leftOut)
            << complaints;
        const std::string url = directory->url("");
        ASSERT_EQ(TestDirectory::runTool(
                      {"/usr/bin/ldapadd", "-x", "-H", url, "-D", TestDirectory::kAdminDn, "-w",
                       TestDirectory::kAdminPassword, "-f", ldif},
                      scratch + "/ldapadd.log"),
                  0)
            << readFile(scratch + "/ldapadd.log");

        if (c.leftOut > 0) {
            fs::remove(store + "/default/org.a.xml");
            fs::remove(store + "/default/\xff.xml");
            fs::remove(store + "/default/fifo.xml");
        }
        setenv("VESK_POLICY_STORE", c.store.c_str(), 1);
        const std::vector<std::string> fromFiles = everything();
        setenv("VESK_POLICY_STORE", directory->url(base).c_str(), 1);
        const std::vector<std::string> fromDirectory = everything();
        unsetenv("VESK_POLICY_STORE");
        EXPECT_FALSE(fromFiles.empty());
        EXPECT_EQ(fromDirectory, fromFiles);
    }
}

}  // namespace
}  // namespace vesk::legacy::store::test
