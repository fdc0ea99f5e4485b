// The file store as a TestPolicyStore, and the behaviour suite run on it.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "PolicyBehaviourTest.h"
#include "TestPolicyStore.h"

namespace vesk::legacy::store::test {

namespace fs = std::filesystem;

namespace {

class FilePolicyStore : public TestPolicyStore {
  public:
    void open() override {
        char pattern[] = "/tmp/vesk-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        mTemp = pattern;
        mRoot = mTemp + "/store";
        fs::create_directories(mRoot);
        ASSERT_EQ(setenv("VESK_POLICY_STORE", mRoot.c_str(), 1), 0);
    }

    void close() override {
        unsetenv("VESK_POLICY_STORE");
        if (!mTemp.empty()) {
            fs::remove_all(mTemp);
        }
    }

    void writeLayer(const std::string& scope, const std::string& component,
                    const std::string& data) override {
        fs::create_directories(mRoot + "/" + scope);
        std::ofstream(file(scope, component), std::ios::binary | std::ios::trunc) << data;
    }

    void replaceLayer(const std::string& scope, const std::string& component,
                      const std::string& data) override {
        fs::create_directories(mRoot + "/" + scope);
        // Outside the scope folder, so that only the rename is seen there.
        const std::string temporary = mTemp + "/" + component + ".new";
        std::ofstream(temporary, std::ios::binary | std::ios::trunc) << data;
        fs::rename(temporary, file(scope, component));
    }

    void removeLayer(const std::string& scope, const std::string& component) override {
        ASSERT_TRUE(fs::remove(file(scope, component)));
    }

    long long layerTime(const std::string& scope, const std::string& component) override {
        struct stat info;
        return stat(file(scope, component).c_str(), &info) == 0 ? info.st_mtime : -1;
    }

  private:
    std::string file(const std::string& scope, const std::string& component) const {
        return mRoot + "/" + scope + "/" + component + ".xml";
    }

    std::string mTemp;
    std::string mRoot;
};

}  // namespace

std::unique_ptr<TestPolicyStore> makeFilePolicyStore() {
    return std::make_unique<FilePolicyStore>();
}

INSTANTIATE_TEST_SUITE_P(File, PolicyBehaviourTest, ::testing::Values(&makeFilePolicyStore),
                         [](const auto&) { return std::string("store"); });

}  // namespace vesk::legacy::store::test
